#include "app/log_file.h"

#include "platform/log_file.h"
#include "platform/win32.h"

namespace {

// Where the last name of path begins: after its last separator that is no
// second byte of a double-byte character.
size_t NameStart(const std::string& path) {
  size_t start = 0;
  for (size_t i = 0; i < path.size(); ++i) {
    const auto byte = static_cast<unsigned char>(path[i]);
    if (_ismbblead(byte) && i + 1 < path.size()) {
      ++i;
    } else if (byte == '\\' || byte == '/') {
      start = i + 1;
    }
  }
  return start;
}

}  // namespace

bool LogFile::Open(const std::string& path, std::string& why) {
  file_.Reset();
  char full[MAX_PATH];
  const DWORD length = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
  if (path.empty() || length == 0 || length >= sizeof full) {
    why = "its path cannot be made full";
    return false;
  }
  const std::string fullPath(full, length);
  const size_t start = NameStart(fullPath);
  const std::string name = fullPath.substr(start);
  if (start == 0 || name.empty()) {
    why = "its path names a folder";
    return false;
  }
  std::string linkWhy, refused;
  const FolderEntry entry = folder_.Walk(fullPath.substr(0, start), &linkWhy, &refused);
  if (entry != FolderEntry::Enter) {
    why = entry == FolderEntry::Refused      ? refused + " is a link " + linkWhy
          : entry == FolderEntry::NotAFolder ? refused + " is no folder"
                                             : "its folder " + refused + " does not exist";
    return false;
  }
  std::string what;
  file_ = OpenLogIn(folder_.Last(), name, what);
  if (!file_.IsValid()) {
    why = "it is " + what;
    return false;
  }
  return true;
}

bool LogFile::Append(const std::string& text) const {
  return file_.IsValid() && AppendToLog(file_.Get(), text);
}
