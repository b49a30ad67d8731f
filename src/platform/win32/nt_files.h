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
constexpr ULONG kCompleteIfOplocked = 0x100;  // FILE_COMPLETE_IF_OPLOCKED
constexpr ULONG kOpenReparsePoint = 0x200000;  // FILE_OPEN_REPARSE_POINT

// Opens or creates name in folder; invalid with the last error set, or,
// where status is given, with the call's status there instead. A name is
// taken without case, as the Win32 calls take it. Only one name of the
// folder is taken: none with a separator or a colon. An open that asks
// for more than attributes and permissions does not wait for an oplock
// that another program holds: it fails as a file in use does
// (ERROR_SHARING_VIOLATION), and may be tried again.
ScopedHandle OpenRelative(HANDLE folder, const std::string& name, ACCESS_MASK access, ULONG share,
                          ULONG disposition, ULONG options,
                          ULONG attributes = FILE_ATTRIBUTE_NORMAL, LONG* status = nullptr,
                          bool* created = nullptr);

// Creates the folder name in folder with the permissions security gives,
// as CreateDirectoryA would with them; ERROR_ALREADY_EXISTS when something
// has the name.
ScopedHandle CreateFolderRelative(HANDLE folder, const std::string& name,
                                  PSECURITY_DESCRIPTOR security);

// Opens the alternate data stream stream of the file name in folder.
ScopedHandle OpenStreamRelative(HANDLE folder, const std::string& name, const std::string& stream,
                                ACCESS_MASK access, ULONG share, ULONG disposition, ULONG options,
                                LONG* status = nullptr);

// Gives file, opened with DELETE, the name name in folder, replacing what
// has it when replace is true. False with the last error set.
bool RenameRelative(HANDLE file, HANDLE folder, const std::string& name, bool replace);
