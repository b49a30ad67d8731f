// The steps of a verification: the walk tells, for each file of SRC,
// whether the installer would write it (the installed one is not newer, or
// not there) or keep it (newer); the step compares it with the kit's.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "copy/copy_walk.h"
#include "kit/report/progress.h"
#include "install_list/run_lists.h"
#include "kit/report/report.h"

namespace kit {

class VerifySteps : public CopySteps {
 public:
  // Both roots as the walk takes them (ending in a separator).
  // lists: the installer's lists of installed files, or null.
  VerifySteps(std::string sourceRoot, std::string destinationRoot, std::vector<FileState>& files,
              const RunLists* lists = nullptr)
      : sourceRoot_(std::move(sourceRoot)),
        destinationRoot_(std::move(destinationRoot)),
        files_(files),
        lists_(lists) {}

  // A missing folder: noted (see missingFolders), and walked on as if created.
  bool CreateFolder(const HeldFolder& parent, const std::string& name, HeldFolder& created,
                    FolderEntry& entry, std::string& why) override;
  bool WriteFile(FileToWrite& file, OverwritePolicy policy) override;
  void KeepFile(const std::string& source, const std::string& destination) override;
  void ListingFailed(const std::string& sourceFolder) override;
  void FileStarting(const FileToWrite& file) override {
    ProgressFile(file.sourceFolder.substr(sourceRoot_.size()) + file.name);
  }

  // The SRC folders that could not be listed completely, relative to SRC.
  const std::vector<std::string>& unlistedFolders() const { return unlistedFolders_; }
  // The destinations of the folders that the installer would create.
  const std::set<std::string>& missingFolders() const { return missingFolders_; }

 private:
  void Add(const std::string& destination, const char* state);
  // Whether the installed file is no longer what the last install left.
  bool ChangedSinceInstalled(const FileToWrite& file) const;

  std::string sourceRoot_;
  std::string destinationRoot_;
  std::vector<FileState>& files_;
  std::vector<std::string> unlistedFolders_;
  std::set<std::string> missingFolders_;
  const RunLists* lists_;
};

}  // namespace kit
