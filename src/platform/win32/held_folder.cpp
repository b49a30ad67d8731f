// Held folders on Windows: handles that take part in sharing checks
// without delete sharing, so that a held folder can be neither renamed nor
// deleted, and NtCreateFile relative to them. A link is a reparse point of
// a name-surrogate tag (a symbolic link or a junction), opened as itself
// and judged by the security descriptors of it and of its folder, read
// through the handles held. A link that may be followed is followed by
// hand: calls relative to the link's own handle would work in the link's
// folder, not in its target, so its target is walked to from the top of
// its volume by the same rule, and that folder is held.
#include "platform/held_folder.h"

#include <aclapi.h>
// After windows.h, which they need.
#include <winioctl.h>
#include <winternl.h>

#include <vector>

#include "platform/link_target.h"
#include "platform/win32/in_use_retry.h"
#include "platform/win32/link_trust.h"
#include "platform/win32/nt_files.h"
#include "platform/win32/reparse_target.h"

namespace {

// Listing and traversing take part in sharing checks; write sharing stays,
// since a file moved into the folder opens it for adding.
const DWORD kFolderAccess =
    READ_CONTROL | FILE_READ_ATTRIBUTES | FILE_LIST_DIRECTORY | FILE_TRAVERSE | SYNCHRONIZE;
const DWORD kFolderShare = FILE_SHARE_READ | FILE_SHARE_WRITE;

class Descriptor {
 public:
  ~Descriptor() {
    if (descriptor_) LocalFree(descriptor_);
  }
  // The owner and DACL of what handle holds.
  bool Read(HANDLE handle) {
    return handle != INVALID_HANDLE_VALUE && handle &&
           GetSecurityInfo(handle, SE_FILE_OBJECT,
                           OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr,
                           nullptr, nullptr, nullptr, &descriptor_) == ERROR_SUCCESS;
  }
  PSECURITY_DESCRIPTOR Get() const { return descriptor_; }

