// One syncfs per file system that a folder of the copy lies on writes back
// every dirty page and inode there, the files and folders of this run among
// them, and commits the journal: fewer calls than an fdatasync per file and
// one per folder, and it covers what an earlier, killed run left in the
// cache. A trusted link may lead to another file system: its folders are
// noted through the descriptors held.
#include "platform/durable_writes.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/standin_internal.h"
#include "platform/stall_watch.h"

namespace {

bool SyncFileSystem(int folder) { return syncfs(folder) == 0 || standin::FailWithErrno(errno); }

}  // namespace

void DurableWrites::NoteFolder(const HeldFolder& folder, bool) {
  const int fd = standin::DescriptorOf(folder.Get());
  struct stat status;
  if (fd < 0 || fstat(fd, &status) != 0) {
    volumeUnknown_ = true;
    return;
  }
  for (const ScopedHandle& known : fileSystems_) {
    struct stat other;
    if (fstat(standin::DescriptorOf(known.Get()), &other) == 0 && other.st_dev == status.st_dev) {
      return;
    }
  }
  // syncfs takes no O_PATH descriptor: the folder itself, opened again.
  const int opened = openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (opened >= 0) {
    fileSystems_.emplace_back(standin::HandleOfDescriptor(opened));
  } else {
    volumeUnknown_ = true;
  }
}

void DurableWrites::Note(const HeldFolder&, const std::string&, bool) {}

bool DurableWrites::Flush() {
  const stall_watch::Pause flushing;  // as long as the disk needs: no stall
  const std::string root = standin::ToPosixPath(root_.c_str());
  if (standin::FaultInjected("QUORVEX_FAULT_FLUSH", root)) return false;
  // A folder whose file system cannot be told: every file system, then.
  if (volumeUnknown_) sync();
  for (const ScopedHandle& folder : fileSystems_) {
    if (!SyncFileSystem(standin::DescriptorOf(folder.Get()))) return false;
  }
  if (!fileSystems_.empty()) return true;
  const int folder = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  // No install directory, nothing written into it (a kit without SRC).
  if (folder < 0) return errno == ENOENT || standin::FailWithErrno(errno);
  const bool synced = SyncFileSystem(folder);
  close(folder);
  return synced;
}

std::string DurableWrites::TakeNote() { return ""; }
