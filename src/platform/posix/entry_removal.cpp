// Removal natively. unlinkat takes a name, not a descriptor: the entry is
// looked at through a descriptor of its own first and removed only if the
// name still leads to that inode. The tests' faults: a removal fails as a
// file in use when QUORVEX_FAULT_REMOVE is a part of its path.
#include "platform/entry_removal.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "standin_internal.h"
#include "trusted_path.h"

namespace {

bool Same(const struct stat& a, const struct stat& b) {
  return a.st_ino == b.st_ino && a.st_dev == b.st_dev;
}

Removal Look(const HeldFolder& folder, const std::string& name, struct stat& status) {
  if (!folder.IsHeld() || !standin::IsPlainName(name)) return Removal::Absent;
  standin::UniqueFd fd(openat(standin::DescriptorOf(folder.Get()), name.c_str(),
                              O_PATH | O_NOFOLLOW | O_CLOEXEC));
  if (!fd.IsValid()) {
    if (errno == ENOENT || errno == ENOTDIR) return Removal::Absent;
    standin::FailWithErrno(errno);
    return Removal::Failed;
  }
  if (fstat(fd.Get(), &status) != 0) {
    standin::FailWithErrno(errno);
    return Removal::Failed;
  }
  return Removal::Removed;
}

Removal Unlink(const HeldFolder& folder, const std::string& name, const struct stat& looked,
               int flags) {
  const int at = standin::DescriptorOf(folder.Get());
  if (standin::FaultInjected("QUORVEX_FAULT_REMOVE", standin::ToPosixPath((folder.Path() + name).c_str()))) {
    SetLastError(ERROR_SHARING_VIOLATION);
    return Removal::Failed;
  }
  struct stat now;
  if (fstatat(at, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0 || !Same(now, looked)) {
    return Removal::Kept;
  }
  if (unlinkat(at, name.c_str(), flags) == 0) return Removal::Removed;
  if (errno == ENOENT) return Removal::Absent;
  if (errno == ENOTEMPTY || errno == EEXIST) return Removal::Kept;
  standin::FailWithErrno(errno);
  return Removal::Failed;
}

}  // namespace

Removal RemoveFileIfUnchanged(const HeldFolder& folder, const std::string& name,
                              const FileIdentity& expected) {
  struct stat status;
  const Removal looked = Look(folder, name, status);
  if (looked != Removal::Removed) return looked;
  if (!S_ISREG(status.st_mode) || standin::IdentityOf(status) != expected) return Removal::Kept;
  return Unlink(folder, name, status, 0);
}

Removal RemoveEmptyFolder(const HeldFolder& parent, const std::string& name) {
  struct stat status;
  const Removal looked = Look(parent, name, status);
  if (looked != Removal::Removed) return looked;
  if (!S_ISDIR(status.st_mode)) return Removal::Kept;
  return Unlink(parent, name, status, AT_REMOVEDIR);
}

bool RunsAsAdministrator() { return geteuid() == 0; }
