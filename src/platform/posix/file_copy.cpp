#include "file_copy.h"

#include <errno.h>
#include <fcntl.h>

#include <vector>

#include "platform/stall_watch.h"

namespace standin {
namespace {

// The bytes through a buffer, until a read gives none; the count copied.
bool CopyByReadWrite(int from, int to, off_t& copied) {
  std::vector<char> buffer(1 << 17);
  for (;;) {
    ssize_t got = read(from, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return true;
    for (ssize_t done = 0; done < got;) {
      ssize_t put = write(to, buffer.data() + done, static_cast<size_t>(got - done));
      if (put < 0 && errno == EINTR) continue;
      if (put < 0) return false;
      done += put;
    }
    copied += got;
    stall_watch::Progress();
  }
}

// The kernel copies in place where it can; elsewhere (another file system, a
// file system without support) the bytes go through a buffer. A copy of
// another size than the source's is no copy of it: a read that ends early
// does not end the file.
bool CopyContent(int from, int to, off_t size) {
  off_t copied = 0;
  for (;;) {
    ssize_t n = copy_file_range(from, nullptr, to, nullptr, size_t{1} << 30, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n > 0) {
      copied += n;
      stall_watch::Progress();
      if (copied >= size) break;  // no call just to meet the end
      continue;
    }
    if (n == 0 && (copied > 0 || size == 0)) break;
    // The kernel cannot do it for these files: the rest through a buffer.
    if (n < 0 && copied > 0) return false;
    if (!CopyByReadWrite(from, to, copied)) return false;
    break;
  }
  if (copied != size) {
    errno = EIO;
    return false;
  }
  return true;
}

}  // namespace

bool WriteCopy(int source, const struct stat& status, int copy) {
  const struct timespec times[2] = {status.st_atim, status.st_mtim};
  return CopyContent(source, copy, status.st_size) && fchmod(copy, status.st_mode & 0777) == 0 &&
         futimens(copy, times) == 0;
}

int OpenFile(const char* path, int flags, mode_t mode) {
  // O_NONBLOCK keeps the open of a FIFO from waiting for a writer; reads and
  // writes of regular files ignore it, so it stays set.
  return open(path, flags | O_CLOEXEC | O_NONBLOCK, mode);
}

bool HasWriteBits(mode_t mode) { return (mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0; }

}  // namespace standin
