#include "install_list/listed_removal.h"

#include <algorithm>

#include "platform/afx/file_find.h"
#include "platform/entry_removal.h"
#include "platform/folder_identities.h"
#include "platform/log_file.h"
#include "platform/replace_file.h"
#include "platform/stall_watch.h"
#include "platform/win32.h"

namespace {

std::string WhyFailed(DWORD error) {
  if (error == ERROR_SHARING_VIOLATION) {
    return "in use by another program";
  }
  const std::string message = SystemErrorMessage(error);
  return "error " + std::to_string(error) + (message.empty() ? "" : ": " + message);
}

}  // namespace

std::pair<std::string, std::string> SplitListedPath(const std::string& path) {
  size_t name = 0;
  for (size_t i = 0; i < path.size(); ++i) {
    const auto c = static_cast<unsigned char>(path[i]);
    if (_ismbblead(c) && i + 1 < path.size()) {
      ++i;
    } else if (c == '\\') {
      name = i + 1;
    }
  }
  return {path.substr(0, name), path.substr(name)};
}

ListedRemoval::ListedRemoval(std::string installDirectory, std::vector<uint64_t> otherListed,
                             bool dryRun)
    : root_(std::move(installDirectory)),
      otherListed_(std::move(otherListed)),
      dryRun_(dryRun),
      written_(root_) {}

void ListedRemoval::LetGoOf(const std::string& folder) {
  while (!held_.empty() && held_.back().first.compare(0, folder.size(), folder) == 0 &&
         held_.back().first.size() >= folder.size()) {
    held_.pop_back();
  }
}

const HeldFolder* ListedRemoval::Hold(const std::string& folder, bool& absent, std::string& why) {
  absent = false;
  while (!held_.empty() && folder.compare(0, held_.back().first.size(), held_.back().first) != 0) {
    held_.pop_back();
  }
  if (held_.empty()) {
    // From the top of the volume down, as the copy goes: no folder on the
    // way may be a link that another account could have made.
    std::string link, refused;
    const FolderEntry entry = rootPath_.Walk(root_, &link, &refused);
    if (entry != FolderEntry::Enter) {
      absent = entry == FolderEntry::Absent || entry == FolderEntry::NotAFolder;
      if (!absent) why = refused + " is a link " + link;
      return nullptr;
    }
    held_.emplace_back("", rootPath_.Last().HoldAgain());
  }
  while (held_.back().first.size() < folder.size()) {
    const std::string& at = held_.back().first;
    const std::string rest = folder.substr(at.size());
    // The next component of rest, up to its first separator.
    std::string component;
    for (size_t i = 0; i < rest.size(); ++i) {
      const auto c = static_cast<unsigned char>(rest[i]);
      if (c == '\\') break;
      component += rest[i];
      if (_ismbblead(c) && i + 1 < rest.size()) component += rest[++i];
    }
    HeldFolder child;
    std::string link;
    const FolderEntry entry = held_.back().second.Enter(component, child, &link);
    if (entry != FolderEntry::Enter) {
      absent = entry == FolderEntry::Absent || entry == FolderEntry::NotAFolder;
      if (!absent) why = "a link " + link + " leads to it";
      return nullptr;
    }
    held_.emplace_back(at + component + "\\", std::move(child));
  }
  return &held_.back().second;
}

RemovalOutcome ListedRemoval::RemoveFile(const InstalledFile& file, std::string& why) {
  stall_watch::Progress();
  if (file.origin == FileOrigin::ThereBefore) return RemovalOutcome::KeptThereBefore;
  if (std::binary_search(otherListed_.begin(), otherListed_.end(), PathHash(file.path))) {
    return RemovalOutcome::KeptOtherList;
  }
  const auto [folderPath, name] = SplitListedPath(file.path);
  bool absent = false;
  const HeldFolder* folder = Hold(folderPath, absent, why);
  if (!folder) return absent ? RemovalOutcome::Gone : RemovalOutcome::Remains;
  if (dryRun_) {
    FileIdentity found;
    if (FolderIdentities(*folder).Find(name, found)) {
      if (!(found == file.destination)) return RemovalOutcome::KeptChanged;
      wouldGo_.insert(file.path);
      return RemovalOutcome::Removed;
    }
    return AttributesIn(*folder, name) == INVALID_FILE_ATTRIBUTES ? RemovalOutcome::Gone
                                                                   : RemovalOutcome::KeptChanged;
  }
  return Outcome(RemoveFileIfUnchanged(*folder, name, file.destination), *folder, folderPath,
                 RemovalOutcome::KeptChanged, why);
}

RemovalOutcome ListedRemoval::Outcome(Removal removal, const HeldFolder& folder,
                                      const std::string& folderPath, RemovalOutcome kept,
                                      std::string& why) {
  switch (removal) {
    case Removal::Removed:
      // Each folder's volume is noted once for the flush.
      if (!removedAny_ || folderPath != noted_) written_.NoteFolder(folder, false);
      noted_ = folderPath;
      removedAny_ = true;
      return RemovalOutcome::Removed;
    case Removal::Absent: return RemovalOutcome::Gone;
    case Removal::Kept: return kept;
    case Removal::Failed: break;
  }
  why = WhyFailed(GetLastError());
  return RemovalOutcome::Remains;
}

RemovalOutcome ListedRemoval::RemoveFolder(const std::string& path, std::string& why) {
  stall_watch::Progress();
  if (std::binary_search(otherListed_.begin(), otherListed_.end(), PathHash(path))) {
    return RemovalOutcome::KeptOtherList;
  }
  const auto [parentPath, name] = SplitListedPath(path);
  // Nothing of this run holds the folder when it goes.
  LetGoOf(path + "\\");
  bool absent = false;
  const HeldFolder* parent = Hold(parentPath, absent, why);
  if (!parent) return absent ? RemovalOutcome::Gone : RemovalOutcome::Remains;
  if (dryRun_) return FolderWouldGo(*parent, path, name);
  return Outcome(RemoveEmptyFolder(*parent, name), *parent, parentPath,
                 RemovalOutcome::KeptNotEmpty, why);
}

// As RemoveEmptyFolder decides: a link or a file at the name stays, and so
// does a folder that would still hold anything.
RemovalOutcome ListedRemoval::FolderWouldGo(const HeldFolder& parent, const std::string& path,
                                            const std::string& name) {
  const DWORD attributes = AttributesIn(parent, name);
  if (attributes == INVALID_FILE_ATTRIBUTES) return RemovalOutcome::Gone;
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    return RemovalOutcome::KeptNotEmpty;
  }
  afx::CFileFind finder;
  if (!finder.FindFile((parent.Path() + name + "\\*.*").c_str())) {
    return RemovalOutcome::KeptNotEmpty;
  }
  for (bool more = true; more;) {
    more = finder.FindNextFile();
    if (!finder.IsDots() && !wouldGo_.count(path + "\\" + finder.GetFileName())) {
      return RemovalOutcome::KeptNotEmpty;
    }
  }
  if (finder.ListingFailed()) return RemovalOutcome::KeptNotEmpty;
  wouldGo_.insert(path);
  return RemovalOutcome::Removed;
}

bool ListedRemoval::Flush() {
  held_.clear();
  noted_.clear();
  return !removedAny_ || written_.Flush();
}
