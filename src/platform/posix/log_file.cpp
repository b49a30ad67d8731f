#include "platform/log_file.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "file_copy.h"
#include "standin_internal.h"
#include "trusted_path.h"

ScopedHandle OpenLogIn(const HeldFolder& folder, const std::string& name, std::string& why) {
  if (!folder.IsHeld() || !standin::IsPlainName(name)) {
    why = "that cannot be opened (no folder)";
    return ScopedHandle();
  }
  const int at = standin::DescriptorOf(folder.Get());
  const int flags = O_WRONLY | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
  bool created = true;
  int fd = openat(at, name.c_str(), flags | O_CREAT | O_EXCL, 0644);
  if (fd < 0 && errno == EEXIST) {
    created = false;
    fd = openat(at, name.c_str(), flags);
  }
  if (fd < 0) {
    why = errno == ELOOP ? "a link" : "that cannot be opened (" + std::string(strerror(errno)) + ")";
    return ScopedHandle();
  }
  standin::UniqueFd file(fd);
  struct stat status;
  if (fstat(fd, &status) != 0) {
    why = "whose kind cannot be read";
  } else if (!S_ISREG(status.st_mode)) {
    why = "no plain file";
  } else if (status.st_nlink != 1) {
    why = "a file with other names";
  } else if (!created && !standin::IsTrustedOwner(status.st_uid)) {
    why = "a file that another account owns";
  } else {
    return ScopedHandle(standin::HandleOfDescriptor(file.Release()));
  }
  return ScopedHandle();
}

bool AppendToLog(HANDLE log, const std::string& text) {
  const int fd = standin::DescriptorOf(log);
  for (size_t done = 0; done < text.size();) {
    const ssize_t put = write(fd, text.data() + done, text.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    done += static_cast<size_t>(put);
  }
  return true;
}

std::string SystemErrorMessage(DWORD error) {
  char text[512];
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                      nullptr, error, 0, text, sizeof text, nullptr);
  return std::string(text, length);
}
