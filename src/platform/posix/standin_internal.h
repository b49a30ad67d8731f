// Helpers shared by the stand-in's implementation files.
#pragma once

#include <sys/stat.h>

#include <string>

#include "platform/file_identity.h"
#include "win32_standin.h"

namespace standin {

// A Windows-style path as the POSIX calls take it: every "\" that is a
// separator (not the second byte of a double-byte character) becomes "/".
std::string ToPosixPath(const char* path);

// The attributes of what status describes: a folder is
// FILE_ATTRIBUTE_DIRECTORY, anything else FILE_ATTRIBUTE_ARCHIVE, and
// read-only is the absence of every write permission bit.
DWORD Attributes(const struct stat& status);

// Whether name names an entry of a folder as Windows would take it: a "\"
// in it that is no second byte of a double-byte character is a separator
// there.
bool IsPlainName(const std::string& name);

// Sets the thread's last error from an errno value and returns FALSE.
BOOL FailWithErrno(int error);

// Test faults: true, with ERROR_ACCESS_DENIED set, when the environment
// variable is set and its value is a part of path.
bool FaultInjected(const char* variable, const std::string& path);

// A file handle that owns the descriptor fd, and the descriptor that a
// file handle holds (-1 for none).
HANDLE HandleOfDescriptor(int fd);
int DescriptorOf(HANDLE handle);

// The locale's language and code page as Windows would report them.
bool LocaleIsJapanese();
UINT LocaleCodePage();

// A time as Windows gives it: 100-nanosecond intervals since 1601.
FILETIME ToFileTime(const struct timespec& time);

// What a listing shows of the file status describes (folder_identities.cpp).
FileIdentity IdentityOf(const struct stat& status);

}  // namespace standin
