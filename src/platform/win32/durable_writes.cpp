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
#include "platform/stall_watch.h"
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
// The file is opened relative to its held folder, as itself, and only while
// it is a plain file with one name; one that is no longer there holds
// nothing of this run.
bool FlushFileOnce(const HeldFolder& folder, const std::string& name) {
  BY_HANDLE_FILE_INFORMATION facts;
  const ScopedHandle plain = OpenPlainFile(folder, name, FILE_WRITE_ATTRIBUTES, kShareAll, facts);
  if (!plain.IsValid()) return GetLastError() == ERROR_FILE_NOT_FOUND;
  const DWORD attributes = facts.dwFileAttributes & kCopiedAttributes;
  const bool readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
  if (readOnly) {
    if (!SetAttributes(plain.Get(), attributes & ~FILE_ATTRIBUTE_READONLY)) return false;
    AtKillPoint(KillPoint::FlushReadOnlyCleared, folder.Path() + name);
  }
  bool flushed = false;
  {
    BY_HANDLE_FILE_INFORMATION same;
    const ScopedHandle file =
        OpenPlainFile(folder, name, GENERIC_WRITE, kShareAll, same, &facts);
    flushed = file.IsValid() && FlushFileBuffers(file.Get());
  }
  const DWORD error = GetLastError();
  if (readOnly) SetAttributes(plain.Get(), attributes);
  SetLastError(error);
  return flushed;
}

// A folder's entries: through a handle of the folder itself, opened again
// from the one held. A file system that cannot flush a folder says so, and
// is passed over.
bool FlushFolder(const HeldFolder& folder) {
  ScopedHandle handle(folder.IsHeld() ? ReOpenFile(folder.Get(), GENERIC_WRITE, kShareAll,
                                                   FILE_FLAG_BACKUP_SEMANTICS)
                                      : INVALID_HANDLE_VALUE);
  if (handle.IsValid() && FlushFileBuffers(handle.Get())) return true;
  const DWORD error = GetLastError();
  return error == ERROR_INVALID_FUNCTION || error == ERROR_FILE_NOT_FOUND ||
         error == ERROR_PATH_NOT_FOUND;
}

}  // namespace

size_t DurableWrites::HoldAgain(const HeldFolder& folder) {
  if (folders_.empty() || folders_.back().Path() != folder.Path()) {
    folders_.push_back(folder.HoldAgain());
  }
  return folders_.size() - 1;
}

void DurableWrites::NoteFolder(const HeldFolder& folder, bool created) {
  if (created) createdFolders_.push_back(HoldAgain(folder));
  if (volumeUnknown_) return;
  const std::string volume = folder.IsHeld() ? VolumeOf(folder.Get()) : "";
  if (volume.empty()) {
    volumeUnknown_ = true;
  } else {
    volumes_.insert(volume);
  }
}

void DurableWrites::Note(const HeldFolder& folder, const std::string& name, bool changed) {
  files_.push_back({HoldAgain(folder), name, changed});
}

bool DurableWrites::Flush() {
  // The folders held again are let go of, done or not: a removal after the
  // flush may remove them. It takes as long as the disk needs: no stall.
  const stall_watch::Pause flushing;
  const bool flushed = FlushNoted();
  files_.clear();
  createdFolders_.clear();
  folders_.clear();
  return flushed;
}

bool DurableWrites::FlushNoted() {
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
    const HeldFolder& folder = folders_[file.folder];
    if (file.changed) {
      if (!RetryWhileInUse([&] { return FlushFileOnce(folder, file.name); })) return false;
    } else if (!FlushFileOnce(folder, file.name)) {
      if (!IsInUseError(GetLastError())) return false;
      if (passedOver++ == 0) first = folder.Path() + file.name;
    }
  }
  for (const size_t folder : createdFolders_) {
    if (!FlushFolder(folders_[folder])) return false;
  }
  if (passedOver > 0) {
    note_ = std::to_string(passedOver) + " unchanged file(s) held open by another program were "
            "not flushed, the first " + first;
  }
  return true;
}

std::string DurableWrites::TakeNote() { return std::exchange(note_, std::string()); }
