#include "paths/held_path.h"

#include "paths/paths.h"

FolderEntry HeldPath::Walk(const std::string& folder, std::string* why, std::string* refused) {
  along_.clear();
  std::string path = folder;
  EnsureTrailingSeparator(path);
  const std::vector<std::string> folders = FoldersAlong(path);
  FolderEntry entry = FolderEntry::Enter;
  if (folders.empty()) along_.push_back(HeldFolder::Open(path, &entry, why));
  for (const std::string& step : folders) {
    if (along_.empty()) {
      along_.push_back(HeldFolder::Open(step, &entry, why));
    } else {
      HeldFolder child;
      const HeldFolder& parent = along_.back();
      entry = parent.Enter(step.substr(parent.Path().size()), child, why);
      along_.push_back(std::move(child));
    }
    if (entry != FolderEntry::Enter) {
      if (refused) *refused = step;
      break;
    }
  }
  if (entry == FolderEntry::Enter) along_.back() = HeldFolder::Adopt(path, std::move(along_.back()));
  return entry;
}
