#include "kit/plan/plan.h"

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
#include "kit/remove/remove.h"
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

// With RemoveOldFiles, once the walk has told the lists what the kit
// holds: what the installer removes of the previous version after the
// copy, and what it keeps of it.
void PlanOldFileRemoval(RunLists& lists, std::vector<Action>& actions) {
  const char kNotInKit[] = "not in this kit; RemoveOldFiles=1";
  lists.PreviewOldFiles([&](const std::string& path, bool folder, RemovalOutcome outcome,
                            const std::string& why) {
    std::string reason = why;
    if (folder) {
      const char* action = FolderRemovalAction(outcome, reason);
      if (outcome == RemovalOutcome::Removed) reason = kNotInKit;
      if (outcome != RemovalOutcome::Gone) actions.push_back({action, DisplayPath(path), reason});
      return;
    }
    FileRemovalAction(outcome, reason);
    if (outcome == RemovalOutcome::Removed) {
      actions.push_back({"remove", DisplayPath(path), kNotInKit});
    } else if (outcome == RemovalOutcome::KeptChanged || outcome == RemovalOutcome::Remains) {
      actions.push_back({"keep-old", DisplayPath(path), reason});
    }
  });
}

// Whether the copy writes before it ends: only then does it check that it
// fits. A file found identical may be given the kit's attributes.
bool Writes(const std::vector<Action>& actions) {
  for (const Action& action : actions) {
    if (action.action == "create-folder" || action.action == "copy" ||
        action.action == "replace" || action.action == "unchanged") {
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
    if (report.exitCode == kExitSuccess) PlanOldFileRemoval(*lists, report.actions);
  }
  const bool copyRuns = !target.directory.empty() && allowed;
  report.summary.push_back({"copyRuns", copyRuns ? "true" : "false", true});
  const std::pair<const char*, const char*> counts[] = {
      {"create-folder", "createFolderCount"}, {"copy", "copyCount"},
      {"replace", "replaceCount"}, {"unchanged", "unchangedCount"}, {"keep", "keepCount"},
      {"pass-over", "passOverCount"}, {"remove", "removeCount"}, {"keep-old", "keepOldCount"},
      {"remove-folder", "removeFolderCount"}, {"keep-folder", "keepFolderCount"}};
  for (const auto& [action, name] : counts) {
    report.summary.push_back({name, std::to_string(CountActions(report.actions, action)), true});
  }
  return report;
}

}  // namespace kit
