#include "platform/folder_links.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>

#include "standin_internal.h"
#include "trusted_path.h"

FolderEntry EnterFolder(const std::string& path, ScopedHandle&) {
  standin::UniqueFd folder;
  std::string name;
  struct stat status;
  if (!standin::OpenParent(standin::ToPosixPath(path.c_str()), folder, name) ||
      fstatat(folder.Get(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
    return errno == EACCES ? FolderEntry::UntrustedLink : FolderEntry::Absent;
  }
  if (S_ISLNK(status.st_mode) && !standin::IsTrustedOwner(status.st_uid)) {
    return FolderEntry::UntrustedLink;
  }
  return FolderEntry::Enter;
}
