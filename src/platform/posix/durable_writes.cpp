// One syncfs on the install directory's file system writes back every dirty
// page and inode there, the files and folders of this run among them, and
// commits the journal: fewer calls than an fdatasync per file and one per
// folder, and it covers what an earlier, killed run left in the cache.
#include "platform/durable_writes.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include "platform/posix/standin_internal.h"

void DurableWrites::Note(const std::string&) {}

bool DurableWrites::Flush() {
  const std::string root = standin::ToPosixPath(root_.c_str());
  if (standin::FaultInjected("QUORVEX_FAULT_FLUSH", root)) return false;
  const int folder = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  // No install directory, nothing written into it (a kit without SRC).
  if (folder < 0) return errno == ENOENT || standin::FailWithErrno(errno);
  const bool synced = syncfs(folder) == 0;
  const int error = errno;
  close(folder);
  return synced || standin::FailWithErrno(error);
}
