#include "platform/folder_links.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>

#include "standin_internal.h"
#include "trusted_path.h"

FolderEntry EnterFolder(const std::string& path, ScopedHandle&, HANDLE, std::string* why) {
  standin::UniqueFd folder;
  std::string name;
  struct stat status;
  if (!standin::OpenParent(standin::ToPosixPath(path.c_str()), folder, name) ||
      fstatat(folder.Get(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno != EACCES) return FolderEntry::Absent;
    if (why) *why = "that cannot be opened";
    return FolderEntry::Refused;
  }
  if (S_ISLNK(status.st_mode) && !standin::IsTrustedOwner(status.st_uid)) {
    if (why) *why = "that another account made";
    return FolderEntry::Refused;
  }
  return FolderEntry::Enter;
}
