// Removal on Windows: the entry is opened relative to its folder, as itself
// (never through a link), its identity read from that handle, and the
// handle marked for deletion. A file in use is waited for as the copy waits.
#include "platform/entry_removal.h"

#include "platform/win32/in_use_retry.h"
#include "platform/win32/nt_files.h"

namespace {

constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool IsAbsence(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool MarkForDeletion(HANDLE handle) {
  FILE_DISPOSITION_INFO remove{TRUE};
  return SetFileInformationByHandle(handle, FileDispositionInfo, &remove, sizeof remove);
}

// Opens name as itself; Absent, Failed with the last error, or Removed for
// "opened".
Removal OpenEntry(const HeldFolder& folder, const std::string& name, ACCESS_MASK access,
                  ULONG options, ScopedHandle& handle) {
  if (!folder.IsHeld()) return Removal::Absent;
  const bool opened = RetryWhileInUse([&] {
    handle = OpenRelative(folder.Get(), name, access, kShareAll, kOpenExisting,
                          options | kOpenReparsePoint);
    return handle.IsValid();
  });
  if (opened) return Removal::Removed;
  return IsAbsence(GetLastError()) ? Removal::Absent : Removal::Failed;
}

}  // namespace

Removal RemoveFileIfUnchanged(const HeldFolder& folder, const std::string& name,
                              const FileIdentity& expected) {
  ScopedHandle handle;
  // Opened whatever it is: a folder of that name is told from the handle.
  const Removal opened =
      OpenEntry(folder, name, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, 0, handle);
  if (opened != Removal::Removed) return opened;
  BY_HANDLE_FILE_INFORMATION facts;
  FILE_BASIC_INFO basic;
  if (!GetFileInformationByHandle(handle.Get(), &facts) ||
      !GetFileInformationByHandleEx(handle.Get(), FileBasicInfo, &basic, sizeof basic)) {
    return Removal::Failed;
  }
  FileIdentity found;
  found.size = (static_cast<uint64_t>(facts.nFileSizeHigh) << 32) | facts.nFileSizeLow;
  found.lastWriteTime = static_cast<uint64_t>(basic.LastWriteTime.QuadPart);
  found.changeTime = static_cast<uint64_t>(basic.ChangeTime.QuadPart);
  found.fileId = (static_cast<uint64_t>(facts.nFileIndexHigh) << 32) | facts.nFileIndexLow;
  found.volume = facts.dwVolumeSerialNumber;
  if ((basic.FileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) ||
      found != expected) {
    return Removal::Kept;
  }
  // A read-only file cannot be marked for deletion: its attribute goes
  // first, through the same handle, and comes back if the deletion fails.
  const bool readOnly = (basic.FileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
  if (readOnly) {
    FILE_BASIC_INFO cleared{};
    cleared.FileAttributes = basic.FileAttributes & ~FILE_ATTRIBUTE_READONLY;
    if (cleared.FileAttributes == 0) cleared.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    if (!SetFileInformationByHandle(handle.Get(), FileBasicInfo, &cleared, sizeof cleared)) {
      return Removal::Failed;
    }
  }
  if (MarkForDeletion(handle.Get())) return Removal::Removed;
  const DWORD error = GetLastError();
  if (readOnly) {
    FILE_BASIC_INFO restored{};
    restored.FileAttributes = basic.FileAttributes;
    SetFileInformationByHandle(handle.Get(), FileBasicInfo, &restored, sizeof restored);
  }
  SetLastError(error);
  return Removal::Failed;
}

Removal RemoveEmptyFolder(const HeldFolder& parent, const std::string& name) {
  ScopedHandle handle;
  const Removal opened =
      OpenEntry(parent, name, DELETE | FILE_READ_ATTRIBUTES, kFolderOnly, handle);
  if (opened != Removal::Removed) {
    return opened == Removal::Failed && GetLastError() == ERROR_DIRECTORY ? Removal::Kept : opened;
  }
  FILE_BASIC_INFO basic;
  if (!GetFileInformationByHandleEx(handle.Get(), FileBasicInfo, &basic, sizeof basic)) {
    return Removal::Failed;
  }
  if (basic.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return Removal::Kept;
  if (MarkForDeletion(handle.Get())) return Removal::Removed;
  return GetLastError() == ERROR_DIR_NOT_EMPTY ? Removal::Kept : Removal::Failed;
}

bool RunsAsAdministrator() {
  BYTE sid[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof sid;
  BOOL member = FALSE;
  return CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &size) &&
         CheckTokenMembership(nullptr, sid, &member) && member;
}
