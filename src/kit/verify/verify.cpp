#include "kit/verify/verify.h"

#include <string>
#include <utility>

#include "copy/copy_walk.h"
#include "kit/check/settings_check.h"
#include "kit/facts/file_facts.h"
#include "kit/facts/install_target.h"
#include "kit/facts/kit_settings.h"
#include "kit/report/finding_list.h"
#include "kit/verify/verify_steps.h"
#include "paths/paths.h"
#include "platform/afx/file_find.h"
#include "platform/file_holders.h"

namespace kit {

namespace {

// Every folder of the SRC folder source (ending in a separator), depth
// first in the order of the listing, as the installed folder under
// destination: present when the walk did not have to create it and a folder
// is there. A folder that cannot be listed is left to the walk to report.
void AddFolders(const std::string& source, const std::string& destination,
                const VerifySteps& steps, const std::string& destinationRoot,
                std::vector<FileState>& folders) {
  afx::CFileFind finder;
  if (!finder.FindFile((source + "*.*").c_str())) return;
  bool more = true;
  while (more) {
    more = finder.FindNextFile();
    if (finder.IsDots() || !finder.IsDirectory()) continue;
    const std::string name = finder.GetFileName();
    const std::string installed = destination + name;
    const bool present =
        !steps.missingFolders().count(installed) && KindOf(installed) == EntryKind::Folder;
    folders.push_back({RelativePath(destinationRoot, installed), present ? "present" : "missing",
                       true});
    std::string sourceFolder = source + name;
    std::string destinationFolder = installed;
    EnsureTrailingSeparator(sourceFolder);
    EnsureTrailingSeparator(destinationFolder);
    AddFolders(sourceFolder, destinationFolder, steps, destinationRoot, folders);
  }
  finder.Close();
}

int CountOf(const std::vector<FileState>& files, const char* state, bool folder) {
  int count = 0;
  for (const FileState& file : files) count += file.folder == folder && file.state == state;
  return count;
}

}  // namespace

Report RunVerify(const std::string& kitFolder, const std::vector<std::string>& installerArguments) {
  const InstallerSettings settings = ReadKitSettings(kitFolder);
  const InstallTarget target = FindInstallTarget(installerArguments, settings);
  Report report;
  report.verb = "verify";
  report.settings = SettingsFields(settings);
  report.summary = TargetFields(target, settings);
  const bool recordMatches = target.record.found && target.record.version == settings.manualVersion;
  report.summary.push_back({"recordMatches", recordMatches ? "true" : "false", true});

  // Without its settings the kit's manual is the sample's.
  bool complete = ReadSettingsFile(KitDirectory(kitFolder)).present;
  if (!complete) AddNoSettingsFinding(report.findings);
  if (target.directory.empty()) {
    report.findings.push_back({"no-install-directory", "error", "",
                               "no /p argument and no InstallPath0 in the product's uninstall "
                               "registration: nothing to verify"});
    complete = false;
  } else {
    std::string source = KitDirectory(kitFolder) + "SRC";
    std::string destination = target.directory;
    EnsureTrailingSeparator(source);
    EnsureTrailingSeparator(destination);
    const auto lists = ReadInstalledLists(settings, target.directory, source);
    // Without administrators' rights the lists cannot be read: a preview
    // goes on without them.
    if (lists->Failed()) {
      AddWarning(report.findings, "list-unreadable", "",
                 lists->Failure() + " (error " + std::to_string(lists->FailureError()) +
                     "): going on without the lists of installed files");
      if (IsHeldOpenError(lists->FailureError()) && !lists->FailurePath().empty()) {
        report.findings.back().heldBy = DescribeHoldersOf(lists->FailurePath());
      }
    }
    VerifySteps steps(source, destination, report.files, lists.get());
    WalkCopyTree(source, destination, OverwritePolicy::CompareTimes, steps);
    AddFolders(source, destination, steps, destination, report.files);
    for (const std::string& folder : steps.unlistedFolders()) {
      report.findings.push_back({"unlisted-folder", "error", folder,
                                 "this folder of SRC cannot be listed completely: the installer "
                                 "fails on it with 4"});
      complete = false;
    }
  }
  if (!recordMatches) {
    report.findings.push_back(
        {"record-differs", "error", "",
         target.record.found ? "the record holds version " + target.record.version +
                                   ", the kit's is " + settings.manualVersion
                             : "no version is recorded for the kit's product and language"});
  }

  const int same = CountOf(report.files, "same", false);
  const int fileCount = static_cast<int>(report.files.size()) -
                        CountOf(report.files, "present", true) -
                        CountOf(report.files, "missing", true);
  const std::pair<const char*, int> counts[] = {
      {"fileCount", fileCount},
      {"sameCount", same},
      {"keptNewerCount", CountOf(report.files, "kept-newer", false)},
      {"differsCount", CountOf(report.files, "differs", false)},
      {"changedSinceInstallCount", CountOf(report.files, "changed-since-install", false)},
      {"missingCount", CountOf(report.files, "missing", false)},
      {"folderCount", static_cast<int>(report.files.size()) - fileCount},
      {"missingFolderCount", CountOf(report.files, "missing", true)},
  };
  for (const auto& [name, count] : counts) {
    report.summary.push_back({name, std::to_string(count), true});
  }
  const bool everythingSame = same == fileCount && CountOf(report.files, "missing", true) == 0;
  report.exitCode = complete && everythingSame && recordMatches ? 0 : 1;
  return report;
}

}  // namespace kit
