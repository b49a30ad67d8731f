#include "kit/remove/remove.h"

#include "install_list/listed_removal.h"
#include "install_list/run_lists.h"
#include "kit/facts/install_target.h"
#include "kit/facts/kit_settings.h"
#include "kit/report/progress.h"
#include "platform/entry_removal.h"
#include "platform/kill_points.h"
#include "registry/registry_key.h"
#include "registry/version_record.h"

namespace kit {

namespace {

const char kNothingInstalled[] = "nothing of this manual is installed";

// The key above path, "" at the top; a "\" that is the second byte of a
// double-byte character is no separator.
std::string ParentKey(const std::string& path) {
  std::string parent = SplitListedPath(path).first;
  if (!parent.empty()) parent.pop_back();
  return parent;
}

// Removes the record key and the keys above it up to the vendor's, each
// only while it holds no value and no subkey, each removal flushed.
void RemoveEmptyKeys(const InstallerSettings& settings) {
  const std::string top = "SOFTWARE";
  for (std::string path = ManualRecordKey(settings); path.size() > top.size();
       path = ParentKey(path)) {
    ScopedRegKey key;
    DWORD subkeys = 1, values = 1;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.Receive()) !=
        ERROR_SUCCESS) {
      continue;  // gone already: its parent may be empty now
    }
    if (RegQueryInfoKeyA(key.Get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                         nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS ||
        subkeys != 0 || values != 0) {
      return;
    }
    key.Reset();
    const std::string name = SplitListedPath(path).second;
    ScopedRegKey parent;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, ParentKey(path).c_str(), 0, KEY_READ | KEY_WRITE,
                      parent.Receive()) != ERROR_SUCCESS ||
        RegDeleteKeyA(parent.Get(), name.c_str()) != ERROR_SUCCESS) {
      return;
    }
    RegFlushKey(parent.Get());
  }
}

const char* FileAction(RemovalOutcome outcome, std::string& reason) {
  switch (outcome) {
    case RemovalOutcome::Removed: return "remove";
    case RemovalOutcome::Gone: reason = "already gone"; return "gone";
    case RemovalOutcome::KeptChanged: reason = "changed since it was installed"; return "keep";
    case RemovalOutcome::KeptThereBefore: reason = "there before the first install"; return "keep";
    case RemovalOutcome::KeptOtherList:
      reason = "another manual's list of this install directory names it";
      return "keep";
    case RemovalOutcome::KeptNotEmpty: break;
    case RemovalOutcome::Remains: return "remains";
  }
  return "keep";
}

const char* FolderAction(RemovalOutcome outcome, std::string& reason) {
  switch (outcome) {
    case RemovalOutcome::Removed: return "remove-folder";
    case RemovalOutcome::Gone: reason = "already gone"; return "gone";
    case RemovalOutcome::Remains: return "remains-folder";
    default: break;
  }
  reason = outcome == RemovalOutcome::KeptNotEmpty    ? "not empty"
           : outcome == RemovalOutcome::KeptOtherList ? "another manual's list of this install directory names it"
                                                      : "not the folder an install made";
  return "keep-folder";
}

}  // namespace

