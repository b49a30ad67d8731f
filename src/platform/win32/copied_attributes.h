// The attributes that a copy of a file has: what CopyFileA gives it of the
// source's, and what a file's basic information can set.
#pragma once

#include <string>

#include "platform/win32.h"

const DWORD kCopiedAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                                FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// Gives the plain file that path names the copied attributes of
// sourceAttributes, unless it has them. They are read and set through one
// handle of the name itself, never of what a link leads to; with expected,
// only when that handle is the file expected describes (another file may
// have been put under the name meanwhile). False with the last error set
// when they cannot be made so.
bool GiveCopiedAttributes(const std::string& path, DWORD sourceAttributes,
                          const BY_HANDLE_FILE_INFORMATION* expected = nullptr);
