// GetFullPathNameA of the stand-in: a relative path is taken from the
// current folder, and, as on Windows, a path that does not end in a
// separator loses the dots and blanks its last name ends in. Unlike
// Windows, "." and ".." are left as they are; the path names the same file
// either way.
#include <errno.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "standin_internal.h"

DWORD WINAPI GetFullPathNameA(LPCSTR fileName, DWORD bufferLength, LPSTR buffer,
                              LPSTR* filePart) {
  if (!fileName || !*fileName) {
    SetLastError(ERROR_INVALID_NAME);
    return 0;
  }
  std::string full = standin::ToPosixPath(fileName);
  if (full[0] != '/') {
    char current[4096];
    if (!getcwd(current, sizeof current)) return standin::FailWithErrno(errno);
    std::string folder = current;
    if (folder.back() != '/') folder += '/';
    full = folder + full;
  }
  while (full.size() > 1 && (full.back() == '.' || full.back() == ' ')) {
    const size_t slash = full.find_last_of('/');
    const std::string last = full.substr(slash + 1);
    if (last == "." || last == "..") break;
    full.pop_back();
  }
  const DWORD needed = static_cast<DWORD>(full.size() + 1);
  if (bufferLength < needed) return needed;
  memcpy(buffer, full.c_str(), needed);
  if (filePart) {
    const size_t slash = full.find_last_of('/');
    *filePart = slash + 1 < full.size() ? buffer + slash + 1 : nullptr;
  }
  return needed - 1;
}