 private:
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;
};

// As many links as one walk follows: a link to itself, or two to each
// other, must end.
const int kMostLinks = 32;

// The top of a volume or a share, where a walk begins, held as a folder
// is; invalid with the last error set.
ScopedHandle OpenTopOfVolume(const std::string& top) {
  ScopedHandle folder;
  RetryWhileInUse([&] {
    folder = ScopedHandle(CreateFileA(top.c_str(), kFolderAccess, kFolderShare, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return folder.IsValid();
  });
  return folder;
}

FolderEntry Refuse(ScopedHandle& held, const std::string& reason, std::string* why) {
  held.Reset();
  if (why) *why = reason;
  return FolderEntry::Refused;
}

FolderEntry Judge(ScopedHandle& held, const std::string& path, HANDLE parent, std::string* why,
                  int& links);

// Opens name in folder, whose path path names, and judges it.
FolderEntry OpenJudged(HANDLE folder, const std::string& name, const std::string& path,
                       ScopedHandle& child, std::string* why, int& links) {
  RetryWhileInUse([&] {
    child = OpenRelative(folder, name, kFolderAccess, kFolderShare, kOpenExisting,
                         kFolderOnly | kOpenReparsePoint);
    return child.IsValid();
  });
  return Judge(child, path, folder, why, links);
}

// The folder the trusted link that held holds leads to, walked to from the
// top of its volume with every link on the way judged again; held then
// holds it. The link's own full path, from its handle, places a relative
// target as Windows places it: within the link's volume, named by its GUID
// where it has one.
FolderEntry Follow(ScopedHandle& held, std::string* why, int& links) {
  if (++links > kMostLinks) return Refuse(held, "whose target leads through too many links", why);
  std::vector<BYTE> data(MAXIMUM_REPARSE_DATA_BUFFER_SIZE);
  DWORD got = 0;
  std::vector<WCHAR> linkPath(32768);
  const DWORD room = static_cast<DWORD>(linkPath.size());
  DWORD length = 0;
  if (DeviceIoControl(held.Get(), FSCTL_GET_REPARSE_POINT, nullptr, 0, data.data(),
                      static_cast<DWORD>(data.size()), &got, nullptr)) {
    for (DWORD volumeName : {VOLUME_NAME_GUID, VOLUME_NAME_DOS}) {
      length = GetFinalPathNameByHandleW(held.Get(), linkPath.data(), room, volumeName);
      if (length != 0 && length < room) break;
    }
  }
  if (length == 0 || length >= room) return Refuse(held, "whose target cannot be read", why);
  std::wstring linkFolder(linkPath.data(), length);
  linkFolder.erase(linkFolder.rfind(L'\\') + 1);
  ReparseTarget target;
  std::string reason;
  if (!ReadReparseTarget(data.data(), got, linkFolder, target, reason)) {
    return Refuse(held, reason, why);
  }
  ScopedHandle folder = OpenTopOfVolume(target.top);
  if (!folder.IsValid()) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
      held.Reset();
      return FolderEntry::Absent;
    }
    reason = "whose target's drive cannot be opened (error " + std::to_string(error) + ")";
    return Refuse(held, reason, why);
  }
  std::string path = target.top;
  for (const std::string& name : target.names) {
    path += name;
    ScopedHandle next;
    const FolderEntry entry = OpenJudged(folder.Get(), name, path, next, why, links);
    if (entry != FolderEntry::Enter) {
      held.Reset();
      return entry;
    }
    folder = std::move(next);
    path += '\\';
  }
  held = std::move(folder);
  return FolderEntry::Enter;
}

// What the open of path into held (it failed when held is invalid) found.
FolderEntry Judge(ScopedHandle& held, const std::string& path, HANDLE parent, std::string* why,
                  int& links) {
  if (!held.IsValid()) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return FolderEntry::Absent;
    // A file in a folder's place: opened as a folder it is no folder.
    if (error == ERROR_DIRECTORY) return FolderEntry::NotAFolder;
    // A link whose owner lets nobody else open it must not be walked
    // through by name.
    if (why) *why = "that cannot be opened (error " + std::to_string(error) + ")";
    return FolderEntry::Refused;
  }
  // The handle tells; Wine shows its links by name only, so the name's
  // attributes are a second signal where the handle shows no reparse point.
  FILE_ATTRIBUTE_TAG_INFO tag{};
  const bool read = GetFileInformationByHandleEx(held.Get(), FileAttributeTagInfo, &tag, sizeof tag);
  const DWORD named = GetFileAttributesA(path.c_str());
  if (!IsLinkFolder(read != FALSE, tag.FileAttributes, tag.ReparseTag, named)) {
    return FolderEntry::Enter;
  }
  // The top of a walk has no held parent to judge; a parent that is held
  // but whose permissions cannot be read could let anyone swap the link.
  Descriptor linkDescriptor, parentDescriptor;
  const bool hasParent = parent != INVALID_HANDLE_VALUE && parent;
  std::string reason = "whose permissions cannot be read";
  if (linkDescriptor.Read(held.Get())) {
    if (!hasParent) {
      reason = WhyLinkIsNotFollowed(linkDescriptor.Get(), nullptr);
    } else if (parentDescriptor.Read(parent)) {
      reason = WhyLinkIsNotFollowed(linkDescriptor.Get(), parentDescriptor.Get());
    } else {
      reason = "whose folder's permissions cannot be read";
    }
  }
  // What the link says, read through the handle that judged it.
  std::string target;
  if (!reason.empty() && ReadLinkTextOf(held.Get(), target)) reason = "to " + target + " " + reason;
  if (!reason.empty()) return Refuse(held, reason, why);
  // Wine has followed its Unix links already: the handle is the target's.
  if (!read || !(tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) return FolderEntry::Enter;
  return Follow(held, why, links);
}

bool IsDotName(const std::string& name) { return name == "." || name == ".."; }

}  // namespace

