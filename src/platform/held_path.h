// A folder reached as an elevated run must reach it: from the top of its
// volume down, each folder entered from the one above by the link rule of
// held folders, and all of them held while this lives, so that none on the
// way can be renamed or swapped for a link meanwhile.
#pragma once

#include <string>
#include <vector>

#include "platform/held_folder.h"

class HeldPath {
 public:
  // Holds the folders of folder from the top of its volume, the last under
  // the spelling given. What the last step found: Enter when all are held;
  // otherwise the last holds nothing, and refused names the folder where
  // the way is cut, why as HeldFolder::Enter says it.
  FolderEntry Walk(const std::string& folder, std::string* why = nullptr,
                   std::string* refused = nullptr);
  // The folder walked to; holds nothing unless Walk gave Enter.
  const HeldFolder& Last() const { return along_.back(); }

 private:
  std::vector<HeldFolder> along_{1};
};
