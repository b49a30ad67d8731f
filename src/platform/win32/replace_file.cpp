// The replace on Windows: the copy is created new under a temporary name
// relative to the held folder (NtCreateFile, FILE_CREATE), written through
// handles, given the source's last-write time and attributes, and renamed
// over the destination through its own handle, relative to the same folder
// (FileRenameInformation). A name that a link has is neither written
// through nor followed. Only the file's data is copied: no alternate data
// streams, so no Mark of the Web either, which would open the installed
// manual in restricted mode (compiled help shows blank pages).
#include "platform/replace_file.h"

#include <memory>

#include "platform/kill_points.h"
#include "platform/stall_watch.h"
#include "platform/win32/folder_lock.h"
#include "platform/win32/in_use_retry.h"
#include "platform/win32/nt_files.h"
#include "platform/win32/plain_file.h"

namespace {

FolderLock folderLock;

// The copy's handle: written, given its basic information, renamed, or
// deleted. Others may only read it meanwhile; it shares no write or delete:
// another run that finds it under its own temporary name is refused its
// open, and takes another name.
const ACCESS_MASK kCopyAccess = GENERIC_WRITE | DELETE;
const ULONG kCopyShare = FILE_SHARE_READ;

bool IsNameTaken(DWORD error) { return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS; }

// Creates the temporary file for name in folder, new, and sets temporary to
// its name. The copy never goes into anything that is there already. What
// has the name is removed only when it is a plain file with one name that
// no one holds (what a killed run left); a link, a file another run is
// writing or one with other names keeps it, and the next name is taken, as
// it is where the source folder holds a file of that name.
ScopedHandle CreateTemporary(const std::string& sourceFolder, const HeldFolder& folder,
                             const std::string& name, std::string& temporary) {
  const auto create = [&] {
    return OpenRelative(folder.Get(), temporary, kCopyAccess, kCopyShare, kCreateNew,
                        kFileOnly | kOpenReparsePoint);
  };
  const size_t room = folder.Path().size();
  std::string candidate = FirstTemporaryCopyName(name, room);  // almost always free
  uint64_t choice = 0;
  for (bool checked = false;;) {
    temporary = candidate;
    ScopedHandle copy = create();
    if (copy.IsValid() || !IsNameTaken(GetLastError())) return copy;
    if (!checked) {
      // Where the source folder holds a file of the first name, the
      // installed one is the manual's: another name.
      checked = true;
      candidate = NextTemporaryCopyName(sourceFolder, name, room, choice);
      if (candidate.empty()) break;
      if (candidate != temporary) continue;
    }
    if (RemovePlainFile(folder, temporary)) {
      copy = create();
      if (copy.IsValid()) return copy;
    }
    ++choice;
    candidate = NextTemporaryCopyName(sourceFolder, name, room, choice);
    if (candidate.empty()) break;
  }
  SetLastError(ERROR_FILE_EXISTS);  // every name tried was another's
  return ScopedHandle();
}

// Copies the size bytes of from, read from its start, to to: a share may
// return fewer bytes than asked before the end, so only a read that gives
// none ends the file early, and a copy of another size than the source's
// is no copy of it.
bool CopyBytes(HANDLE from, HANDLE to, uint64_t size) {
  const DWORD kChunk = 1 << 20;
  static const std::unique_ptr<char[]> buffer(new char[kChunk]);
  uint64_t copied = 0;
  for (bool more = true; more && copied < size;) {
    DWORD got = 0, put = 0;
    if (!ReadFile(from, buffer.get(), kChunk, &got, nullptr)) return false;
    more = got > 0;
    if (more && !WriteFile(to, buffer.get(), got, &put, nullptr)) return false;
    if (put != got) {
      SetLastError(ERROR_HANDLE_DISK_FULL);
      return false;
    }
    copied += got;
    stall_watch::Progress();
  }
  if (copied != size) {
    SetLastError(ERROR_READ_FAULT);
    return false;
  }
  return true;
}

// The source's last-write time and attributes, as a copy has them: a copy
// stamped with the time of the run would never be replaced again.
bool GiveSourceFacts(HANDLE copy, const BY_HANDLE_FILE_INFORMATION& source) {
  FILE_BASIC_INFO basic{};  // times of zero are left as they are
  basic.LastWriteTime.LowPart = source.ftLastWriteTime.dwLowDateTime;
  basic.LastWriteTime.HighPart = static_cast<LONG>(source.ftLastWriteTime.dwHighDateTime);
  const DWORD attributes = source.dwFileAttributes & kCopiedAttributes;
  basic.FileAttributes = attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
  return SetFileInformationByHandle(copy, FileBasicInfo, &basic, sizeof basic) != FALSE;
}

// Deletes this run's copy after a failure, keeping the error.
void Discard(HANDLE copy) {
  const DWORD error = GetLastError();
  SetAttributes(copy, FILE_ATTRIBUTE_NORMAL);
  FILE_DISPOSITION_INFO disposition{TRUE};
  SetFileInformationByHandle(copy, FileDispositionInfo, &disposition, sizeof disposition);
  SetLastError(error);
}

}  // namespace

