#include "kit/remove/remove.h"

#include "install_list/listed_removal.h"
#include "install_list/run_lists.h"
#include "kit/facts/file_facts.h"
#include "kit/facts/install_target.h"
#include "kit/facts/kit_settings.h"
#include "kit/report/progress.h"
#include "platform/afx/file_find.h"
#include "platform/entry_removal.h"
#include "platform/file_holders.h"
#include "platform/folder_identities.h"
#include "platform/held_path.h"
#include "platform/kill_points.h"
#include "registry/registry_key.h"
#include "registry/version_record.h"

namespace kit {

namespace {

const char kNothingInstalled[] = "nothing of this manual is installed";
const char kIdenticalOnly[] = "--identical-only";

// The kit's files, relative to its SRC ("\" between folders), at any depth.
void KitFiles(const std::string& source, const std::string& relative,
              std::vector<std::string>& files) {
  afx::CFileFind finder;
  if (!finder.FindFile((source + relative + "*.*").c_str())) return;
  for (bool more = true; more;) {
    more = finder.FindNextFile();
    if (finder.IsDots()) continue;
    const std::string path = relative + finder.GetFileName();
    if (finder.IsDirectory()) {
      KitFiles(source, path + "\\", files);
    } else {
      files.push_back(path);
    }
  }
}

// The kit's files that the install directory holds byte for byte, each with
// the identity it shows now, as a list would name them: what any install of
// this kit left, and nothing else. The rest is kept, with why.
std::deque<InstalledFile> IdenticalToKit(const std::string& source, const std::string& directory,
                                         std::vector<Action>& kept) {
  std::vector<std::string> paths;
  KitFiles(source, "", paths);
  std::deque<InstalledFile> identical;
  HeldPath held;
  std::string heldFolder = "\\";  // none yet
  for (const std::string& path : paths) {
    const auto [folder, name] = SplitListedPath(path);
    if (folder != heldFolder) {
      heldFolder = folder;
      held.Walk(directory + folder);
    }
    InstalledFile file;
    file.path = path;
    if (!FolderIdentities(held.Last()).Find(name, file.destination)) continue;
    if (!SameContent(source + path, directory + path)) {
      kept.push_back({"keep", DisplayPath(path), "differs from the kit's"});
      continue;
    }
    identical.push_back(std::move(file));
  }
  return identical;
}

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

}  // namespace

const char* FileRemovalAction(RemovalOutcome outcome, std::string& reason) {
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

const char* FolderRemovalAction(RemovalOutcome outcome, std::string& reason) {
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

Report RunRemove(const std::string& kitFolder, const std::vector<std::string>& installerArguments,
                 bool dryRun, bool identicalOnly) {
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
    if (IsHeldOpenError(lists.FailureError())) {
      const std::string heldBy = DescribeHoldersOf(lists.FailurePath());
      if (!heldBy.empty()) {
        report.findings.push_back(
            {"list-held-open", "error", "", "another program holds the list open", heldBy});
      }
    }
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

  // A list that is there but is not used (damaged, of another install, in a
  // folder that others could have changed) may not be trusted to tell what
  // an install wrote, nor may its absence: nothing is removed, and the
  // record stays, so that a deployment tool still sees the manual.
  if (!lists.HasList() && lists.ListUnusable()) {
    report.message = "the list of installed files cannot be used (see the findings); nothing was "
                     "changed. Run remove " + std::string(kIdenticalOnly) +
                     " to remove only the pages identical to this kit's and the record";
    report.exitCode = kRemoveIncomplete;
    if (!identicalOnly || directory.empty()) return report;
    report.message.clear();
    report.exitCode = 0;
  }

  int exitCode = 0;
  // Without a list to trust, only what is byte for byte the kit's goes.
  const bool byContent = identicalOnly && !lists.HasList() && !directory.empty();
  const std::deque<InstalledFile> identical =
      byContent ? IdenticalToKit(KitDirectory(kitFolder) + "SRC\\", directory, report.actions)
                : std::deque<InstalledFile>();
  if (lists.HasList() || byContent) {
    ListedRemoval removal(directory, lists.OtherListedPaths(), dryRun);
    for (const InstalledFile& file : byContent ? identical : lists.List().files) {
      std::string why;
      ProgressFile(file.path);
      const RemovalOutcome outcome = removal.RemoveFile(file, why);
      const DWORD error = GetLastError();
      std::string reason = why;
      const char* action = FileRemovalAction(outcome, reason);
      report.actions.push_back({action, DisplayPath(file.path), reason});
      if (outcome == RemovalOutcome::Remains && IsHeldOpenError(error)) {
        report.actions.back().heldBy = DescribeHoldersOf(directory + file.path);
      }
      if (outcome == RemovalOutcome::Removed && !dryRun) {
        AtKillPoint(KillPoint::FileRemoved, directory);
      }
    }
    const std::vector<std::string>& folders = byContent ? std::vector<std::string>()
                                                        : lists.List().createdFolders;
    for (auto folder = folders.rbegin(); folder != folders.rend(); ++folder) {
      std::string why;
      const RemovalOutcome outcome = removal.RemoveFolder(*folder, why);
      std::string reason = why;
      const char* action = FolderRemovalAction(outcome, reason);
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

  // The lists, then the record, and only when nothing the list names is
  // left to remove: a remove that cannot finish leaves the record, so that
  // a deployment tool's detection still sees the manual and runs the
  // uninstall again, and the rerun finishes the job.
  if (!dryRun && exitCode == 0) {
    if (!lists.RemoveListFiles()) {
      report.actions.push_back({"remains", "", "the list of installed files cannot be removed",
                                DescribeHoldersOf(lists.FailurePath())});
      exitCode = kRemoveIncomplete;
    }
  }
  if (!dryRun && exitCode == 0 && target.record.found) {
    LONG removed = RegDeleteValueA(recordKey.Get(), settings.language.c_str());
    if (removed == ERROR_SUCCESS) removed = RegFlushKey(recordKey.Get());
    if (removed != ERROR_SUCCESS && removed != ERROR_FILE_NOT_FOUND) {
      report.actions.push_back({"remains", "", "the version record cannot be removed (error " +
                                                   std::to_string(removed) + ")"});
      exitCode = kRemoveIncomplete;
    } else {
      AtKillPoint(KillPoint::RecordRemoved, directory);
    }
  }
  if (!dryRun && exitCode == 0) {
    recordKey.Reset();
    RemoveEmptyKeys(settings);
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
