// The replace in the stand-in: the copy is written to its temporary file
// beside the destination while holding an exclusive flock on it, and renamed
// over the destination once complete. A temporary file whose lock can be
// taken was left by a writer that died: it is removed and written afresh.
// While a live writer holds it, the copy goes to a file of a unique name
// instead.
// The rename replaces a symbolic link at the destination rather than
// writing through it.
//
// A destination that already holds the source's bytes is not written again
// (rsync's quick check, confirmed by content): a regular file with a single
// link, of the source's size and last-write time, whose bytes are equal,
// only gets the permission bits and times a copy would have. The result is
// the same as a replace, at the price of a read.
#include "platform/replace_file.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

#include "file_copy.h"
#include "platform/kill_points.h"
#include "standin_internal.h"
#include "trusted_path.h"

namespace {

using standin::UniqueFd;

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

// Whether fd is still the file that name names in folder.
bool StillNamed(int fd, int folder, const std::string& name) {
  struct stat opened, named;
  return fstat(fd, &opened) == 0 &&
         fstatat(folder, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
         opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

// Creates the temporary file name in folder, empty and locked, removing one
// that a dead writer left there. -1 when a live writer holds it, when
// something else has that name, or on failure.
int ClaimTemporaryFile(int folder, const std::string& name) {
  for (int attempt = 0; attempt < 4; ++attempt) {
    UniqueFd file(
        openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    const bool created = file.IsValid();
    if (!created) {
      if (errno != EEXIST) return -1;
      file = UniqueFd(openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
      if (!file.IsValid()) {
        if (errno == ENOENT) continue;  // its writer finished meanwhile
        return -1;
      }
    }
    if (flock(file.Get(), LOCK_EX | LOCK_NB) != 0) return -1;
    // Between the open and the lock its writer may have renamed it over
    // its destination, or a claimer removed it: it must not be written.
    if (!StillNamed(file.Get(), folder, name)) continue;
    if (created) return file.Release();
    struct stat status;
    if (fstat(file.Get(), &status) != 0 || !S_ISREG(status.st_mode)) return -1;
    unlinkat(folder, name.c_str(), 0);  // under its lock: its writer is gone
  }
  return -1;
}

// A new file of a unique name in folder, base and six characters.
int CreateUniqueFile(int folder, const std::string& base, std::string& name) {
  static unsigned long long counter = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    unsigned long long seed = (static_cast<unsigned long long>(now.tv_nsec) << 20) ^
                              (static_cast<unsigned long long>(getpid()) << 8) ^ ++counter;
    name = base + "-";
    for (int i = 0; i < 6; ++i, seed /= 36) name += "0123456789abcdefghijklmnopqrstuvwxyz"[seed % 36];
    const int fd =
        openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

// Opens a new file for the copy in folder: the temporary file of its own
// name, or a file of a unique name. Sets name to it; -1 with the last error
// set.
int OpenCopyFile(int folder, const std::string& temporaryName, std::string& name) {
  if (!temporaryName.empty()) {
    name = temporaryName;
    const int fd = ClaimTemporaryFile(folder, name);
    if (fd >= 0) return fd;
  }
  const int fd = CreateUniqueFile(folder, temporaryName.empty() ? "~q" : temporaryName, name);
  if (fd < 0) standin::FailWithErrno(errno);
  return fd;
}

bool SameTime(const struct timespec& a, const struct timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

bool ReadFully(int fd, char* buffer, size_t size) {
  for (size_t done = 0; done < size;) {
    const ssize_t got = read(fd, buffer + done, size - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    done += static_cast<size_t>(got);
  }
  return true;
}

// Whether the files hold the same size bytes.
bool SameBytes(int a, int b, off_t size) {
  constexpr size_t kChunk = 1 << 17;
  // One pair of buffers for every comparison of the thread.
  thread_local std::unique_ptr<char[]> first(new char[kChunk]), second(new char[kChunk]);
  for (off_t left = size; left > 0;) {
    const size_t chunk = static_cast<size_t>(std::min<off_t>(left, static_cast<off_t>(kChunk)));
    if (!ReadFully(a, first.get(), chunk) || !ReadFully(b, second.get(), chunk) ||
        memcmp(first.get(), second.get(), chunk) != 0) {
      return false;
    }
    left -= static_cast<off_t>(chunk);
  }
  return true;
}

// Opens path for reading without changing its access time where the
// system lets us (the owner, or root).
int OpenUntouched(const std::string& path, int flags) {
  const int fd = standin::OpenTrusted(path, flags | O_NOATIME);
  return fd >= 0 || errno != EPERM ? fd : standin::OpenTrusted(path, flags);
}

// The quick check: a file that may already be a copy of the source.
bool MayBeCopy(const struct stat& status, const struct stat& existing) {
  return S_ISREG(existing.st_mode) && existing.st_nlink == 1 &&
         existing.st_size == status.st_size && SameTime(existing.st_mtim, status.st_mtim);
}

// Gives an installed copy whose bytes equal the source's the permission
// bits and times that a copy would have. False when its bytes differ: it is
// then to be written.
bool KeepCopy(int source, const struct stat& status, int folder, const std::string& name,
              const struct stat& existing, const std::string& path) {
  const int flags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  int fd = openat(folder, name.c_str(), flags | O_NOATIME);
  if (fd < 0 && errno == EPERM) fd = openat(folder, name.c_str(), flags);
  UniqueFd installed(fd);
  struct stat opened;
  if (!installed.IsValid() || fstat(installed.Get(), &opened) != 0 ||
      opened.st_ino != existing.st_ino || opened.st_dev != existing.st_dev ||
      !SameBytes(source, installed.Get(), status.st_size)) {
    return false;
  }
  AtKillPoint(KillPoint::IdenticalKept, path);
  // What a copy would set, unless it is so already.
  const mode_t mode = status.st_mode & 0777;
  if ((opened.st_mode & 07777) != mode && fchmod(installed.Get(), mode) != 0) return false;
  if (SameTime(opened.st_atim, status.st_atim)) return true;
  const struct timespec times[2] = {status.st_atim, status.st_mtim};
  return futimens(installed.Get(), times) == 0;
}

}  // namespace

void ReleaseReplaceLock() {}

void ClearReadOnly(const std::string& path, DWORD attributes) {
  SetFileAttributesA(path.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
}

// The stand-in looks at the files themselves: what the listing said and
// the handles lent are not needed.
bool KeepIdenticalCopy(const std::string& source, const std::string& destination,
                       const ListedFile&, LentFiles) {
  UniqueFd file(OpenUntouched(standin::ToPosixPath(source.c_str()), O_RDONLY | O_NONBLOCK));
  UniqueFd folder;
  std::string name;
  struct stat status, existing;
  return file.IsValid() && fstat(file.Get(), &status) == 0 && S_ISREG(status.st_mode) &&
         standin::OpenParent(standin::ToPosixPath(destination.c_str()), folder, name) &&
         fstatat(folder.Get(), name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0 &&
         MayBeCopy(status, existing) &&
         KeepCopy(file.Get(), status, folder.Get(), name, existing, destination);
}

bool ReplaceFileWithCopy(const std::string& sourceFolder, const std::string& destinationFolder,
                         const std::string& name, const ReplaceFacts*) {
  const std::string sourcePath = standin::ToPosixPath((sourceFolder + name).c_str());
  const std::string folderPath = standin::ToPosixPath(destinationFolder.c_str());
  if (standin::FaultInjected("QUORVEX_FAULT_COPYFILE", folderPath + name)) return false;

  UniqueFd source(OpenUntouched(sourcePath, O_RDONLY | O_NONBLOCK));
  if (!source.IsValid()) return standin::FailWithErrno(errno);
  struct stat status;
  if (fstat(source.Get(), &status) != 0) return standin::FailWithErrno(errno);
  if (!S_ISREG(status.st_mode)) return Fail(ERROR_ACCESS_DENIED);

  // Everything below happens in this folder, opened once: a folder swapped
  // for a link meanwhile is not written through.
  UniqueFd folder(standin::OpenTrusted(folderPath, O_PATH | O_DIRECTORY));
  if (!folder.IsValid()) {
    return errno == ENOENT ? Fail(ERROR_PATH_NOT_FOUND) : standin::FailWithErrno(errno);
  }
  struct stat existing;
  if (fstatat(folder.Get(), name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0) {
    if (S_ISDIR(existing.st_mode)) return Fail(ERROR_ACCESS_DENIED);
    if (S_ISREG(existing.st_mode) && !standin::HasWriteBits(existing.st_mode)) {
      return Fail(ERROR_ACCESS_DENIED);
    }
  }

  std::string copyName;
  UniqueFd copy(OpenCopyFile(folder.Get(), TemporaryCopyName(sourceFolder, name), copyName));
  if (!copy.IsValid()) return false;
  // The copy's lock is held until it has its final name, or is removed.
  bool placed = standin::WriteCopy(source.Get(), status, copy.Get());
  int error = errno;
  if (placed) {
    AtKillPoint(KillPoint::CopyWritten, folderPath + name);
    placed = renameat(folder.Get(), copyName.c_str(), folder.Get(), name.c_str()) == 0;
    error = errno;
  }
  if (!placed) unlinkat(folder.Get(), copyName.c_str(), 0);
  copy.Reset();
  if (!placed) return standin::FailWithErrno(error);
  AtKillPoint(KillPoint::Moved, folderPath + name);
  return true;
}
