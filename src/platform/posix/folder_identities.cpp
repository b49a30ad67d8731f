#include "platform/folder_identities.h"

#include <fcntl.h>
#include <sys/stat.h>

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
  identity.size = static_cast<uint64_t>(status.st_size);
  identity.lastWriteTime = Ticks(status.st_mtim);
  identity.changeTime = Ticks(status.st_ctim);
  identity.fileId = status.st_ino;
  identity.volume = status.st_dev;
  return true;
}
