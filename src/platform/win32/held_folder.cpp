// Held folders on Windows: handles that take part in sharing checks
// without delete sharing, so that a held folder can be neither renamed nor
// deleted, and NtCreateFile relative to them. A link is a reparse point of
// a name-surrogate tag (a symbolic link or a junction), opened as itself
// and judged by the security descriptors of it and of its folder, read
// through the handles held.
#include "platform/held_folder.h"

#include <aclapi.h>

#include "platform/win32/in_use_retry.h"
#include "platform/win32/link_trust.h"
#include "platform/win32/nt_files.h"

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

// What the open of path into held (it failed when held is invalid) found.
FolderEntry Judge(ScopedHandle& held, const std::string& path, HANDLE parent, std::string* why) {
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
  if (reason.empty()) return FolderEntry::Enter;
  held.Reset();
  if (why) *why = reason;
  return FolderEntry::Refused;
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
  const FolderEntry found = Judge(folder.handle_, name, INVALID_HANDLE_VALUE, why);
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
  RetryWhileInUse([&] {
    child.handle_ = OpenRelative(Get(), name, kFolderAccess, kFolderShare, kOpenExisting,
                                 kFolderOnly | kOpenReparsePoint);
    return child.handle_.IsValid();
  });
  return Judge(child.handle_, path, Get(), why);
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
