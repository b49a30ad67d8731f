#include "trusted_path.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <deque>

namespace standin {
namespace {

constexpr int kMostLinks = 40;  // as the kernel allows

// Puts the components of path at the front of queue, in order.
void PushFront(std::deque<std::string>& queue, const std::string& path) {
  std::deque<std::string> parts;
  for (size_t start = 0; start <= path.size();) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    const std::string part = path.substr(start, end - start);
    if (!part.empty() && part != ".") parts.push_back(part);
    start = end + 1;
  }
  queue.insert(queue.begin(), parts.begin(), parts.end());
}

int OpenRoot(bool absolute) { return open(absolute ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC); }

// The target of the link name in folder, when its owner is trusted. The
// link is opened itself, so its owner and its target are of one link.
bool ReadTrustedLink(int folder, const std::string& name, std::string& target, int notALink) {
  UniqueFd link(openat(folder, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
  struct stat status;
  if (!link.IsValid() || fstat(link.Get(), &status) != 0) return false;
  if (!S_ISLNK(status.st_mode)) {
    errno = notALink;
    return false;
  }
  if (!IsTrustedOwner(status.st_uid)) {
    errno = EACCES;
    return false;
  }
  char buffer[PATH_MAX];
  const ssize_t length = readlinkat(link.Get(), "", buffer, sizeof buffer);
  if (length < 0 || static_cast<size_t>(length) >= sizeof buffer) return false;
  target.assign(buffer, static_cast<size_t>(length));
  return true;
}

// Walks queue from folder down to the last component, which it leaves in
// name.
bool WalkToParent(UniqueFd& folder, std::deque<std::string>& queue, std::string& name, int& links) {
  for (;;) {
    if (queue.empty()) {
      name = ".";
      return true;
    }
    const std::string part = queue.front();
    queue.pop_front();
    if (queue.empty()) {
      name = part;
      return true;
    }
    UniqueFd next(openat(folder.Get(), part.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (next.IsValid()) {
      folder = std::move(next);
      continue;
    }
    const int error = errno;
    if (error != ELOOP && error != ENOTDIR) return false;
    std::string target;
    if (!ReadTrustedLink(folder.Get(), part, target, error)) return false;
    if (++links > kMostLinks) {
      errno = ELOOP;
      return false;
    }
    if (!target.empty() && target[0] == '/') folder = UniqueFd(OpenRoot(true));
    if (!folder.IsValid()) return false;
    PushFront(queue, target);
  }
}

}  // namespace

bool IsTrustedOwner(uid_t owner) { return owner == 0 || owner == geteuid(); }

bool OpenParent(const std::string& path, UniqueFd& folder, std::string& name) {
  std::deque<std::string> queue;
  PushFront(queue, path);
  folder = UniqueFd(OpenRoot(!path.empty() && path[0] == '/'));
  int links = 0;
  return folder.IsValid() && WalkToParent(folder, queue, name, links);
}

// The folder of the last absolute path opened, kept open, so that the files
// of one folder that follow each other open with one call. It serves only
// while its path still names that very folder (device and inode): a folder
// removed, renamed or replaced since is walked again, by the rule.
struct LastFolder {
  std::string path;  // ends in "/"
  UniqueFd folder;
  dev_t device = 0;
  ino_t inode = 0;
};
thread_local LastFolder lastFolder;

bool StillTheLastFolder(const std::string& path) {
  struct stat status;
  return lastFolder.folder.IsValid() && lastFolder.path == path &&
         stat(path.c_str(), &status) == 0 && status.st_dev == lastFolder.device &&
         status.st_ino == lastFolder.inode;
}

int OpenTrusted(const std::string& path, int flags, mode_t mode) {
  const size_t slash = path.find_last_of('/');
  const std::string name = slash == std::string::npos ? "" : path.substr(slash + 1);
  if (path.empty() || path[0] != '/' || name.empty() || name == "." || name == "..") {
    return OpenTrustedAt(AT_FDCWD, path, flags, mode);
  }
  const std::string folderPath = path.substr(0, slash + 1);
  if (!StillTheLastFolder(folderPath)) {
    UniqueFd folder(OpenTrustedAt(AT_FDCWD, folderPath, O_PATH | O_DIRECTORY));
    struct stat status;
    if (!folder.IsValid() || fstat(folder.Get(), &status) != 0) {
      return OpenTrustedAt(AT_FDCWD, path, flags, mode);  // which says why
    }
    lastFolder.path = folderPath;
    lastFolder.folder = std::move(folder);
    lastFolder.device = status.st_dev;
    lastFolder.inode = status.st_ino;
  }
  return OpenTrustedAt(lastFolder.folder.Get(), name, flags, mode);
}

int OpenTrustedAt(int at, const std::string& path, int flags, mode_t mode) {
  // A plain name in an open folder that is no link opens with one call.
  if (at != AT_FDCWD && !path.empty() && path.find('/') == std::string::npos && path != "." &&
      path != "..") {
    const int fd = openat(at, path.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, mode);
    struct stat status;
    if (fd >= 0 && (!(flags & O_PATH) || (fstat(fd, &status) == 0 && !S_ISLNK(status.st_mode)))) {
      return fd;
    }
    const int error = fd >= 0 ? ELOOP : errno;
    if (fd >= 0) close(fd);
    if (error != ELOOP && error != ENOTDIR) {
      errno = error;
      return -1;
    }
  }
  UniqueFd folder;
  std::string name;
  std::deque<std::string> queue;
  PushFront(queue, path);
  const bool absolute = !path.empty() && path[0] == '/';
  folder = UniqueFd(absolute || at == AT_FDCWD ? OpenRoot(absolute)
                                                : fcntl(at, F_DUPFD_CLOEXEC, 0));
  int links = 0;
  for (;;) {
    if (!folder.IsValid() || !WalkToParent(folder, queue, name, links)) return -1;
    UniqueFd opened(openat(folder.Get(), name.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, mode));
    int error = errno;
    if (opened.IsValid()) {
      // O_PATH with O_NOFOLLOW opens a link itself rather than failing.
      struct stat status;
      if (!(flags & O_PATH) || fstat(opened.Get(), &status) != 0 || !S_ISLNK(status.st_mode)) {
        return opened.Release();
      }
      error = ELOOP;
    }
    if (error != ELOOP && error != ENOTDIR) {
      errno = error;
      return -1;
    }
    std::string target;
    if (!ReadTrustedLink(folder.Get(), name, target, error)) return -1;
    if (++links > kMostLinks) {
      errno = ELOOP;
      return -1;
    }
    if (!target.empty() && target[0] == '/') folder = UniqueFd(OpenRoot(true));
    PushFront(queue, target);
  }
}

}  // namespace standin
