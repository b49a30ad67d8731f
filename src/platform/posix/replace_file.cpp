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
#include <unistd.h>

#include <algorithm>
#include <memory>

#include "file_copy.h"
#include "standin_internal.h"

namespace {

using standin::UniqueFd;

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

// Whether fd is still the file that path names.
bool StillNamed(int fd, const std::string& path) {
  struct stat opened, named;
  return fstat(fd, &opened) == 0 && lstat(path.c_str(), &named) == 0 &&
         opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

// Creates the temporary file at path, empty and locked, removing one that a
// dead writer left there. -1 when a live writer holds it, when something
// else has that name, or on failure.
int ClaimTemporaryFile(const std::string& path) {
  for (int attempt = 0; attempt < 4; ++attempt) {
    UniqueFd file(open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    const bool created = file.IsValid();
    if (!created) {
      if (errno != EEXIST) return -1;
      file = UniqueFd(open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
      if (!file.IsValid()) {
        if (errno == ENOENT) continue;  // its writer finished meanwhile
        return -1;
      }
    }
    if (flock(file.Get(), LOCK_EX | LOCK_NB) != 0) return -1;
    // Between the open and the lock its writer may have renamed it over
    // its destination, or a claimer removed it: it must not be written.
    if (!StillNamed(file.Get(), path)) continue;
    if (created) return file.Release();
    struct stat status;
    if (fstat(file.Get(), &status) != 0 || !S_ISREG(status.st_mode)) return -1;
    unlink(path.c_str());  // under its lock: its writer is gone
  }
  return -1;
}

// Opens a new file for the copy in folder: the temporary file of its own
// name, or a file of a unique name. Sets path to it; -1 with the last error
// set.
int OpenCopyFile(const std::string& folder, const std::string& temporaryName, std::string& path) {
  if (!temporaryName.empty()) {
    path = folder + temporaryName;
    const int fd = ClaimTemporaryFile(path);
    if (fd >= 0) return fd;
    path += "-XXXXXX";
  } else {
    path = folder + "~q-XXXXXX";
  }
  const int fd = mkostemp(&path[0], O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) {
      SetLastError(ERROR_PATH_NOT_FOUND);
    } else {
      standin::FailWithErrno(errno);
    }
  }
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
int OpenUntouched(const char* path, int flags) {
  const int fd = open(path, flags | O_NOATIME);
  return fd >= 0 || errno != EPERM ? fd : open(path, flags);
}

// The quick check: a file that may already be a copy of the source.
bool MayBeCopy(const struct stat& status, const struct stat& existing) {
  return S_ISREG(existing.st_mode) && existing.st_nlink == 1 &&
         existing.st_size == status.st_size && SameTime(existing.st_mtim, status.st_mtim);
}

// Gives an installed copy whose bytes equal the source's the permission
// bits and times that a copy would have. False when its bytes differ: it is
// then to be written.
bool KeepCopy(int source, const struct stat& status, const std::string& destination,
              const struct stat& existing) {
  UniqueFd installed(
      OpenUntouched(destination.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat opened;
  if (!installed.IsValid() || fstat(installed.Get(), &opened) != 0 ||
      opened.st_ino != existing.st_ino || opened.st_dev != existing.st_dev ||
      !SameBytes(source, installed.Get(), status.st_size)) {
    return false;
  }
  // What a copy would set, unless it is so already.
  const mode_t mode = status.st_mode & 0777;
  if ((opened.st_mode & 07777) != mode && fchmod(installed.Get(), mode) != 0) return false;
  if (SameTime(opened.st_atim, status.st_atim)) return true;
  const struct timespec times[2] = {status.st_atim, status.st_mtim};
  return futimens(installed.Get(), times) == 0;
}

}  // namespace

void ReleaseReplaceLock() {}

// The stand-in looks at the files themselves: what the listing said and
// the handles lent are not needed.
bool KeepIdenticalCopy(const std::string& source, const std::string& destination,
                       const ListedFile&, LentFiles) {
  const std::string sourcePath = standin::ToPosixPath(source.c_str());
  const std::string destinationPath = standin::ToPosixPath(destination.c_str());
  UniqueFd file(OpenUntouched(sourcePath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  struct stat status, existing;
  return file.IsValid() && fstat(file.Get(), &status) == 0 && S_ISREG(status.st_mode) &&
         lstat(destinationPath.c_str(), &existing) == 0 && MayBeCopy(status, existing) &&
         KeepCopy(file.Get(), status, destinationPath, existing);
}

bool ReplaceFileWithCopy(const std::string& sourceFolder, const std::string& destinationFolder,
                         const std::string& name, const ReplaceFacts*) {
  const std::string sourcePath = standin::ToPosixPath((sourceFolder + name).c_str());
  const std::string folder = standin::ToPosixPath(destinationFolder.c_str());
  const std::string destinationPath = folder + name;
  if (standin::FaultInjected("QUORVEX_FAULT_COPYFILE", destinationPath)) return false;

  UniqueFd source(OpenUntouched(sourcePath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!source.IsValid()) return standin::FailWithErrno(errno);
  struct stat status;
  if (fstat(source.Get(), &status) != 0) return standin::FailWithErrno(errno);
  if (!S_ISREG(status.st_mode)) return Fail(ERROR_ACCESS_DENIED);

  struct stat existing;
  if (lstat(destinationPath.c_str(), &existing) == 0) {
    if (S_ISDIR(existing.st_mode)) return Fail(ERROR_ACCESS_DENIED);
    if (S_ISREG(existing.st_mode) && !standin::HasWriteBits(existing.st_mode)) {
      return Fail(ERROR_ACCESS_DENIED);
    }
  }

  std::string copyPath;
  UniqueFd copy(OpenCopyFile(folder, TemporaryCopyName(sourceFolder, name), copyPath));
  if (!copy.IsValid()) return false;
  // The copy's lock is held until it has its final name, or is removed.
  bool placed = standin::WriteCopy(source.Get(), status, copy.Get());
  int error = errno;
  if (placed) {
    placed = rename(copyPath.c_str(), destinationPath.c_str()) == 0;
    error = errno;
  }
  if (!placed) unlink(copyPath.c_str());
  copy.Reset();
  return placed ? true : standin::FailWithErrno(error);
}
