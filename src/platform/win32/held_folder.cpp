// On Windows a link is a reparse point of a name-surrogate tag (a symbolic
// link or a junction), opened as itself with FILE_FLAG_OPEN_REPARSE_POINT
// and judged by the security descriptors of it and of its folder, read
// through the handles held.
#include "platform/folder_links.h"

#include <aclapi.h>

#include "platform/win32/in_use_retry.h"
#include "platform/win32/link_trust.h"

namespace {

// Listing and traversing take part in sharing checks, so that without
// delete sharing the held folder can be neither renamed nor deleted; write
// sharing stays, since a file moved into the folder opens it for adding.
const DWORD kFolderAccess =
    READ_CONTROL | FILE_READ_ATTRIBUTES | FILE_LIST_DIRECTORY | FILE_TRAVERSE | SYNCHRONIZE;

bool IsNameSurrogate(HANDLE handle) {
  FILE_ATTRIBUTE_TAG_INFO tag{};
  return GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag) &&
         (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
         IsReparseTagNameSurrogate(tag.ReparseTag);
}

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

}  // namespace

FolderEntry EnterFolder(const std::string& path, ScopedHandle& held, HANDLE parent,
                        std::string* why) {
  const auto open = [&] {
    held = ScopedHandle(CreateFileA(path.c_str(), kFolderAccess, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                    nullptr));
    return held.IsValid();
  };
  if (!RetryWhileInUse(open)) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return FolderEntry::Absent;
    // A link whose owner lets nobody else open it must not be walked
    // through by name.
    if (why) *why = "that cannot be opened (error " + std::to_string(error) + ")";
    return FolderEntry::Refused;
  }
  // The handle tells; Wine shows its links by name only, so the name's
  // attributes are a second signal.
  const DWORD named = GetFileAttributesA(path.c_str());
  const bool link = IsNameSurrogate(held.Get()) ||
                    (named != INVALID_FILE_ATTRIBUTES && (named & FILE_ATTRIBUTE_REPARSE_POINT));
  if (!link) return FolderEntry::Enter;
  Descriptor linkDescriptor, parentDescriptor;
  std::string reason = "whose permissions cannot be read";
  if (linkDescriptor.Read(held.Get())) {
    reason = WhyLinkIsNotFollowed(linkDescriptor.Get(),
                                  parentDescriptor.Read(parent) ? parentDescriptor.Get() : nullptr);
  }
  if (reason.empty()) return FolderEntry::Enter;
  held.Reset();
  if (why) *why = reason;
  return FolderEntry::Refused;
}
