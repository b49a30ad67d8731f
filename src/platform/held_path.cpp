#include "platform/held_path.h"

#include <algorithm>

#include "platform/win32.h"

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// The top of path that no account can swap (C:\, \\server\share\, or a
// lone leading separator), empty for a relative path; and the names of
// the folders below it. The second byte of a double-byte character is
// never a separator.
void Split(const std::string& path, std::string& top, std::vector<std::string>& names) {
  size_t start = 0;
  if (path.size() >= 3 && path[1] == ':' && IsSeparator(path[2])) {
    start = 3;
  } else if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
    start = 2;
    for (int part = 0; part < 2 && start < path.size(); ++part) {
      while (start < path.size() && !IsSeparator(path[start])) {
        start += _ismbblead(static_cast<unsigned char>(path[start])) ? 2 : 1;
      }
      ++start;
    }
    start = std::min(start, path.size());
  } else if (!path.empty() && IsSeparator(path[0])) {
    start = 1;
  }
  top = path.substr(0, start);
  std::string name;
  for (size_t i = start; i < path.size(); ++i) {
    if (IsSeparator(path[i])) {
      if (!name.empty()) names.push_back(name);
      name.clear();
      continue;
    }
    name += path[i];
    if (_ismbblead(static_cast<unsigned char>(path[i])) && i + 1 < path.size()) name += path[++i];
  }
  if (!name.empty()) names.push_back(name);
}

}  // namespace

FolderEntry HeldPath::Walk(const std::string& folder, std::string* why, std::string* refused) {
  along_.clear();
  std::string top;
  std::vector<std::string> names;
  Split(folder, top, names);
  FolderEntry entry = FolderEntry::Enter;
  size_t next = 0;
  if (!top.empty()) {
    along_.push_back(HeldFolder::OpenTop(top, &entry));
    if (entry == FolderEntry::Refused && why) *why = "that cannot be opened";
  } else if (!names.empty()) {
    // A relative path, from its first folder as the current folder has it.
    along_.push_back(HeldFolder::Open(names[next++], &entry, why));
  }
  for (; next < names.size() && entry == FolderEntry::Enter; ++next) {
    HeldFolder child;
    entry = along_.back().Enter(names[next], child, why);
    along_.push_back(std::move(child));
  }
  if (along_.empty()) along_.emplace_back();
  if (entry != FolderEntry::Enter && refused) {
    std::string path = along_.back().Path();
    if (path.size() > 1 && IsSeparator(path.back())) path.pop_back();
    *refused = path;
  }
  // Held under the spelling given; where the way is cut, nothing is.
  std::string spelled = folder;
  if (!spelled.empty() && !IsSeparator(spelled.back())) spelled += '\\';
  along_.back() = entry == FolderEntry::Enter ? HeldFolder::Adopt(spelled, std::move(along_.back()))
                                              : HeldFolder(spelled);
  return entry;
}
