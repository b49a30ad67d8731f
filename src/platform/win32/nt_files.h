// File calls relative to an open folder: the name is looked up in that
// folder only, never through the path that led to it. NtCreateFile and
// NtSetInformationFile take a RootDirectory for that; the Win32 calls do
// not. Failures set the last error to the Win32 code of their status.
#pragma once

#include <string>

#include "platform/scoped_handle.h"
#include "platform/win32.h"

// NtCreateFile's dispositions and options (winternl.h).
constexpr ULONG kOpenExisting = 0x1;        // FILE_OPEN
constexpr ULONG kCreateNew = 0x2;           // FILE_CREATE
constexpr ULONG kFolderOnly = 0x1;          // FILE_DIRECTORY_FILE
constexpr ULONG kSynchronousIo = 0x20;      // FILE_SYNCHRONOUS_IO_NONALERT
constexpr ULONG kFileOnly = 0x40;           // FILE_NON_DIRECTORY_FILE
constexpr ULONG kOpenReparsePoint = 0x200000;  // FILE_OPEN_REPARSE_POINT

// Opens or creates name in folder; invalid with the last error set, or,
// where status is given, with the call's status there instead. A name is
// taken without case, as the Win32 calls take it.
ScopedHandle OpenRelative(HANDLE folder, const std::string& name, ACCESS_MASK access, ULONG share,
                          ULONG disposition, ULONG options,
                          ULONG attributes = FILE_ATTRIBUTE_NORMAL, LONG* status = nullptr);

// Gives file, opened with DELETE, the name name in folder, replacing what
// has it when replace is true. False with the last error set.
bool RenameRelative(HANDLE file, HANDLE folder, const std::string& name, bool replace);
