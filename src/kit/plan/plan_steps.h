// The steps of a planned copy: each entry the walk meets is judged against
// the destination as it is, plus the folders planned before it, by the
// installer's own decisions, and listed as an action; nothing is written.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "copy/copy_walk.h"
#include "copy/vouched_files.h"
#include "kit/report/progress.h"
#include "install_list/run_lists.h"
#include "kit/report/report.h"

namespace kit {

class PlanSteps : public CopySteps {
 public:
  // Both roots as the walk takes them (ending in a separator).
  // lists: the installer's lists of installed files, or null; they are
  // told what the walk met, as the installer tells them.
  PlanSteps(std::string sourceRoot, std::string destinationRoot, std::vector<Action>& actions,
            RunLists* lists = nullptr)
      : sourceRoot_(std::move(sourceRoot)),
        destinationRoot_(std::move(destinationRoot)),
        actions_(actions),
        lists_(lists),
        vouched_(lists) {}

  bool CreateFolder(const HeldFolder& parent, const std::string& name, HeldFolder& created,
                    FolderEntry& entry, std::string& why) override;
  bool WriteFile(FileToWrite& file, OverwritePolicy policy) override;
  void KeepFile(const std::string& source, const std::string& destination) override;
  // What the list vouches for, the installer passes over unopened.
  bool PassOver(FileToWrite& file) override;
  void FileStarting(const FileToWrite& file) override {
    ProgressFile(file.sourceFolder.substr(sourceRoot_.size()) + file.name);
  }
  bool ListVouchesFor(const FileToWrite& file) override { return vouched_.LeftByLastInstall(file); }
  void FolderDone(const std::string& sourceFolder, const HeldFolder& folder, bool created,
                  const std::vector<WalkedFile>& files) override;
  void ListingFailed(const std::string& sourceFolder) override;
  void RefusedLink(const std::string& destinationFolder, const std::string& why) override;

 private:
  // "" when folder is there or planned; otherwise why nothing can go into it.
  std::string FolderProblem(const std::string& folder) const;
  void Add(const char* action, const std::string& destination, std::string reason);

  std::string sourceRoot_;
  std::string destinationRoot_;
  std::vector<Action>& actions_;
  std::set<std::string> plannedFolders_;
  RunLists* lists_;
  VouchedFiles vouched_;
};

}  // namespace kit
