#include "kit/verify/verify_steps.h"

#include "kit/facts/file_facts.h"
#include "kit/facts/install_target.h"
#include "platform/folder_identities.h"

namespace kit {

bool VerifySteps::CreateFolder(const HeldFolder& parent, const std::string& name, HeldFolder&,
                               FolderEntry&, std::string&) {
  missingFolders_.insert(parent.Path() + name);
  return true;
}

bool VerifySteps::WriteFile(FileToWrite& file, OverwritePolicy) {
  const std::string& sourceFolder = file.sourceFolder;
  const std::string& destinationFolder = file.destinationFolder;
  const std::string& name = file.name;
  const std::string installed = destinationFolder + name;
  const std::string source = sourceFolder + name;
  const char* state = "differs";
  uint64_t installedTime = 0, sourceTime = 0;
  if (KindOf(installed) == EntryKind::Absent) {
    state = "missing";
  } else if (ReadWriteTime(installed, installedTime) && ReadWriteTime(source, sourceTime) &&
             installedTime == sourceTime && SameContent(installed, source)) {
    state = "same";
  } else if (ChangedSinceInstalled(file)) {
    state = "changed-since-install";
  }
  Add(installed, state);
  return true;
}

bool VerifySteps::ChangedSinceInstalled(const FileToWrite& file) const {
  const InstalledFile* listed = lists_ ? lists_->Listed(file.sourceFolder, file.name) : nullptr;
  if (!listed || !file.folder) return false;
  FileIdentity identity;
  return !FolderIdentities(*file.folder).Find(file.name, identity) ||
         identity != listed->destination;
}

void VerifySteps::KeepFile(const std::string& source, const std::string& destination) {
  Add(destination, SameContent(destination, source) ? "same" : "kept-newer");
}

void VerifySteps::ListingFailed(const std::string& sourceFolder) {
  unlistedFolders_.push_back(WithoutTrailingSeparator(RelativePath(sourceRoot_, sourceFolder)));
}

void VerifySteps::Add(const std::string& destination, const char* state) {
  files_.push_back({RelativePath(destinationRoot_, destination), state, false});
}

}  // namespace kit
