// Durability on Windows. NTFS journals its own metadata but not file data,
// and the cache manager writes data back when it sees fit, so a file that
// CopyFileA has written may still be empty on the disk seconds later.
//
// FlushFileBuffers: "To flush all open files on a volume, call
// FlushFileBuffers with a handle to the volume. The caller must have
// administrative privileges." The handle needs GENERIC_WRITE ("The handle
// must have the GENERIC_WRITE access right"), and a volume is opened as
// \\.\X: (CreateFile, "Physical Disks and Volumes"). Our installer runs
// elevated, so one flush of the install directory's volume does. Where that
// volume cannot be opened or flushed (a share, a folder mounted from another
// volume, no right to it), each file the run noted is flushed through a
// handle of its own.
// https://learn.microsoft.com/windows/win32/api/fileapi/nf-fileapi-flushfilebuffers
// https://learn.microsoft.com/windows/win32/api/fileapi/nf-fileapi-createfilea
#include "platform/durable_writes.h"

#include "platform/kill_points.h"
#include "platform/scoped_handle.h"
#include "platform/win32/in_use_retry.h"
#include "platform/win32/plain_file.h"
#include "platform/win32.h"

namespace {

const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The volume of a path that starts with a drive letter ("C:\..."), as a
// device path; empty for a share or a path without a drive.
std::string DriveVolume(const std::string& path) {
  const bool letter = path.size() >= 2 && path[1] == ':' &&
                      ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
  return letter ? std::string("\\\\.\\") + path[0] + ":" : std::string();
}

// A folder that is a mount point or a link leads to another volume: the
// drive's flush would not reach it.
bool OnItsDrivesVolume(const std::string& root) {
  char volume[MAX_PATH];
  if (!GetVolumePathNameA(root.c_str(), volume, MAX_PATH)) return false;
  return volume[0] && volume[1] == ':' && volume[2] == '\\' && volume[3] == '\0';
}

bool FlushVolume(const std::string& root) {
  const std::string volume = DriveVolume(root);
  if (volume.empty() || !OnItsDrivesVolume(root)) return false;
  ScopedHandle handle(CreateFileA(volume.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll,
                                  nullptr, OPEN_EXISTING, 0, nullptr));
  return handle.IsValid() && FlushFileBuffers(handle.Get());
}

// A read-only file cannot be opened for writing: its attribute is cleared
// for the flush and put back after it, through a handle of that plain file.
bool TryFlushFile(const std::string& path, DWORD attributes) {
  const bool readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
  BY_HANDLE_FILE_INFORMATION facts;
  ScopedHandle plain;
  if (readOnly) {
    plain = OpenPlainFile(path, FILE_WRITE_ATTRIBUTES, kShareAll, facts);
    if (!plain.IsValid() ||
        !SetAttributes(plain.Get(), facts.dwFileAttributes & kCopiedAttributes & ~FILE_ATTRIBUTE_READONLY)) {
      return false;
    }
    AtKillPoint(KillPoint::FlushReadOnlyCleared, path);
  }
  bool flushed = false;
  {
    ScopedHandle handle(CreateFileA(path.c_str(), GENERIC_WRITE, kShareAll, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    flushed = handle.IsValid() && FlushFileBuffers(handle.Get());
  }
  const DWORD error = GetLastError();
  if (readOnly) SetAttributes(plain.Get(), facts.dwFileAttributes & kCopiedAttributes);
  SetLastError(error);
  return flushed;
}

// Another program, or another installer replacing the file, may hold it
// for a moment. A file that is no longer there holds nothing of this run.
bool FlushFile(const std::string& path) {
  return RetryWhileInUse([&] {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return GetLastError() == ERROR_FILE_NOT_FOUND;
    return TryFlushFile(path, attributes);
  });
}

}  // namespace

void DurableWrites::Note(const std::string& path) { files_.push_back(path); }

bool DurableWrites::Flush() {
  if (FlushVolume(root_)) return true;
  for (const std::string& file : files_) {
    if (!FlushFile(file)) return false;
  }
  return true;
}
