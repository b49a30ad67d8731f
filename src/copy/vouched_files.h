// Which files of a walk the previous list of installed files vouches for.
#pragma once

#include <map>

#include "copy/copy_walk.h"
#include "install_list/run_lists.h"
#include "platform/folder_identities.h"

// Which files of a walk the previous list vouches for: each folder's
// identities read once, its trust judged once.
class VouchedFiles {
 public:
  explicit VouchedFiles(const RunLists* lists) : lists_(lists) {}

  bool Unchanged(const FileToWrite& file);
  // Whether the previous list names file as installed, with the identity
  // its folder shows now: a newer file that the last install left.
  bool LeftByLastInstall(const FileToWrite& file);
  void FolderDone(const HeldFolder& folder) { looked_.erase(&folder); }

 private:
  struct Looked {
    explicit Looked(const HeldFolder& folder) : identities(folder) {}
    FolderIdentities identities;
    int vouch = -1;  // not judged yet
  };

  const RunLists* lists_;
  std::map<const HeldFolder*, Looked> looked_;
};