Report RunRemove(const std::string& kitFolder, const std::vector<std::string>& installerArguments,
                 bool dryRun) {
  const InstallerSettings settings = ReadKitSettings(kitFolder);
  Report report;
  report.verb = "remove";
  report.settings = SettingsFields(settings);
  report.summary.push_back({"dryRun", dryRun ? "true" : "false", true});
  if (!dryRun && !RunsAsAdministrator()) {
    report.message = "remove needs administrators' rights: run it elevated, or as SYSTEM; "
                     "nothing was changed";
    report.exitCode = kRemoveNotAdministrator;
    return report;
  }

  // Where: as the installer finds it, or else where the list says the
  // manual went (the product may be uninstalled already).
  const InstallTarget target = FindInstallTarget(installerArguments, settings);
  ScopedRegKey recordKey;
  RegOpenKeyExA(HKEY_LOCAL_MACHINE, ManualRecordKey(settings).c_str(), 0,
                KEY_READ | (dryRun ? 0 : KEY_SET_VALUE), recordKey.Receive());
  RunLists lists(settings, target.directory, recordKey.Get(),
                 KitDirectory(kitFolder) + "SRC");
  if (dryRun) {
    lists.Load(target.directory.empty());
  } else {
    lists.LoadToChange(target.directory.empty());
  }
  const std::string directory = lists.HasList() || !target.directory.empty()
                                    ? lists.InstallDirectory()
                                    : std::string();
  if (directory.empty()) {
    report.summary.push_back({"installDirectory", "null", true});
  } else {
    report.summary.push_back({"installDirectory", directory});
  }
  const char* source = target.source != InstallDirectorySource::None
                           ? InstallDirectorySourceName(target.source)
                       : lists.HasList() ? "list"
                                         : "none";
  report.summary.push_back({"installDirectorySource", source});
  if (target.record.found) {
    report.summary.push_back({"recordedVersion", target.record.version});
  } else {
    report.summary.push_back({"recordedVersion", "null", true});
  }
  report.summary.push_back({"listFound", lists.HasList() ? "true" : "false", true});
  for (const std::string& note : lists.Notes()) report.findings.push_back({"list", "warning", "", note});

  // A list that is there but cannot be read may name anything: neither the
  // record nor a file is touched, and the list stays for the next run.
  if (lists.Failed()) {
    report.message = lists.Failure() + " (error " + std::to_string(lists.FailureError()) +
                     "); nothing was changed";
    report.exitCode = kRemoveIncomplete;
    return report;
  }

  if (!lists.HasList() && lists.OtherViewHasList()) {
    const bool other64 = RegistryViewName() == "32";
    report.message = std::string("this manual was installed by the ") +
                     (other64 ? "64-bit" : "32-bit") + " installer: run " +
                     (other64 ? "x64" : "x86") + "\\QuorvexKit.exe remove; nothing was changed";
    report.exitCode = kRemoveWrongVariant;
    return report;
  }

  // Removing the record and that list would lose what it knows.
  if (!lists.HasList() && !lists.ListedElsewhere().empty()) {
    report.message = "the list of installed files is of the install directory " +
                     lists.ListedElsewhere() +
                     ": run remove with /p spelt as the install had it, or without /p; nothing was "
                     "changed";
    report.exitCode = kRemoveIncomplete;
    return report;
  }

  int exitCode = 0;
  // First the record: a remove that is killed later leaves no manual
  // recorded as installed that is partly gone.
  if (target.record.found && !dryRun) {
    LONG removed = RegDeleteValueA(recordKey.Get(), settings.language.c_str());
    if (removed == ERROR_SUCCESS) removed = RegFlushKey(recordKey.Get());
    if (removed != ERROR_SUCCESS && removed != ERROR_FILE_NOT_FOUND) {
      report.message = "the version record cannot be removed (error " + std::to_string(removed) +
                       "); nothing else was changed";
      report.exitCode = kRemoveIncomplete;
      return report;
    }
    AtKillPoint(KillPoint::RecordRemoved, directory);
  }

  if (lists.HasList()) {
    ListedRemoval removal(directory, lists.OtherListedPaths(), dryRun);
    for (const InstalledFile& file : lists.List().files) {
      std::string why;
      ProgressFile(file.path);
      const RemovalOutcome outcome = removal.RemoveFile(file, why);
      std::string reason = why;
      const char* action = FileAction(outcome, reason);
      report.actions.push_back({action, DisplayPath(file.path), reason});
      if (outcome == RemovalOutcome::Removed && !dryRun) {
        AtKillPoint(KillPoint::FileRemoved, directory);
      }
    }
    const std::vector<std::string>& folders = lists.List().createdFolders;
    for (auto folder = folders.rbegin(); folder != folders.rend(); ++folder) {
      std::string why;
      const RemovalOutcome outcome = removal.RemoveFolder(*folder, why);
      std::string reason = why;
      const char* action = FolderAction(outcome, reason);
      report.actions.push_back({action, DisplayPath(*folder), reason});
    }
    if (!dryRun && !removal.Flush()) {
      report.actions.push_back({"remains", "", "what was removed cannot be put on the disk"});
    }
    if (CountActions(report.actions, "remains") + CountActions(report.actions, "remains-folder") > 0) {
      exitCode = kRemoveIncomplete;
    }
    if (!dryRun) AtKillPoint(KillPoint::FoldersRemoved, directory);
  } else if (!target.record.found && !lists.HasLeftoverNote()) {
    report.message = kNothingInstalled;
  } else if (target.record.found) {
    report.message = "no usable list of installed files: the manual's files are left in place";
  }

  // The list goes last, and only when nothing it names is left to remove:
  // running remove again then finishes the job.
  if (!dryRun && exitCode == 0) {
    if (!lists.RemoveListFiles()) {
      report.actions.push_back({"remains", "", "the list of installed files cannot be removed"});
      exitCode = kRemoveIncomplete;
    }
    recordKey.Reset();
    if (exitCode == 0) RemoveEmptyKeys(settings);
  }

  static const std::pair<const char*, const char*> kCounts[] = {
      {"remove", "removedCount"},          {"gone", "goneCount"},
      {"keep", "keptCount"},               {"remains", "remainingCount"},
      {"remove-folder", "removedFolderCount"}, {"keep-folder", "keptFolderCount"}};
  for (const auto& [action, name] : kCounts) {
    report.summary.push_back({name, std::to_string(CountActions(report.actions, action)), true});
  }
  report.exitCode = exitCode;
  return report;
}

}  // namespace kit
