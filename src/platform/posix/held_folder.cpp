// Held folders natively: O_PATH descriptors, and every call relative to
// one with O_NOFOLLOW. A link is followed only when root or the running
// user owns it, and its target is resolved by the same rule.
#include "platform/held_folder.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "standin_internal.h"
#include "trusted_path.h"

namespace {

using standin::UniqueFd;

const int kFolderFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;

ScopedHandle Held(int fd) {
  return fd < 0 ? ScopedHandle() : ScopedHandle(standin::HandleOfDescriptor(fd));
}

// What the entry name of folder is, once opened or refused; fd is set on
// Enter.
FolderEntry Look(int folder, const std::string& name, UniqueFd& fd, std::string* why) {
  struct stat status;
  // A folder that another run creates between the open and the look is
  // opened again.
  for (int attempt = 0;; ++attempt) {
    fd = UniqueFd(openat(folder, name.c_str(), kFolderFlags | O_NOFOLLOW));
    // O_PATH with O_NOFOLLOW opens a link itself.
    if (fd.IsValid() && fstat(fd.Get(), &status) == 0 && S_ISDIR(status.st_mode)) {
      return FolderEntry::Enter;
    }
    fd.Reset();
    if (fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT || errno == ENOTDIR) return FolderEntry::Absent;
      if (why) *why = "that cannot be opened";
      return FolderEntry::Refused;
    }
    if (!S_ISDIR(status.st_mode) || attempt == 3) break;
  }
  if (S_ISDIR(status.st_mode)) {
    if (why) *why = "that cannot be opened";
    return FolderEntry::Refused;
  }
  if (!S_ISLNK(status.st_mode)) return FolderEntry::NotAFolder;
  if (!standin::IsTrustedOwner(status.st_uid)) {
    // What the link says, read relative to the folder that holds it.
    char target[PATH_MAX];
    const ssize_t length = readlinkat(folder, name.c_str(), target, sizeof target);
    if (why) {
      *why = length > 0 && static_cast<size_t>(length) < sizeof target
                 ? "to " + std::string(target, static_cast<size_t>(length)) + " that another account made"
                 : "that another account made";
    }
    return FolderEntry::Refused;
  }
  fd = UniqueFd(standin::OpenTrustedAt(folder, name, kFolderFlags));
  if (fd.IsValid()) return FolderEntry::Enter;
  if (errno == ENOENT) return FolderEntry::Absent;
  if (errno == ENOTDIR) return FolderEntry::NotAFolder;
  if (why) *why = errno == EACCES ? "that another account made" : "that cannot be opened";
  return FolderEntry::Refused;
}

std::string ChildPath(const std::string& folder, const std::string& name) {
  return folder + name + '\\';
}

}  // namespace


HeldFolder HeldFolder::OpenTop(const std::string& top, FolderEntry* entry) {
  return Open(top, entry);
}

HeldFolder HeldFolder::HoldAgain() const {
  HeldFolder again(path_);
  const int fd = IsHeld() ? fcntl(standin::DescriptorOf(Get()), F_DUPFD_CLOEXEC, 0) : -1;
  if (fd >= 0) again.handle_ = Held(fd);
  return again;
}

HeldFolder HeldFolder::Open(const std::string& path, FolderEntry* entry, std::string* why) {
  HeldFolder folder(AsFolderPath(path));
  UniqueFd parent;
  std::string name;
  FolderEntry found = FolderEntry::Absent;
  UniqueFd fd;
  const std::string posix = standin::ToPosixPath(path.c_str());
  if (posix.find_first_not_of('/') == std::string::npos) {
    fd = UniqueFd(open(posix.empty() ? "." : "/", kFolderFlags));
    found = fd.IsValid() ? FolderEntry::Enter : FolderEntry::Refused;
  } else if (standin::OpenParent(posix, parent, name)) {
    found = Look(parent.Get(), name, fd, why);
  } else if (errno == EACCES) {
    if (why) *why = "that another account made";
    found = FolderEntry::Refused;
  }
  if (found == FolderEntry::Enter) folder.handle_ = Held(fd.Release());
  if (entry) *entry = found;
  return folder;
}

FolderEntry HeldFolder::Enter(const std::string& name, HeldFolder& child, std::string* why) const {
  child = HeldFolder(ChildPath(path_, name));
  if (!IsHeld() || !standin::IsPlainName(name)) return FolderEntry::Absent;
  UniqueFd fd;
  const FolderEntry entry = Look(standin::DescriptorOf(Get()), name, fd, why);
  if (entry == FolderEntry::Enter) child.handle_ = Held(fd.Release());
  return entry;
}

bool HeldFolder::Create(const std::string& name, HeldFolder& child) const {
  child = HeldFolder(ChildPath(path_, name));
  const std::string path = path_ + name;
  if (standin::FaultInjected("QUORVEX_FAULT_MKDIR", standin::ToPosixPath(path.c_str()))) {
    return false;
  }
  if (!IsHeld() || !standin::IsPlainName(name)) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return false;
  }
  const int folder = standin::DescriptorOf(Get());
  if (mkdirat(folder, name.c_str(), 0777) != 0) {
    if (errno == EEXIST) SetLastError(ERROR_ALREADY_EXISTS);
    else standin::FailWithErrno(errno);
    return false;
  }
  const int fd = openat(folder, name.c_str(), kFolderFlags | O_NOFOLLOW);
  if (fd < 0) return standin::FailWithErrno(errno);
  child.handle_ = Held(fd);
  return true;
}

ScopedHandle HeldFolder::OpenForReading(const std::string& name, FILETIME* lastWrite) const {
  if (!IsHeld() || !standin::IsPlainName(name)) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return ScopedHandle();
  }
  const int folder = standin::DescriptorOf(Get());
  // The entry itself: what a link leads to is never read (ELOOP), and a
  // file with other names may be anyone's. The replace moves over the entry.
  const int flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW;
  int fd = openat(folder, name.c_str(), flags);
  struct stat status {};
  if (fd >= 0 && (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_nlink != 1)) {
    const int error = S_ISDIR(status.st_mode) ? EISDIR : status.st_mode ? ELOOP : errno;
    close(fd);
    fd = -1;
    errno = error;
  }
  if (fd < 0) {
    if (errno == EISDIR) SetLastError(ERROR_ACCESS_DENIED);
    else if (errno == ELOOP) SetLastError(ERROR_CANT_ACCESS_FILE);
    else standin::FailWithErrno(errno);
    return ScopedHandle();
  }
  if (lastWrite) *lastWrite = standin::ToFileTime(status.st_mtim);
  return Held(fd);
}

bool HeldFolder::QueryVolume(VolumeSpace& space) const {
  if (!IsHeld()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  // Both work on the O_PATH descriptor itself.
  const int folder = standin::DescriptorOf(Get());
  struct stat status;
  struct statvfs volume;
  if (fstat(folder, &status) != 0 || fstatvfs(folder, &volume) != 0) {
    return standin::FailWithErrno(errno);
  }
  space.volume = static_cast<uint64_t>(status.st_dev);
  space.allocationUnit = volume.f_frsize ? volume.f_frsize : volume.f_bsize;
  space.freeToCaller = static_cast<uint64_t>(volume.f_bavail) * space.allocationUnit;
  return true;
}

std::string OwnNameOf(HANDLE, const std::string& name) { return name; }