HeldFolder HeldFolder::Open(const std::string& path, FolderEntry* entry, std::string* why) {
  HeldFolder folder(AsFolderPath(path));
  const std::string& name = path;
  RetryWhileInUse([&] {
    folder.handle_ = ScopedHandle(CreateFileA(
        name.c_str(), kFolderAccess, kFolderShare, nullptr, OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    return folder.handle_.IsValid();
  });
  // A file opened with backup semantics opens too: it is no folder.
  BY_HANDLE_FILE_INFORMATION facts;
  if (folder.handle_.IsValid() && GetFileInformationByHandle(folder.handle_.Get(), &facts) &&
      !(facts.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    folder.handle_.Reset();
    SetLastError(ERROR_DIRECTORY);
  }
  int links = 0;
  const FolderEntry found = Judge(folder.handle_, name, INVALID_HANDLE_VALUE, why, links);
  if (entry) *entry = found;
  return folder;
}

FolderEntry HeldFolder::Enter(const std::string& name, HeldFolder& child, std::string* why) const {
  child = HeldFolder(path_ + name + '\\');
  const std::string path = path_ + name;
  // Beyond MAX_PATH the Win32 calls find nothing.
  if (!IsHeld() || path.size() >= kFilePathLimit) return FolderEntry::Absent;
  // "." and ".." are no names of a folder's own: the path says where they lead.
  if (IsDotName(name)) {
    FolderEntry entry;
    child = Adopt(child.path_, Open(path, &entry, why));
    return entry;
  }
  int links = 0;
  return OpenJudged(Get(), name, path, child.handle_, why, links);
}

HeldFolder HeldFolder::OpenTop(const std::string& top, FolderEntry* entry) {
  HeldFolder folder(AsFolderPath(top));
  folder.handle_ = OpenTopOfVolume(folder.path_);
  const DWORD error = GetLastError();
  if (entry) {
    *entry = folder.handle_.IsValid() ? FolderEntry::Enter
             : error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
                     error == ERROR_BAD_NETPATH || error == ERROR_BAD_NET_NAME
                 ? FolderEntry::Absent
                 : FolderEntry::Refused;
  }
  return folder;
}

HeldFolder HeldFolder::HoldAgain() const {
  HeldFolder again(path_);
  HANDLE copy = nullptr;
  if (IsHeld() && DuplicateHandle(GetCurrentProcess(), Get(), GetCurrentProcess(), &copy, 0, FALSE,
                                  DUPLICATE_SAME_ACCESS)) {
    again.handle_ = ScopedHandle(copy);
  }
  return again;
}

bool HeldFolder::Create(const std::string& name, HeldFolder& child) const {
  child = HeldFolder(path_ + name + '\\');
  if (!IsHeld() || IsDotName(name)) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return false;
  }
  if ((path_ + name).size() >= kFolderPathLimit) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  // Created with the permissions it inherits, as CreateDirectoryA makes it.
  child.handle_ = OpenRelative(Get(), name, kFolderAccess, kFolderShare, kCreateNew,
                               kFolderOnly | kOpenReparsePoint);
  return child.handle_.IsValid();
}

ScopedHandle HeldFolder::OpenForReading(const std::string& name, FILETIME* lastWrite) const {
  if (!IsHeld() || (path_ + name).size() >= kFilePathLimit) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return ScopedHandle();
  }
  // The entry itself: what a link leads to is never read, and a file with
  // other names may be anyone's. The replace moves over the entry.
  ScopedHandle file = OpenRelative(Get(), name, GENERIC_READ, FILE_SHARE_READ, kOpenExisting,
                                   kFileOnly | kOpenReparsePoint);
  BY_HANDLE_FILE_INFORMATION facts;
  if (!file.IsValid()) return file;
  if (!GetFileInformationByHandle(file.Get(), &facts)) {
    const DWORD error = GetLastError();
    file.Reset();
    SetLastError(error);
    return file;
  }
  if ((facts.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || facts.nNumberOfLinks != 1) {
    file.Reset();
    SetLastError(ERROR_CANT_ACCESS_FILE);
    return file;
  }
  if (lastWrite) *lastWrite = facts.ftLastWriteTime;
  return file;
}

bool HeldFolder::QueryVolume(VolumeSpace& space) const {
  BY_HANDLE_FILE_INFORMATION facts;
  if (!IsHeld()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  if (!GetFileInformationByHandle(Get(), &facts)) return false;
  // The units free to the caller are those its quota leaves it.
  FILE_FS_FULL_SIZE_INFORMATION size{};
  IO_STATUS_BLOCK io{};
  const NTSTATUS status =
      NtQueryVolumeInformationFile(Get(), &io, &size, sizeof size, FileFsFullSizeInformation);
  if (status < 0) {
    SetLastError(RtlNtStatusToDosError(status));
    return false;
  }
  space.volume = facts.dwVolumeSerialNumber;
  space.allocationUnit = static_cast<uint64_t>(size.SectorsPerAllocationUnit) * size.BytesPerSector;
  space.freeToCaller =
      static_cast<uint64_t>(size.CallerAvailableAllocationUnits.QuadPart) * space.allocationUnit;
  return true;
}

std::string OwnNameOf(HANDLE file, const std::string& name) {
  // The path from the top of the volume; its last part is the file's own
  // name, whatever name opened it.
  alignas(FILE_NAME_INFO) char buffer[sizeof(FILE_NAME_INFO) + 2 * MAX_PATH * sizeof(WCHAR)];
  auto* info = reinterpret_cast<FILE_NAME_INFO*>(buffer);
  if (!GetFileInformationByHandleEx(file, FileNameInfo, info, sizeof buffer)) return name;
  const WCHAR* path = info->FileName;
  const int end = static_cast<int>(info->FileNameLength / sizeof(WCHAR));
  int start = end;
  while (start > 0 && path[start - 1] != L'\\') --start;
  const UINT codePage = AreFileApisANSI() ? CP_ACP : CP_OEMCP;
  WCHAR given[MAX_PATH];
  const int givenLength =
      MultiByteToWideChar(codePage, 0, name.data(), static_cast<int>(name.size()), given, MAX_PATH);
  if (givenLength <= 0 ||
      CompareStringOrdinal(given, givenLength, path + start, end - start, TRUE) == CSTR_EQUAL) {
    return name;
  }
  const int bytes =
      WideCharToMultiByte(codePage, 0, path + start, end - start, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return name;
  std::string own(bytes, '\0');
  WideCharToMultiByte(codePage, 0, path + start, end - start, &own[0], bytes, nullptr, nullptr);
  return own;
}