void ReleaseReplaceLock() { folderLock.Release(); }

std::string TakeReplaceNote() { return folderLock.TakeNote(); }

DWORD AttributesIn(const HeldFolder& folder, const std::string& name) {
  const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  const ScopedHandle entry = folder.IsHeld() ? OpenRelative(folder.Get(), name,
                                                            FILE_READ_ATTRIBUTES, kShareAll,
                                                            kOpenExisting, kOpenReparsePoint)
                                             : ScopedHandle();
  FILE_BASIC_INFO basic;
  if (!entry.IsValid() ||
      !GetFileInformationByHandleEx(entry.Get(), FileBasicInfo, &basic, sizeof basic)) {
    if (!folder.IsHeld()) SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_FILE_ATTRIBUTES;
  }
  return basic.FileAttributes;
}

void ClearReadOnly(const HeldFolder& folder, const std::string& name) {
  BY_HANDLE_FILE_INFORMATION facts;
  const ScopedHandle file =
      OpenPlainFile(folder, name, FILE_WRITE_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, facts);
  if (file.IsValid() && (facts.dwFileAttributes & FILE_ATTRIBUTE_READONLY)) {
    SetAttributes(file.Get(), facts.dwFileAttributes & kCopiedAttributes & ~FILE_ATTRIBUTE_READONLY);
  }
}

namespace {

// NTFS refuses to move a file over one that is open (access denied): the
// file is held open by another program when it cannot be opened for
// deleting beside them, and the person who has it open is told so.
bool IsHeldOpen(const HeldFolder& folder, const std::string& name) {
  const ScopedHandle probe = OpenRelative(folder.Get(), name, DELETE | SYNCHRONIZE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          FILE_OPEN, FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT);
  return !probe.IsValid() && GetLastError() == ERROR_SHARING_VIOLATION;
}

}  // namespace

bool ReplaceFileWithCopy(const std::string& sourceFolder, const HeldFolder& folder,
                         const std::string& name, const ReplaceFacts* facts) {
  const std::string destination = folder.Path() + name;
  if (!folder.IsHeld()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return false;
  }
  if (destination.size() >= kFilePathLimit) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  // Windows refuses to move over a read-only file (Wine does not), and
  // nothing is moved over a folder; neither is worth the retries.
  const DWORD existing = facts ? facts->destinationAttributes : AttributesIn(folder, name);
  if (existing != INVALID_FILE_ATTRIBUTES &&
      (existing & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY))) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }

  // A source that is a link is read as what it leads to.
  const std::string sourcePath = sourceFolder + name;
  const ScopedHandle source(CreateFileA(sourcePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!source.IsValid()) return false;
  // The listing's facts are the file's own, a link's its own too: what a
  // link leads to is asked of the handle.
  BY_HANDLE_FILE_INFORMATION sourceFacts{};
  const bool listed = facts && facts->source.attributes != INVALID_FILE_ATTRIBUTES &&
                      !(facts->source.attributes & FILE_ATTRIBUTE_REPARSE_POINT);
  if (listed) {
    sourceFacts.dwFileAttributes = facts->source.attributes;
    sourceFacts.ftLastWriteTime = facts->source.lastWriteTime;
    sourceFacts.nFileSizeHigh = static_cast<DWORD>(facts->source.size >> 32);
    sourceFacts.nFileSizeLow = static_cast<DWORD>(facts->source.size);
  } else if (!GetFileInformationByHandle(source.Get(), &sourceFacts)) {
    return false;
  }
  if (sourceFacts.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }

  folderLock.Hold(folder.Path());
  std::string temporary;
  const ScopedHandle copy = CreateTemporary(sourceFolder, folder, name, temporary);
  if (!copy.IsValid()) return false;
  const uint64_t size = (uint64_t{sourceFacts.nFileSizeHigh} << 32) | sourceFacts.nFileSizeLow;
  if (!CopyBytes(source.Get(), copy.Get(), size) || !GiveSourceFacts(copy.Get(), sourceFacts)) {
    Discard(copy.Get());
    return false;
  }
  AtKillPoint(KillPoint::CopyWritten, destination);
  // A destination held open by another program cannot be replaced until it
  // is let go.
  if (!RetryWhileInUse([&] { return RenameRelative(copy.Get(), folder.Get(), name, true); })) {
    const DWORD error = GetLastError();
    Discard(copy.Get());
    SetLastError(error == ERROR_ACCESS_DENIED && IsHeldOpen(folder, name) ? ERROR_SHARING_VIOLATION
                                                                           : error);
    return false;
  }
  AtKillPoint(KillPoint::Moved, destination);
  return true;
}
