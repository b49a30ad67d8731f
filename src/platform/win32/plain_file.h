// A file of the install tree changed only through a handle of its name
// itself, never of what a link there leads to, and only while that handle
// shows a plain file with one name: attributes belong to the file, so a
// change through a hard link that another account planted would reach
// another file.
#pragma once

#include <string>

#include "platform/held_folder.h"
#include "platform/scoped_handle.h"
#include "platform/win32.h"

// The attributes that a copy of a file has: what a copy gives it of the
// source's, and what a file's basic information can set.
const DWORD kCopiedAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                                FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// Opens the file name of folder with access and share (FILE_READ_ATTRIBUTES
// is added) when it is a plain file with one name, facts then describing
// it; with expected, only when it is the file that expected describes.
// Invalid otherwise, with the last error set. Wine shows its links by name
// only: the name's attributes are a second signal.
ScopedHandle OpenPlainFile(const HeldFolder& folder, const std::string& name, DWORD access,
                           DWORD share, BY_HANDLE_FILE_INFORMATION& facts,
                           const BY_HANDLE_FILE_INFORMATION* expected = nullptr);

// Sets the attributes of what file holds (0 becomes FILE_ATTRIBUTE_NORMAL).
bool SetAttributes(HANDLE file, DWORD attributes);

// Gives the plain file name of folder the copied attributes of
// sourceAttributes, unless it has them. False with the last error set when
// it cannot.
bool GiveCopiedAttributes(const HeldFolder& folder, const std::string& name,
                          DWORD sourceAttributes,
                          const BY_HANDLE_FILE_INFORMATION* expected = nullptr);

// Removes the plain file name of folder, read-only or not, unless another
// program holds it open. A link, a folder or a file with other names is
// left as it is: false.
bool RemovePlainFile(const HeldFolder& folder, const std::string& name);
