// Durability on Windows. NTFS journals its own metadata but not file data,
// and the cache manager writes data back when it sees fit, so a file that
// the copy has written may still be empty on the disk seconds later.
//
// FlushFileBuffers: "To flush all open files on a volume, call
// FlushFileBuffers with a handle to the volume. The caller must have
// administrative privileges." The handle needs GENERIC_WRITE ("The handle
// must have the GENERIC_WRITE access right"). Our installer runs elevated,
// so one flush of each volume that a folder of the copy lies on does: the
// volume is named from the folder's own handle (GetFinalPathNameByHandleA,
// VOLUME_NAME_GUID), so a link that an administrator made to another disk
// is followed there too. Where a volume cannot be named, opened or flushed
// (a share, no right to it), each file the run wrote is flushed through a
// handle of its own, and each folder it made; an unchanged file that
// another program holds is passed over and said in the log.
// https://learn.microsoft.com/windows/win32/api/fileapi/nf-fileapi-flushfilebuffers
// https://learn.microsoft.com/windows/win32/api/fileapi/nf-fileapi-getfinalpathnamebyhandlea
#include "platform/durable_writes.h"

#include <utility>

#include "platform/kill_points.h"
#include "platform/scoped_handle.h"
#include "platform/win32/in_use_retry.h"
#include "platform/win32/plain_file.h"
#include "platform/win32.h"

namespace {

const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// "\\?\Volume{...}" of what folder holds; empty when it has none (a share).
std::string VolumeOf(HANDLE folder) {
  char path[MAX_PATH * 2];
  const DWORD length = GetFinalPathNameByHandleA(folder, path, sizeof path, VOLUME_NAME_GUID);
  if (length == 0 || length >= sizeof path) return "";
  const std::string text(path, length);
  const size_t end = text.find('}');
  return text.compare(0, 11, "\\\\?\\Volume{") == 0 && end != std::string::npos
             ? text.substr(0, end + 1)
             : "";
}

bool FlushVolume(const std::string& volume) {
  ScopedHandle handle(CreateFileA(volume.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
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

// One try: a file that is no longer there holds nothing of this run.
bool FlushFileOnce(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return GetLastError() == ERROR_FILE_NOT_FOUND;
  return TryFlushFile(path, attributes);
}

// A folder's entries: through a handle of the folder itself. A file system
// that cannot flush a folder says so, and is passed over.
bool FlushFolder(const std::string& path) {
  ScopedHandle handle(CreateFileA(path.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (handle.IsValid() && FlushFileBuffers(handle.Get())) return true;
  const DWORD error = GetLastError();
  return error == ERROR_INVALID_FUNCTION || error == ERROR_FILE_NOT_FOUND ||
         error == ERROR_PATH_NOT_FOUND;
}

}  // namespace

void DurableWrites::NoteFolder(const HeldFolder& folder, bool created) {
  if (created) createdFolders_.push_back(folder.Path());
  if (volumeUnknown_) return;
  const std::string volume = folder.IsHeld() ? VolumeOf(folder.Get()) : "";
  if (volume.empty()) {
    volumeUnknown_ = true;
  } else {
    volumes_.insert(volume);
  }
}

void DurableWrites::Note(const std::string& path, bool changed) {
  files_.push_back({path, changed});
}

bool DurableWrites::Flush() {
  bool byVolume = !volumeUnknown_ && !volumes_.empty();
  for (const std::string& volume : volumes_) {
    if (!byVolume) break;
    byVolume = FlushVolume(volume);
  }
  if (byVolume) return true;
  // Another program, or another installer replacing the file, may hold it
  // for a moment: what this run wrote is waited for. What it found already
  // complete is flushed if it can be; a viewer holding it is no failure.
  int passedOver = 0;
  std::string first;
  for (const File& file : files_) {
    if (file.changed) {
      if (!RetryWhileInUse([&] { return FlushFileOnce(file.path); })) return false;
    } else if (!FlushFileOnce(file.path)) {
      if (!IsInUseError(GetLastError())) return false;
      if (passedOver++ == 0) first = file.path;
    }
  }
  for (const std::string& folder : createdFolders_) {
    if (!FlushFolder(folder)) return false;
  }
  if (passedOver > 0) {
    note_ = std::to_string(passedOver) + " unchanged file(s) held open by another program were "
            "not flushed, the first " + first;
  }
  return true;
}

std::string DurableWrites::TakeNote() { return std::exchange(note_, std::string()); }
