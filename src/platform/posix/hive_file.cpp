#include "hive_file.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace standin {

namespace {

const char kDefaultHivePath[] = "/var/lib/quorvex/HKLM.reg";
const mode_t kNewHiveMode = 0644;
const mode_t kNewFolderMode = 0755;

class UniqueFd {
 public:
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() {
    if (fd_ >= 0) close(fd_);
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Closes the descriptor now, reporting whether that worked.
  bool Close() {
    int fd = fd_;
    fd_ = -1;
    return close(fd) == 0;
  }

 private:
  int fd_;
};

LONG ErrorFromErrno(int error) {
  switch (error) {
    case EACCES:
    case EPERM:
    case EROFS: return ERROR_ACCESS_DENIED;
    case ENOENT:
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case ENOSPC:
    case EDQUOT: return ERROR_HANDLE_DISK_FULL;
    default: return ERROR_WRITE_FAULT;
  }
}

std::string FolderOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) { return path.substr(path.find_last_of('/') + 1); }

bool CreateFolders(const std::string& folder) {
  struct stat status;
  if (stat(folder.c_str(), &status) == 0) return true;
  if (errno != ENOENT) return false;
  const std::string parent = FolderOf(folder);
  if (parent != folder && !CreateFolders(parent)) return false;
  if (mkdir(folder.c_str(), kNewFolderMode) != 0) return errno == EEXIST;
  chmod(folder.c_str(), kNewFolderMode);  // whatever the umask
  return true;
}

LONG ReadHiveText(const std::string& path, std::string& text) {
  text.clear();
  UniqueFd file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!file.valid()) {
    if (errno == ENOENT || errno == ENOTDIR) return ERROR_FILE_NOT_FOUND;
    return (errno == EACCES || errno == EPERM) ? ERROR_ACCESS_DENIED : ERROR_BADDB;
  }
  char buffer[16384];
  while (true) {
    ssize_t count = read(file.get(), buffer, sizeof buffer);
    if (count == 0) return ERROR_SUCCESS;
    if (count < 0) {
      if (errno == EINTR) continue;
      return ERROR_BADDB;
    }
    text.append(buffer, static_cast<size_t>(count));
  }
}

LONG ParseHiveFile(const std::string& path, Hive& hive) {
  std::string text;
  LONG result = ReadHiveText(path, text);
  if (result == ERROR_FILE_NOT_FOUND) {
    hive = Hive();
    return ERROR_SUCCESS;
  }
  if (result != ERROR_SUCCESS) return result;
  return ParseHive(text, hive) ? ERROR_SUCCESS : ERROR_BADDB;
}

bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t count = write(fd, text.data() + done, text.size() - done);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return false;
    done += static_cast<size_t>(count);
  }
  return true;
}

// A hive that root rewrites keeps its owner; when that fails, root owning it
// is harmless.
void KeepOwner(int fd, const struct stat& existing) {
  if (geteuid() != 0) return;
  int ignored = fchown(fd, existing.st_uid, existing.st_gid);
  (void)ignored;
}

// Replaces the hive by text: a temporary file beside it, flushed, then
// renamed over it, and the folder flushed. A new hive is readable by all and
// writable by its owner; a replaced one keeps its mode and owner.
LONG ReplaceHive(const std::string& path, const std::string& folder, int folderFd,
                 const std::string& text) {
  const std::string temporary = folder + "/." + NameOf(path) + ".new";
  unlink(temporary.c_str());  // left behind by a writer that crashed
  UniqueFd file(open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                     kNewHiveMode));
  if (!file.valid()) return ErrorFromErrno(errno);

  struct stat existing;
  mode_t mode = kNewHiveMode;
  if (stat(path.c_str(), &existing) == 0) {
    mode = existing.st_mode & 07777;
    KeepOwner(file.get(), existing);
  }
  bool written = fchmod(file.get(), mode) == 0 && WriteAll(file.get(), text) &&
                 fsync(file.get()) == 0;
  int error = errno;
  if (!file.Close() && written) {
    written = false;
    error = errno;
  }
  if (written && rename(temporary.c_str(), path.c_str()) != 0) {
    written = false;
    error = errno;
  }
  if (!written) {
    unlink(temporary.c_str());
    return ErrorFromErrno(error);
  }
  fsync(folderFd);
  return ERROR_SUCCESS;
}

}  // namespace

std::string HivePath() {
  const char* path = getenv("QUORVEX_HKLM");
  return (path && *path) ? path : kDefaultHivePath;
}

LONG LoadHive(Hive& hive) { return ParseHiveFile(HivePath(), hive); }

bool CanWriteHive() {
  const std::string path = HivePath();
  const std::string folder = FolderOf(path);
  struct stat status;
  if (stat(path.c_str(), &status) == 0) {
    return access(path.c_str(), W_OK) == 0 && access(folder.c_str(), W_OK | X_OK) == 0;
  }
  // The nearest folder that exists must let us create the rest.
  for (std::string existing = folder;; existing = FolderOf(existing)) {
    if (stat(existing.c_str(), &status) == 0) {
      return S_ISDIR(status.st_mode) && access(existing.c_str(), W_OK | X_OK) == 0;
    }
    if (errno != ENOENT || FolderOf(existing) == existing) return false;
  }
}

LONG ChangeHive(const std::function<LONG(Hive& hive, bool& changed)>& change) {
  const std::string path = HivePath();
  const std::string folder = FolderOf(path);
  if (!CreateFolders(folder)) return ErrorFromErrno(errno);
  UniqueFd lock(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!lock.valid()) return ErrorFromErrno(errno);
  while (flock(lock.get(), LOCK_EX) != 0) {
    if (errno != EINTR) return ErrorFromErrno(errno);
  }
  Hive hive;
  LONG result = ParseHiveFile(path, hive);
  if (result != ERROR_SUCCESS) return result;
  bool changed = false;
  result = change(hive, changed);
  if (result != ERROR_SUCCESS || !changed) return result;
  return ReplaceHive(path, folder, lock.get(), FormatHive(hive));
}

}  // namespace standin
