// File calls of the stand-in layer.
//
// Attributes: a folder is FILE_ATTRIBUTE_DIRECTORY, anything else
// FILE_ATTRIBUTE_ARCHIVE; FILE_ATTRIBUTE_READONLY is the absence of every
// write permission bit. Hidden and system have no counterpart. Share modes
// are not enforced.
//
// Faults that permission bits cannot produce for root are injected for
// tests: CopyFileA and the replace fail when QUORVEX_FAULT_COPYFILE is a
// part of the destination's path, CreateDirectoryA when QUORVEX_FAULT_MKDIR is a part of
// the new folder's path, and FindNextFileA when QUORVEX_FAULT_FINDNEXT is a
// part of the listed folder's path.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "file_copy.h"
#include "standin_internal.h"
#include "trusted_path.h"

namespace {

using standin::HasWriteBits;
using standin::OpenFile;
using standin::UniqueFd;
using standin::WriteCopy;

// ---- Helpers -----------------------------------------------------------------

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

// FILETIME counts 100-nanosecond intervals since 1601-01-01 UTC.
constexpr int64_t kSecondsFrom1601To1970 = 11644473600;
constexpr int64_t kIntervalsPerSecond = 10000000;

using standin::ToFileTime;

uint64_t Intervals(const FILETIME& time) {
  return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

struct timespec ToTimespec(const FILETIME* time) {
  struct timespec result {};
  if (!time) {
    result.tv_nsec = UTIME_OMIT;
    return result;
  }
  const int64_t sinceUnixEpoch =
      static_cast<int64_t>(Intervals(*time)) - kSecondsFrom1601To1970 * kIntervalsPerSecond;
  int64_t seconds = sinceUnixEpoch / kIntervalsPerSecond;
  int64_t rest = sinceUnixEpoch % kIntervalsPerSecond;
  if (rest < 0) {
    rest += kIntervalsPerSecond;
    --seconds;
  }
  result.tv_sec = static_cast<time_t>(seconds);
  result.tv_nsec = static_cast<long>(rest * 100);
  return result;
}

using standin::Attributes;

// ---- File handles --------------------------------------------------------------

constexpr uint32_t kFileMagic = 0x46494c45;  // "FILE"

struct FileObject {
  uint32_t magic = kFileMagic;
  int fd = -1;
};

// What path names, a trusted link followed.
bool StatTrusted(const std::string& path, struct stat& status) {
  UniqueFd file(standin::OpenTrusted(path, O_PATH));
  return file.IsValid() && fstat(file.Get(), &status) == 0;
}

FileObject* AsFile(HANDLE handle) {
  auto* file = static_cast<FileObject*>(handle);
  if (!file || handle == INVALID_HANDLE_VALUE || file->magic != kFileMagic) return nullptr;
  return file;
}

int OpenFlags(DWORD access, DWORD disposition) {
  int flags = O_RDONLY;
  if ((access & GENERIC_READ) && (access & GENERIC_WRITE)) {
    flags = O_RDWR;
  } else if (access & GENERIC_WRITE) {
    flags = O_WRONLY;
  }
  switch (disposition) {
    case CREATE_NEW: return flags | O_CREAT | O_EXCL;
    case CREATE_ALWAYS: return flags | O_CREAT | O_TRUNC;
    case OPEN_ALWAYS: return flags | O_CREAT;
    case TRUNCATE_EXISTING: return flags | O_TRUNC;
    default: return flags;
  }
}

// ---- Directory listing -----------------------------------------------------------

constexpr uint32_t kFindMagic = 0x46494e44;  // "FIND"

struct FindObject {
  uint32_t magic = kFindMagic;
  DIR* folder = nullptr;
  std::string folderPath;
  std::vector<std::string> names;  // matching names, sorted
  size_t next = 0;
  ~FindObject() {
    if (folder) closedir(folder);
  }
};

FindObject* AsFind(HANDLE handle) {
  auto* find = static_cast<FindObject*>(handle);
  if (!find || handle == INVALID_HANDLE_VALUE || find->magic != kFindMagic) return nullptr;
  return find;
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Windows wildcards: "*" any run, "?" one byte, letters without case; "*.*"
// matches every name, with a dot or without.
bool Matches(const char* pattern, const char* name) {
  if (strcmp(pattern, "*.*") == 0 || strcmp(pattern, "*") == 0) return true;
  const char* star = nullptr;
  const char* resume = nullptr;
  while (*name) {
    if (*pattern == '?' || (*pattern != '*' && Lower(*pattern) == Lower(*name))) {
      ++pattern;
      ++name;
    } else if (*pattern == '*') {
      star = pattern++;
      resume = name;
    } else if (star) {
      pattern = star + 1;
      name = ++resume;
    } else {
      return false;
    }
  }
  while (*pattern == '*') ++pattern;
  return *pattern == '\0';
}

// Fills data for the entry name of find; false when it has gone meanwhile.
bool Describe(const FindObject& find, const std::string& name, WIN32_FIND_DATAA* data) {
  struct stat status;
  const int folder = dirfd(find.folder);
  if (fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) return false;
  // A symbolic link is described by what it points to, a dangling one by
  // itself, and both as reparse points, as Windows lists its links.
  const bool link = S_ISLNK(status.st_mode);
  struct stat target;
  if (link && fstatat(folder, name.c_str(), &target, 0) == 0) status = target;
  *data = WIN32_FIND_DATAA{};
  data->dwFileAttributes = Attributes(status) | (link ? FILE_ATTRIBUTE_REPARSE_POINT : 0);
  // The status change time stands in for the creation time, which POSIX lacks.
  data->ftCreationTime = ToFileTime(status.st_ctim);
  data->ftLastAccessTime = ToFileTime(status.st_atim);
  data->ftLastWriteTime = ToFileTime(status.st_mtim);
  const uint64_t size = S_ISDIR(status.st_mode) ? 0 : static_cast<uint64_t>(status.st_size);
  data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
  data->nFileSizeLow = static_cast<DWORD>(size);
  memcpy(data->cFileName, name.c_str(), name.size() + 1);
  return true;
}

// Moves to the next entry that still exists and describes it.
bool Advance(FindObject& find, WIN32_FIND_DATAA* data) {
  while (find.next < find.names.size()) {
    if (Describe(find, find.names[find.next++], data)) return true;
  }
  return Fail(ERROR_NO_MORE_FILES);
}

}  // namespace

// ---- Files -----------------------------------------------------------------------

HANDLE WINAPI CreateFileA(LPCSTR fileName, DWORD access, DWORD, LPSECURITY_ATTRIBUTES,
                          DWORD disposition, DWORD flags, HANDLE) {
  const std::string path = standin::ToPosixPath(fileName);
  // Opening an existing file for reading needs no look before the open: a
  // folder is told by the descriptor.
  const bool readExisting = disposition == OPEN_EXISTING && !(access & GENERIC_WRITE);
  struct stat status;
  const bool exists = !readExisting && StatTrusted(path, status);
  // Windows opens no folder without backup semantics, and no read-only file for writing.
  if (exists && S_ISDIR(status.st_mode)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  if (exists && (access & GENERIC_WRITE) && !HasWriteBits(status.st_mode)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  const mode_t mode = (flags & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;
  int fd = standin::OpenTrusted(path, OpenFlags(access, disposition) | O_NONBLOCK, mode);
  if (fd < 0) {
    if (errno == EEXIST) {
      SetLastError(ERROR_FILE_EXISTS);
    } else {
      standin::FailWithErrno(errno);
    }
    return INVALID_HANDLE_VALUE;
  }
  if (readExisting && (fstat(fd, &status) != 0 || S_ISDIR(status.st_mode))) {
    close(fd);
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  auto* file = new FileObject;
  file->fd = fd;
  SetLastError(exists && (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS)
                   ? ERROR_ALREADY_EXISTS
                   : ERROR_SUCCESS);
  return file;
}

BOOL WINAPI CloseHandle(HANDLE handle) {
  FileObject* file = AsFile(handle);
  if (!file) return Fail(ERROR_INVALID_HANDLE);
  int result = close(file->fd);
  int error = errno;
  file->magic = 0;
  delete file;
  return result == 0 ? TRUE : standin::FailWithErrno(error);
}

BOOL WINAPI GetFileTime(HANDLE handle, LPFILETIME creation, LPFILETIME lastAccess,
                        LPFILETIME lastWrite) {
  FileObject* file = AsFile(handle);
  if (!file) return Fail(ERROR_INVALID_HANDLE);
  struct stat status;
  if (fstat(file->fd, &status) != 0) return standin::FailWithErrno(errno);
  if (creation) *creation = ToFileTime(status.st_ctim);
  if (lastAccess) *lastAccess = ToFileTime(status.st_atim);
  if (lastWrite) *lastWrite = ToFileTime(status.st_mtim);
  return TRUE;
}

BOOL WINAPI ReadFile(HANDLE handle, LPVOID buffer, DWORD size, LPDWORD read, LPVOID) {
  FileObject* file = AsFile(handle);
  if (!file) return Fail(ERROR_INVALID_HANDLE);
  ssize_t count;
  do {
    count = ::read(file->fd, buffer, size);
  } while (count < 0 && errno == EINTR);
  if (count < 0) return standin::FailWithErrno(errno);
  if (read) *read = static_cast<DWORD>(count);
  return TRUE;
}

BOOL WINAPI SetFileTime(HANDLE handle, const FILETIME*, const FILETIME* lastAccess,
                        const FILETIME* lastWrite) {
  FileObject* file = AsFile(handle);
  if (!file) return Fail(ERROR_INVALID_HANDLE);
  const struct timespec times[2] = {ToTimespec(lastAccess), ToTimespec(lastWrite)};
  return futimens(file->fd, times) == 0 ? TRUE : standin::FailWithErrno(errno);
}

LONG WINAPI CompareFileTime(const FILETIME* first, const FILETIME* second) {
  const uint64_t a = Intervals(*first), b = Intervals(*second);
  return a < b ? -1 : (a > b ? 1 : 0);
}

void WINAPI GetSystemTimeAsFileTime(LPFILETIME time) {
  struct timespec now {};
  clock_gettime(CLOCK_REALTIME, &now);
  *time = ToFileTime(now);
}

DWORD WINAPI GetFileSize(HANDLE handle, LPDWORD sizeHigh) {
  FileObject* file = AsFile(handle);
  struct stat status;
  if (!file) {
    SetLastError(ERROR_INVALID_HANDLE);
    return INVALID_FILE_SIZE;
  }
  if (fstat(file->fd, &status) != 0) {
    standin::FailWithErrno(errno);
    return INVALID_FILE_SIZE;
  }
  const uint64_t size = static_cast<uint64_t>(status.st_size);
  if (sizeHigh) *sizeHigh = static_cast<DWORD>(size >> 32);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(size);
}

// A symbolic link is described as Windows describes one: by itself, as a
// folder when it points to one, and never read-only.
DWORD WINAPI GetFileAttributesA(LPCSTR fileName) {
  const std::string path = standin::ToPosixPath(fileName);
  UniqueFd folder;
  std::string name;
  struct stat status;
  if (!standin::OpenParent(path, folder, name) ||
      fstatat(folder.Get(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
    standin::FailWithErrno(errno);
    return INVALID_FILE_ATTRIBUTES;
  }
  if (S_ISLNK(status.st_mode)) {
    struct stat target;
    return (StatTrusted(path, target) && S_ISDIR(target.st_mode)) ? FILE_ATTRIBUTE_DIRECTORY
                                                                   : FILE_ATTRIBUTE_ARCHIVE;
  }
  return Attributes(status);
}

// Only the read-only attribute has a counterpart. A symbolic link is left
// alone, so that what it points to is never changed through it.
BOOL WINAPI SetFileAttributesA(LPCSTR fileName, DWORD attributes) {
  const std::string path = standin::ToPosixPath(fileName);
  UniqueFd folder, file;
  std::string name;
  struct stat status;
  if (!standin::OpenParent(path, folder, name)) return standin::FailWithErrno(errno);
  // The entry itself, so that the mode is set on what was looked at.
  file = UniqueFd(openat(folder.Get(), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
  if (!file.IsValid() || fstat(file.Get(), &status) != 0) return standin::FailWithErrno(errno);
  if (S_ISLNK(status.st_mode)) return TRUE;
  const mode_t permissions = status.st_mode & 07777;
  mode_t wanted = permissions;
  if (attributes & FILE_ATTRIBUTE_READONLY) {
    wanted &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
  } else if (!HasWriteBits(permissions)) {
    wanted |= S_IWUSR;
  }
  if (wanted != permissions &&
      chmod(("/proc/self/fd/" + std::to_string(file.Get())).c_str(), wanted) != 0) {
    return standin::FailWithErrno(errno);
  }
  return TRUE;
}

BOOL WINAPI CreateDirectoryA(LPCSTR pathName, LPSECURITY_ATTRIBUTES) {
  const std::string path = standin::ToPosixPath(pathName);
  if (standin::FaultInjected("QUORVEX_FAULT_MKDIR", path)) return FALSE;
  UniqueFd folder;
  std::string name;
  if (standin::OpenParent(path, folder, name) && mkdirat(folder.Get(), name.c_str(), 0777) == 0) {
    return TRUE;
  }
  return errno == ENOENT ? Fail(ERROR_PATH_NOT_FOUND) : standin::FailWithErrno(errno);
}

// Like Windows: the content, the last-write time and the read-only attribute
// are copied, in place over an existing file; a folder or a read-only file
// is not replaced.
BOOL WINAPI CopyFileA(LPCSTR existingFileName, LPCSTR newFileName, BOOL failIfExists) {
  const std::string sourcePath = standin::ToPosixPath(existingFileName);
  const std::string destinationPath = standin::ToPosixPath(newFileName);
  if (standin::FaultInjected("QUORVEX_FAULT_COPYFILE", destinationPath)) return FALSE;

  UniqueFd source(OpenFile(sourcePath.c_str(), O_RDONLY));
  if (!source.IsValid()) return standin::FailWithErrno(errno);
  struct stat status;
  if (fstat(source.Get(), &status) != 0) return standin::FailWithErrno(errno);
  if (!S_ISREG(status.st_mode)) return Fail(ERROR_ACCESS_DENIED);

  struct stat existing;
  if (stat(destinationPath.c_str(), &existing) == 0) {
    if (failIfExists) return Fail(ERROR_FILE_EXISTS);
    if (S_ISDIR(existing.st_mode) || !HasWriteBits(existing.st_mode)) {
      return Fail(ERROR_ACCESS_DENIED);
    }
  }
  const int flags = O_WRONLY | O_CREAT | (failIfExists ? O_EXCL : O_TRUNC);
  UniqueFd copy(OpenFile(destinationPath.c_str(), flags, 0600));
  if (!copy.IsValid()) {
    if (errno == EEXIST) return Fail(ERROR_FILE_EXISTS);
    return errno == ENOENT ? Fail(ERROR_PATH_NOT_FOUND) : standin::FailWithErrno(errno);
  }
  if (!WriteCopy(source.Get(), status, copy.Get())) return standin::FailWithErrno(errno);
  return TRUE;
}

// ---- Directory listing -----------------------------------------------------------

// Lists the whole folder at once, sorted by name (as Wine does; Windows lists
// NTFS folders sorted too), so that the order does not depend on the file
// system. A name that would not fit cFileName fails the listing rather than
// being left out of it.
HANDLE WINAPI FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA data) {
  if (strlen(pattern) >= MAX_PATH) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return INVALID_HANDLE_VALUE;
  }
  const std::string path = standin::ToPosixPath(pattern);
  const size_t slash = path.find_last_of('/');
  const std::string folderPath = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const std::string namePattern = slash == std::string::npos ? path : path.substr(slash + 1);

  auto find = std::make_unique<FindObject>();
  find->folderPath = folderPath;
  find->folder = opendir(folderPath.c_str());
  if (!find->folder) {
    standin::FailWithErrno(errno);
    if (GetLastError() == ERROR_FILE_NOT_FOUND) SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  for (;;) {
    errno = 0;
    const struct dirent* entry = readdir(find->folder);
    if (!entry) break;
    if (strlen(entry->d_name) >= MAX_PATH) {
      SetLastError(ERROR_FILENAME_EXCED_RANGE);
      return INVALID_HANDLE_VALUE;
    }
    if (Matches(namePattern.c_str(), entry->d_name)) find->names.emplace_back(entry->d_name);
  }
  if (errno != 0) {
    standin::FailWithErrno(errno);
    return INVALID_HANDLE_VALUE;
  }
  std::sort(find->names.begin(), find->names.end());
  if (!Advance(*find, data)) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  return find.release();
}

BOOL WINAPI FindNextFileA(HANDLE handle, LPWIN32_FIND_DATAA data) {
  FindObject* find = AsFind(handle);
  if (!find) return Fail(ERROR_INVALID_HANDLE);
  if (standin::FaultInjected("QUORVEX_FAULT_FINDNEXT", find->folderPath)) {
    return Fail(ERROR_FILENAME_EXCED_RANGE);
  }
  return Advance(*find, data) ? TRUE : FALSE;
}

BOOL WINAPI FindClose(HANDLE handle) {
  FindObject* find = AsFind(handle);
  if (!find) return Fail(ERROR_INVALID_HANDLE);
  find->magic = 0;
  delete find;
  return TRUE;
}

namespace standin {

FILETIME ToFileTime(const struct timespec& time) {
  const uint64_t intervals =
      static_cast<uint64_t>((time.tv_sec + kSecondsFrom1601To1970) * kIntervalsPerSecond +
                            time.tv_nsec / 100);
  return FILETIME{static_cast<DWORD>(intervals), static_cast<DWORD>(intervals >> 32)};
}

DWORD Attributes(const struct stat& status) {
  DWORD attributes = S_ISDIR(status.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
  if (!HasWriteBits(status.st_mode)) attributes |= FILE_ATTRIBUTE_READONLY;
  return attributes;
}

bool IsPlainName(const std::string& name) {
  return !name.empty() && ToPosixPath(name.c_str()).find('/') == std::string::npos;
}

HANDLE HandleOfDescriptor(int fd) {
  auto* file = new FileObject;
  file->fd = fd;
  return file;
}

int DescriptorOf(HANDLE handle) {
  const FileObject* file = AsFile(handle);
  return file ? file->fd : -1;
}

bool FaultInjected(const char* variable, const std::string& path) {
  const char* part = getenv(variable);
  if (!part || !*part || path.find(part) == std::string::npos) return false;
  SetLastError(ERROR_ACCESS_DENIED);
  return true;
}

}  // namespace standin
