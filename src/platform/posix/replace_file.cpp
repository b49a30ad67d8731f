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
#include "platform/stall_watch.h"
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
// that a dead writer left there when takeOver is true. -1 when a live
// writer holds it, when something else has that name (EEXIST where
// takeOver is false), or on failure.
int ClaimTemporaryFile(int folder, const std::string& name, bool takeOver = true) {
  for (int attempt = 0; attempt < 4; ++attempt) {
    UniqueFd file(
        openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    const bool created = file.IsValid();
    if (!created) {
      if (errno != EEXIST || !takeOver) return -1;
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

// Opens a new file for the copy of name in folder and sets copyName to its
// name: the first temporary name, which is almost always free; where it is
// taken, the temporary name that no file of the source folder has, taken
// over from a dead writer; or a file of a unique name. -1 with the last
// error set.
int OpenCopyFile(int folder, const std::string& sourceFolder, const std::string& name,
                 std::string& copyName) {
  copyName = FirstTemporaryCopyName(name);
  int fd = ClaimTemporaryFile(folder, copyName, false);
  if (fd >= 0) return fd;
  // The name is taken: by what a dead writer left, a live writer (who may
  // have locked it between its creation and ours), or a file of the manual
  // itself, which the source folder then holds too. A failure of another
  // kind comes again below, and is reported there.
  const std::string temporaryName = TemporaryCopyName(sourceFolder, name);
  if (!temporaryName.empty()) {
    copyName = temporaryName;
    fd = ClaimTemporaryFile(folder, copyName);
    if (fd >= 0) return fd;
  }
  fd = CreateUniqueFile(folder, temporaryName.empty() ? "~q" : temporaryName, copyName);
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
    stall_watch::Progress();
  }
  return true;
}

// Opens name in folder for reading without changing its access time where
// the system lets us (the owner, or root). A link is followed where the
// link rule lets it.
int OpenUntouchedAt(int folder, const std::string& name, int flags) {
  flags |= O_CLOEXEC;
  int fd = openat(folder, name.c_str(), flags | O_NOFOLLOW | O_NOATIME);
  if (fd < 0 && errno == EPERM) fd = openat(folder, name.c_str(), flags | O_NOFOLLOW);
  if (fd < 0 && errno == ELOOP) fd = standin::OpenTrustedAt(folder, name, flags);
  return fd;
}

// The source folder of the files being copied, kept open while the files
// that follow come from it, so that each opens with one call.
class SourceFolder {
 public:
  int Open(const std::string& folderPath, const std::string& name, int flags) {
    for (int attempt = 0; attempt < 2; ++attempt) {
      if (!folder_.IsValid() || path_ != folderPath || attempt > 0) {
        path_ = folderPath;
        folder_ = UniqueFd(standin::OpenTrusted(folderPath, O_PATH | O_DIRECTORY));
        if (!folder_.IsValid()) return -1;
      }
      const int fd = OpenUntouchedAt(folder_.Get(), name, flags);
      // A folder that went since it was opened, and may be back.
      if (fd >= 0 || errno != ENOENT) return fd;
    }
    return -1;
  }
  void Release() { folder_.Reset(); }

 private:
  std::string path_;
  UniqueFd folder_;
};

SourceFolder openSourceFolder;

// Opens the source file name of folder (ending in a separator).
int OpenSource(const std::string& folder, const std::string& name) {
  return openSourceFolder.Open(standin::ToPosixPath(folder.c_str()), name, O_RDONLY | O_NONBLOCK);
}

// The quick check: a file that may already be a copy of the source.
bool MayBeCopy(const struct stat& status, const struct stat& existing) {
  return S_ISREG(existing.st_mode) && existing.st_nlink == 1 &&
         existing.st_size == status.st_size && SameTime(existing.st_mtim, status.st_mtim);
}

// Gives an installed copy whose bytes equal the source's the permission
// bits and times that a copy would have, unless lookOnly. False when its
// bytes differ: it is then to be written.
bool KeepCopy(int source, const struct stat& status, int folder, const std::string& name,
              const struct stat& existing, const std::string& path, bool lookOnly) {
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
  if (lookOnly) return true;
  AtKillPoint(KillPoint::IdenticalKept, path);
  // What a copy would set, unless it is so already.
  const mode_t mode = status.st_mode & 0777;
  if ((opened.st_mode & 07777) != mode && fchmod(installed.Get(), mode) != 0) return false;
  if (SameTime(opened.st_atim, status.st_atim)) return true;
  const struct timespec times[2] = {status.st_atim, status.st_mtim};
  return futimens(installed.Get(), times) == 0;
}

}  // namespace

void ReleaseReplaceLock() { openSourceFolder.Release(); }

// A temporary file that a live writer holds locked is never waited for:
// the copy takes a name of its own.
std::string TakeReplaceNote() { return ""; }

DWORD AttributesIn(const HeldFolder& folder, const std::string& name) {
  struct stat status;
  if (!folder.IsHeld() || !standin::IsPlainName(name)) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_FILE_ATTRIBUTES;
  }
  if (fstatat(standin::DescriptorOf(folder.Get()), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
    standin::FailWithErrno(errno);
    return INVALID_FILE_ATTRIBUTES;
  }
  return S_ISLNK(status.st_mode) ? FILE_ATTRIBUTE_REPARSE_POINT : standin::Attributes(status);
}

// Only a regular file with one name, through a descriptor of it.
void ClearReadOnly(const HeldFolder& folder, const std::string& name) {
  if (!folder.IsHeld()) return;
  UniqueFd file(openat(standin::DescriptorOf(folder.Get()), name.c_str(),
                       O_PATH | O_NOFOLLOW | O_CLOEXEC));
  struct stat status;
  if (!file.IsValid() || fstat(file.Get(), &status) != 0 || !S_ISREG(status.st_mode) ||
      status.st_nlink != 1 || standin::HasWriteBits(status.st_mode)) {
    return;
  }
  const std::string path = "/proc/self/fd/" + std::to_string(file.Get());
  chmod(path.c_str(), (status.st_mode & 07777) | S_IWUSR);
}

// The stand-in looks at the files themselves: what the listing said and
// the destination lent are not needed.
bool KeepIdenticalCopy(const std::string& source, const HeldFolder& folder,
                       const std::string& name, const ListedFile&, LentFiles lent,
                       bool lookOnly) {
  // The source lent by the decision, read from its start, or opened here.
  const size_t slash = source.find_last_of("\\/");
  const int lentSource = standin::DescriptorOf(lent.source);
  UniqueFd file(lentSource >= 0 ? fcntl(lentSource, F_DUPFD_CLOEXEC, 0)
                                : OpenSource(source.substr(0, slash + 1), source.substr(slash + 1)));
  struct stat status, existing;
  const int installed = standin::DescriptorOf(folder.Get());
  return file.IsValid() && installed >= 0 && fstat(file.Get(), &status) == 0 &&
         S_ISREG(status.st_mode) &&
         fstatat(installed, name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0 &&
         MayBeCopy(status, existing) &&
         KeepCopy(file.Get(), status, installed, name, existing, folder.Path() + name, lookOnly);
}

namespace {

// A file that another program holds under a lease is in use, as one that
// a program holds open on Windows: it is not moved over, and the lease's
// holder is told to let go (as an oplock's is) for the next attempt.
bool HeldUnderLease(int folder, const std::string& name, bool absent) {
  if (absent) return false;
  UniqueFd file(openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  return !file.IsValid() && errno == EWOULDBLOCK;
}

}  // namespace

bool ReplaceFileWithCopy(const std::string& sourceFolder, const HeldFolder& destination,
                         const std::string& name, const ReplaceFacts* facts) {
  const std::string folderPath = standin::ToPosixPath(destination.Path().c_str());
  if (standin::FaultInjected("QUORVEX_FAULT_COPYFILE", folderPath + name)) return false;
  // Everything below happens in the held folder: a folder swapped for a
  // link meanwhile is not written through.
  if (!destination.IsHeld() || !standin::IsPlainName(name)) return Fail(ERROR_PATH_NOT_FOUND);
  const int folder = standin::DescriptorOf(destination.Get());

  // A lent source may have been read (by the look for an identical copy).
  const int lent = facts ? standin::DescriptorOf(facts->lentSource) : -1;
  UniqueFd source(lent >= 0 ? fcntl(lent, F_DUPFD_CLOEXEC, 0) : OpenSource(sourceFolder, name));
  if (!source.IsValid() || (lent >= 0 && lseek(source.Get(), 0, SEEK_SET) != 0)) {
    return standin::FailWithErrno(errno);
  }
  struct stat status;
  if (fstat(source.Get(), &status) != 0) return standin::FailWithErrno(errno);
  if (!S_ISREG(status.st_mode)) return Fail(ERROR_ACCESS_DENIED);

  // A folder, or a read-only file, is not replaced, as Windows' rename
  // refuses to. Where the caller has just found nothing, nothing is asked.
  const bool absent = facts && facts->destinationAttributes == INVALID_FILE_ATTRIBUTES;
  struct stat existing;
  if (!absent && fstatat(folder, name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0) {
    if (S_ISDIR(existing.st_mode)) return Fail(ERROR_ACCESS_DENIED);
    if (S_ISREG(existing.st_mode) && !standin::HasWriteBits(existing.st_mode)) {
      return Fail(ERROR_ACCESS_DENIED);
    }
  }

  std::string copyName;
  UniqueFd copy(OpenCopyFile(folder, sourceFolder, name, copyName));
  if (!copy.IsValid()) return false;
  // The copy's lock is held until it has its final name, or is removed.
  bool placed = standin::WriteCopy(source.Get(), status, copy.Get());
  int error = errno;
  if (placed) {
    AtKillPoint(KillPoint::CopyWritten, folderPath + name);
    placed = !HeldUnderLease(folder, name, absent);
    error = placed ? 0 : EWOULDBLOCK;
    if (placed) {
      placed = renameat(folder, copyName.c_str(), folder, name.c_str()) == 0;
      error = errno;
    }
  }
  if (!placed) unlinkat(folder, copyName.c_str(), 0);
  copy.Reset();
  if (!placed) return standin::FailWithErrno(error);
  AtKillPoint(KillPoint::Moved, folderPath + name);
  return true;
}
