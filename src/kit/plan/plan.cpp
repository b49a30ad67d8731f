#include "kit/plan/plan.h"

#include <algorithm>
#include <string>
#include <utility>

#include "app/exit_code.h"
#include "copy/copy_walk.h"
#include "copy/space_need.h"
#include "install_list/listed_removal.h"
#include "kit/check/settings_check.h"
#include "kit/facts/install_target.h"
#include "kit/facts/kit_settings.h"
#include "kit/report/finding_list.h"
#include "kit/plan/plan_steps.h"
#include "paths/paths.h"
#include "version/version.h"

namespace kit {

namespace {

// Why the version comparison decided as it did, in the installer's terms.
std::string VerdictReason(const InstallTarget& target, const InstallerSettings& settings) {
  if (!target.recordReadable) return "the version record cannot be opened";
  if (!target.record.found) return "no version is recorded";
  const bool equal = IsUpdateAllowed(settings.manualVersion, target.record.version, 0) &&
                     !IsUpdateAllowed(settings.manualVersion, target.record.version, 1);
  if (equal) {
    return target.record.updateAllowed ? "the same version is recorded; with MessageDisplay=0 it is installed again"
                                       : "the same version is recorded";
  }
  return target.record.updateAllowed ? "the kit's version is later" : "a later version is recorded";
}

// With RemoveOldFiles: the files of the previous version that the kit
// lacks and that would go after the copy, as an uninstall would remove them.
void PlanOldFileRemoval(RunLists& lists, const std::string& destination,
                        std::vector<Action>& actions) {
  std::vector<std::string> kitPaths;
  for (const Action& action : actions) {
    if (action.action == "create-folder") continue;
    std::string path = action.path;
    for (char& c : path) {
      if (c == '/') c = '\\';
    }
    kitPaths.push_back(std::move(path));
  }
  std::sort(kitPaths.begin(), kitPaths.end());
  const std::vector<const InstalledFile*> old = lists.OldFiles(kitPaths);
  if (old.empty()) return;
  ListedRemoval removal(destination, lists.OtherListedPaths(), true);
  for (const InstalledFile* file : old) {
    std::string why;
    if (removal.RemoveFile(*file, why) == RemovalOutcome::Removed) {
      actions.push_back({"remove", DisplayPath(file->path), "not in this kit; RemoveOldFiles=1"});
    }
  }
}

// Whether the copy writes before it ends: only then does it check that it
// fits.
bool Writes(const std::vector<Action>& actions) {
  for (const Action& action : actions) {
    if (action.action == "create-folder" || action.action == "copy" || action.action == "replace") {
      return true;
    }
  }
  return false;
}

}  // namespace

Report RunPlan(const std::string& kitFolder, const std::vector<std::string>& installerArguments) {
  const InstallerSettings settings = ReadKitSettings(kitFolder);
  const InstallTarget target = FindInstallTarget(installerArguments, settings);
  Report report;
  report.verb = "plan";
  report.settings = SettingsFields(settings);
  report.summary = TargetFields(target, settings);
  const bool allowed = target.record.updateAllowed;
  report.summary.push_back({"verdict", allowed ? "allowed" : "refused"});
  report.summary.push_back({"verdictReason", VerdictReason(target, settings)});
  if (!ReadSettingsFile(KitDirectory(kitFolder)).present) AddNoSettingsFinding(report.findings);

  if (target.directory.empty()) {
    report.exitCode = kExitNoInstallDirectory;
  } else if (!allowed) {
    report.exitCode = settings.messageDisplay != 0 ? kExitRefused : kExitSuccess;
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
    }
    PlanSteps steps(source, destination, report.actions, lists.get());
    report.exitCode = WalkCopyTree(source, destination, OverwritePolicy::CompareTimes, steps);
    SpaceShortfall shortfall;
    if (Writes(report.actions) && !CopyFits(source, destination, shortfall)) {
      // The installer then writes nothing at all.
      report.actions.clear();
      report.exitCode = kExitFileCopyFailed;
      AddError(report.findings, "not-enough-space", "",
               ShortfallText(shortfall) + " on the volume of " + shortfall.folder +
                   "; the installer writes nothing");
    }
    if (report.exitCode == kExitSuccess) PlanOldFileRemoval(*lists, destination, report.actions);
  }
  const bool copyRuns = !target.directory.empty() && allowed;
  report.summary.push_back({"copyRuns", copyRuns ? "true" : "false", true});
  const std::pair<const char*, const char*> counts[] = {
      {"create-folder", "createFolderCount"}, {"copy", "copyCount"},
      {"replace", "replaceCount"}, {"keep", "keepCount"}, {"pass-over", "passOverCount"},
      {"remove", "removeCount"}};
  for (const auto& [action, name] : counts) {
    report.summary.push_back({name, std::to_string(CountActions(report.actions, action)), true});
  }
  return report;
}

}  // namespace kit
