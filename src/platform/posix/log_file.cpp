#include "platform/log_file.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include "standin_internal.h"
#include "trusted_path.h"

bool AppendToLogFile(const std::string& path, const std::string& text) {
  standin::UniqueFd file(standin::OpenTrusted(standin::ToPosixPath(path.c_str()),
                                              O_WRONLY | O_APPEND | O_CREAT, 0644));
  if (!file.IsValid()) return false;
  for (size_t done = 0; done < text.size();) {
    const ssize_t put = write(file.Get(), text.data() + done, text.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    done += static_cast<size_t>(put);
  }
  return true;
}

// The texts of the codes that the stand-in sets, as Windows words them.
std::string SystemErrorMessage(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND: return "The system cannot find the file specified.";
    case ERROR_PATH_NOT_FOUND: return "The system cannot find the path specified.";
    case ERROR_ACCESS_DENIED: return "Access is denied.";
    case ERROR_SHARING_VIOLATION:
      return "The process cannot access the file because it is being used by another process.";
    case ERROR_FILE_EXISTS: return "The file exists.";
    case ERROR_ALREADY_EXISTS: return "Cannot create a file when that file already exists.";
    case ERROR_HANDLE_DISK_FULL: return "The disk is full.";
    case ERROR_WRITE_FAULT: return "The system cannot write to the specified device.";
    case ERROR_INVALID_NAME: return "The filename, directory name, or volume label syntax is incorrect.";
    case ERROR_DIRECTORY: return "The directory name is invalid.";
    case ERROR_NO_MORE_FILES: return "There are no more files.";
    case ERROR_FILENAME_EXCED_RANGE: return "The filename or extension is too long.";
    default: return "";
  }
}
