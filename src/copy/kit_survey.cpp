#include "copy/kit_survey.h"

#include <map>

#include "copy/copy_walk.h"
#include "platform/folder_identities.h"
#include "platform/replace_file.h"

namespace {

// What is there already of a kit, walked without writing: the files and
// folders of the kit that the install directory holds.
class SurveySteps : public CopySteps {
 public:
  // A file that the previous list names was not there before: it is not
  // looked at.
  SurveySteps(size_t rootLength, const std::deque<InstalledFile>& listed,
         std::vector<std::string>& files, std::vector<std::string>& folders)
      : rootLength_(rootLength), listed_(listed), files_(files), folders_(folders) {}

  bool CreateFolder(const HeldFolder&, const std::string&, HeldFolder&, FolderEntry&,
                    std::string&) override {
    return true;
  }
  bool WalkCreatedFolders() const override { return false; }
  bool WriteFile(FileToWrite&, OverwritePolicy) override { return true; }
  bool PassOver(FileToWrite& file) override {
    std::string path = file.sourceFolder.substr(rootLength_) + file.name;
    if (FindInstalledFile(listed_, path)) return true;
    FileIdentity identity;
    const bool found = Identities(*file.folder).Find(file.name, identity) ||
                       AttributesIn(*file.folder, file.name) != INVALID_FILE_ATTRIBUTES;
    if (found) files_.push_back(std::move(path));
    return true;
  }
  void FolderDone(const std::string& sourceFolder, const HeldFolder& folder, bool created,
                  const std::vector<WalkedFile>&) override {
    if (!created && sourceFolder.size() > rootLength_) {
      folders_.push_back(sourceFolder.substr(rootLength_, sourceFolder.size() - rootLength_ - 1));
    }
    identities_.erase(&folder);
  }

 private:
  const FolderIdentities& Identities(const HeldFolder& folder) {
    return identities_.emplace(&folder, FolderIdentities(folder)).first->second;
  }

  size_t rootLength_;
  const std::deque<InstalledFile>& listed_;
  std::vector<std::string>& files_;
  std::vector<std::string>& folders_;
  std::map<const HeldFolder*, FolderIdentities> identities_;
};

}  // namespace

void SurveyKit(const std::string& sourceRoot, const std::string& installDirectory,
               const std::deque<InstalledFile>& listed, std::vector<std::string>& files,
               std::vector<std::string>& folders) {
  SurveySteps survey(sourceRoot.size(), listed, files, folders);
  WalkCopyTree(sourceRoot, installDirectory, OverwritePolicy::CompareTimes, survey);
}
