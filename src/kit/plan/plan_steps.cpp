#include "kit/plan/plan_steps.h"

#include "kit/facts/file_facts.h"
#include "kit/facts/install_target.h"
#include "platform/folder_identities.h"

namespace kit {

std::string PlanSteps::FolderProblem(const std::string& folder) const {
  if (plannedFolders_.count(folder)) return "";
  switch (KindOf(folder)) {
    case EntryKind::Folder: return "";
    case EntryKind::File: return "a file stands where its folder belongs";
    case EntryKind::Absent: break;
  }
  return "its folder does not exist";
}

bool PlanSteps::CreateFolder(const HeldFolder& parent, const std::string& name, HeldFolder&,
                             FolderEntry&, std::string&) {
  const std::string path = parent.Path() + name;
  const std::string problem = FolderProblem(ParentFolder(path));
  if (!problem.empty()) {
    Add("fail-folder", path, problem);
    return false;
  }
  plannedFolders_.insert(path);
  Add("create-folder", path, "");
  return true;
}

bool PlanSteps::WriteFile(FileToWrite& file, OverwritePolicy) {
  const std::string& sourceFolder = file.sourceFolder;
  const std::string& destinationFolder = file.destinationFolder;
  const std::string& name = file.name;
  const std::string destination = destinationFolder + name;
  const std::string folder = WithoutTrailingSeparator(destinationFolder);
  std::string problem = FolderProblem(folder);
  if (problem.empty() && !file.opened.shortNameOf.empty()) {
    problem = "the name is the short name of " + file.opened.shortNameOf +
              ": the installer does not write it";
  }
  const bool folderPlanned = plannedFolders_.count(folder) != 0;
  const EntryKind installed = folderPlanned ? EntryKind::Absent : KindOf(destination);
  if (problem.empty() && installed == EntryKind::Folder) {
    problem = "a folder stands where the file goes";
  }
  if (problem.empty() && !CanOpenForReading(sourceFolder + name)) {
    problem = "the kit's file cannot be read";
  }
  if (!problem.empty()) {
    Add("fail-file", destination, problem);
    return false;
  }
  if (installed == EntryKind::Absent) {
    Add("copy", destination, "");
  } else if (IsIdenticalCopy(file, true)) {
    Add("unchanged", destination, "holds the kit's bytes already: same size, time and content");
  } else {
    Add("replace", destination,
        file.opened.newerNotTrusted
            ? "the installed file is newer, but an account other than administrators owns it"
            : ReplaceReason(destination, sourceFolder + name));
  }
  return true;
}

bool PlanSteps::PassOver(FileToWrite& file) {
  if (!vouched_.Unchanged(file)) return false;
  Add("pass-over", file.destinationFolder + file.name,
      "as the last install left it, by the list of installed files: not opened");
  return true;
}

void PlanSteps::FolderDone(const std::string& sourceFolder, const HeldFolder& folder,
                           bool created, const std::vector<WalkedFile>& files) {
  vouched_.FolderDone(folder);
  if (lists_) lists_->FolderDone(sourceFolder, created, files, FolderIdentities(folder));
}

void PlanSteps::KeepFile(const std::string&, const std::string& destination) {
  Add("keep", destination, "the installed file is newer");
}

void PlanSteps::ListingFailed(const std::string& sourceFolder) {
  actions_.push_back({"fail-file", WithoutTrailingSeparator(RelativePath(sourceRoot_, sourceFolder)),
                      "this folder of the kit's SRC cannot be listed completely"});
}

void PlanSteps::RefusedLink(const std::string& destinationFolder, const std::string& why) {
  const bool inside = destinationFolder.compare(0, destinationRoot_.size(), destinationRoot_) == 0;
  actions_.push_back({"fail-file",
                      inside ? RelativePath(destinationRoot_, destinationFolder) : destinationFolder,
                      "a link " + why + ": the installer writes nothing through it"});
}

void PlanSteps::Add(const char* action, const std::string& destination, std::string reason) {
  actions_.push_back({action, RelativePath(destinationRoot_, destination), std::move(reason)});
}

}  // namespace kit
