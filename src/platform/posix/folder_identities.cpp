#include "platform/folder_identities.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "standin_internal.h"
#include "trusted_path.h"

namespace {

uint64_t Ticks(const struct timespec& time) {
  constexpr int64_t kSecondsFrom1601To1970 = 11644473600;
  return static_cast<uint64_t>((time.tv_sec + kSecondsFrom1601To1970) * 10000000 +
                               time.tv_nsec / 100);
}

}  // namespace

bool FolderIdentities::Vouch() const {
  struct stat status;
  return folder_->IsHeld() && fstat(standin::DescriptorOf(folder_->Get()), &status) == 0 &&
         standin::IsTrustedOwner(status.st_uid) && !(status.st_mode & (S_IWGRP | S_IWOTH));
}

bool FolderIdentities::Find(const std::string& name, FileIdentity& identity) const {
  struct stat status;
  if (!folder_->IsHeld() || !standin::IsPlainName(name) ||
      fstatat(standin::DescriptorOf(folder_->Get()), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0 ||
      !S_ISREG(status.st_mode)) {
    return false;
  }
  identity = standin::IdentityOf(status);
  return true;
}

FileIdentity standin::IdentityOf(const struct stat& status) {
  FileIdentity identity;
  identity.size = static_cast<uint64_t>(status.st_size);
  identity.lastWriteTime = Ticks(status.st_mtim);
  identity.changeTime = Ticks(status.st_ctim);
  identity.fileId = status.st_ino;
  identity.volume = status.st_dev;
  return identity;
}

std::vector<std::string> FolderIdentities::Names() const {
  std::vector<std::string> names;
  if (!folder_->IsHeld()) return names;
  const int at = standin::DescriptorOf(folder_->Get());
  const int fd = openat(at, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return names;
  DIR* listing = fdopendir(fd);
  if (!listing) {
    close(fd);
    return names;
  }
  while (const dirent* entry = readdir(listing)) {
    struct stat status;
    if (fstatat(at, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(status.st_mode)) {
      names.emplace_back(entry->d_name);
    }
  }
  closedir(listing);
  std::sort(names.begin(), names.end());
  return names;
}
