#include "app/driver.h"

#include <stdio.h>

#include <string>

#include "app/exit_code.h"
#include "app/run_log.h"
#include "app/run_progress.h"
#include "copy/copy_job.h"
#include "install_list/run_lists.h"
#include "platform/held_path.h"
#include "paths/paths.h"
#include "platform/afx/app.h"
#include "platform/durable_writes.h"
#include "platform/file_holders.h"
#include "platform/kill_points.h"
#include "platform/process_hardening.h"
#include "platform/stall_watch.h"
#include "platform/win32.h"
#include "registry/install_location.h"
#include "registry/registry_key.h"
#include "registry/version_record.h"
#include "settings/settings.h"
#include "text/text_encoding.h"
#include "ui/console_window.h"
#include "ui/failure_box.h"
#include "ui/message_boxes.h"

// "致命的なエラー : MFC の初期化ができませんでした。" and a line feed, in code page 932.
const char kFrameworkFailedMessage[] =
    "\x92\x76\x96\xbd\x93\x49\x82\xc8\x83\x47\x83\x89\x81\x5b\x20\x3a\x20\x4d\x46\x43\x20\x82"
    "\xcc\x8f\x89\x8a\xfa\x89\xbb\x82\xaa\x82\xc5\x82\xab\x82\xdc\x82\xb9\x82\xf1\x82\xc5\x82"
    "\xb5\x82\xbd\x81\x42\n";

namespace {

const char kNoProgramDirectoryMessage[] = "Can not get the work directory!";
const char kNoInstallDirectoryMessage[] = "Can not get the install directory!";

// The log of the run that the stall watch ends, when one is asked for.
RunLog* stalledRunLog = nullptr;

void EndStalledRun(int exitCode) {
  fprintf(stderr, "Quorvex: no progress for %lu s: the run ends itself\n",
          stall_watch::DeadlineSeconds());
  fflush(stderr);
  if (!stalledRunLog) return;
  stalledRunLog->Stalled(stall_watch::DeadlineSeconds());
  stalledRunLog->Finish(exitCode);
}

int Fail(const char* message, ExitCode code) {
  printf("%s", message);
  return code;
}

// The programs that hold path open, where error says another program has
// it, for a box and the log; empty otherwise or when none is known.
std::string HoldersOf(const std::string& path, DWORD error) {
  return IsHeldOpenError(error) ? DescribeHoldersOf(path) : std::string();
}

void LogHolders(RunLog& log, const std::string& path, DWORD error, const std::string& holders) {
  if (!IsHeldOpenError(error)) return;
  log.Note(AnsiToUtf8(path) + " is held open by " +
           (holders.empty() ? "another program (the system does not say which)" : holders));
}

// What could not be done, for the failure box: the copy's first failure.
RunFailure ListsFailure(const RunLists& lists, const std::string& installDirectory) {
  RunFailure failure;
  failure.exitCode = kExitRecordFailed;
  failure.what = kNotRecorded;
  failure.subject = lists.FailurePath().empty() ? installDirectory : lists.FailurePath();
  failure.error = lists.FailureError();
  failure.holders = HoldersOf(lists.FailurePath(), failure.error);
  return failure;
}

RunFailure CopyFailure(int exitCode, const CopyCounts& counts, const std::string& installDirectory) {
  RunFailure failure;
  failure.exitCode = exitCode;
  failure.subject = counts.failedPath.empty() ? installDirectory : counts.failedPath;
  failure.error = counts.failedError;
  if (counts.spaceNeeded != 0) {
    failure.what = kNoSpace;
    failure.spaceNeeded = counts.spaceNeeded;
    failure.spaceFree = counts.spaceFree;
  } else {
    failure.what = exitCode == kExitFolderCreationFailed ? kFolderNotCreated : kFileNotWritten;
  }
  return failure;
}

}  // namespace

const char* FindInstallDirectoryArgument(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (argv[i][0] == '/' && argv[i][1] == 'p') return argv[i] + 2;
  }
  return nullptr;
}

InstallDirectorySource FindInstallDirectory(int argc, char** argv, const std::string& productGuid,
                                            std::string& directory) {
  directory.clear();
  InstallDirectorySource source = InstallDirectorySource::Argument;
  if (const char* argument = FindInstallDirectoryArgument(argc, argv)) {
    directory = argument;
  } else if (FindProductInstallPath(productGuid, directory)) {
    source = InstallDirectorySource::Registration;
  } else {
    directory.clear();
  }
  if (directory.empty() || !MakeFullPath(directory)) {
    directory.clear();
    return InstallDirectorySource::None;
  }
  return source;
}

int RunInstaller(int argc, char** argv) {
  const char* logFile = FindLogArgument(argc, argv);
  RunLog log(logFile ? logFile : "");
  const auto finish = [&](int exitCode) {
    stall_watch::Stop();
    if (logFile) log.Finish(exitCode);
    return exitCode;
  };

  if (!afx::WinInit(GetModuleHandleA(nullptr), nullptr, GetCommandLineA(), 0)) {
    return finish(Fail(kFrameworkFailedMessage, kExitFrameworkFailed));
  }
  ShowWindowAsync(FindConsoleWindow(), SW_HIDE);

  // A folder that cannot be read is not an empty kit: taking every default
  // and finding no SRC would record a manual that was never installed.
  std::string programDirectory;
  if (!GetProgramDirectory(programDirectory) || !IsReadableFolder(programDirectory)) {
    if (logFile) log.Failure("the program folder " + AnsiToUtf8(programDirectory) +
                             " cannot be listed", GetLastError());
    return finish(Fail(kNoProgramDirectoryMessage, kExitNoProgramDirectory));
  }
  const InstallerSettings settings = ReadInstallerSettings(programDirectory);
  if (logFile) {
    log.Hardening(ProcessHardeningResult());
    log.ProgramFolder(programDirectory);
    log.Settings(programDirectory, settings);
  }

  // A program that stands in no kit (run straight from a release's folder,
  // say) would record the defaults' manual as installed: it installs
  // nothing. Either one alone is a kit: defaults, or nothing to copy.
  if (!HoldsEntry(programDirectory, "Quorvex.ini") && !HoldsEntry(programDirectory, "SRC")) {
    const char kStandsInNoKit[] = "neither Quorvex.ini nor SRC is beside the program: it stands in no kit "
                          "and installs nothing";
    if (logFile) log.Note(std::string("failure: ") + kStandsInNoKit);
    fprintf(stderr, "Quorvex: %s\n", kStandsInNoKit);
    if (settings.messageDisplay != 0 && WindowStationIsVisible()) {
      RunFailure failure;
      failure.exitCode = kExitNoKit;
      failure.what = kNoKit;
      ShowFailureBox(failure);
    }
    return finish(kExitNoKit);
  }

  // An empty install directory would mean the root of the current drive:
  // never copy a manual there.
  std::string installDirectory;
  const InstallDirectorySource source =
      FindInstallDirectory(argc, argv, settings.productGuid, installDirectory);
  if (logFile) log.InstallDirectory(installDirectory, source);
  // Only a person who can see the run is shown why it could not finish; a
  // run that no one sees ends as it always has.
  const bool personSees = settings.messageDisplay != 0 && WindowStationIsVisible();
  if (installDirectory.empty()) {
    const int exitCode = Fail(kNoInstallDirectoryMessage, kExitNoInstallDirectory);
    if (personSees) {
      RunFailure failure;
      failure.exitCode = exitCode;
      failure.what = kNotInstalled;
      failure.subject = settings.product;
      ShowFailureBox(failure);
    }
    return finish(exitCode);
  }

  ScopedRegKey recordKey;
  const bool allowed = OpenManualVersionRecord(settings, recordKey.Receive());
  if (logFile) {
    const RecordedManual recorded = recordKey.Get() ? JudgeRecordedVersion(recordKey.Get(), settings)
                                                    : RecordedManual();
    log.Verdict(ManualRecordKey(settings), recordKey.Get() != nullptr, recorded.found,
                recorded.version, settings.manualVersion, allowed);
  }
  int exitCode = kExitSuccess;
  RunFailure failure;  // what a person who sees the run is told, when it fails
  bool answered = false;  // a person already chose to stop at a box
  if (allowed) {
    ManualCopyJob job(installDirectory, programDirectory + "SRC");
    DurableWrites written(installDirectory);
    CopyCounts counts;
    RunLists lists(settings, installDirectory, recordKey.Get(), programDirectory + "SRC");
    // From here another program can hold the run up at a file: it ends
    // itself after a minute without progress.
    stalledRunLog = logFile ? &log : nullptr;
    stall_watch::Start(kExitRecordFailed, &EndStalledRun);
    lists.LoadToChange();
    if (logFile) {
      for (const std::string& note : lists.Notes()) log.Note(note);
    }
    RunProgress progress(settings, programDirectory + "SRC");
    // A page the person has open (a help viewer, a reader) may be closed
    // and tried again; no one else is asked.
    progress.OnHeldFile([&](const std::string& path, DWORD error) {
      const std::string holders = HoldersOf(path, error);
      if (logFile) LogHolders(log, path, error, holders);
      if (!personSees) return false;
      RunFailure held;
      held.exitCode = kExitFileCopyFailed;
      held.subject = path;
      held.error = error;
      held.holders = holders;
      const bool retry = AskRetry(held);
      if (logFile) log.Note(std::string("the person chose ") + (retry ? "Retry" : "Cancel"));
      answered = !retry;
      return retry;
    });
    // A list that is there but cannot be read: nothing is copied.
    if (!lists.Failed()) {
      stall_watch::Step(kExitFileCopyFailed);
      exitCode = job.Run(OverwritePolicy::CompareTimes, &written, &counts, &lists, &progress);
      if (exitCode != kExitSuccess) {
        failure = CopyFailure(exitCode, counts, installDirectory);
        if (!answered) {
          failure.holders = HoldersOf(counts.failedPath, counts.failedError);
          if (logFile) LogHolders(log, counts.failedPath, counts.failedError, failure.holders);
        }
      }
    }
    progress.Finished();
    // Nothing was written when a list could not be read, or what was there
    // before could not be noted.
    if (lists.Failed()) {
      if (logFile) log.Failure(lists.Failure(), lists.FailureError());
      exitCode = kExitRecordFailed;
      failure = ListsFailure(lists, installDirectory);
      if (logFile) LogHolders(log, failure.subject, failure.error, failure.holders);
    }
    // A copy that failed because the install directory is missing says so.
    if (logFile) {
      log.Copy(counts, exitCode == kExitSuccess ||
                           HeldPath().Walk(installDirectory) != FolderEntry::Absent);
    }
    // The record vouches for a manual that is on the disk: a copy that
    // cannot be made durable is a copy that failed.
    if (exitCode == kExitSuccess && !written.Flush()) {
      const DWORD error = GetLastError();
      if (logFile) log.Failure("what was copied cannot be put on the disk", error);
      exitCode = kExitFileCopyFailed;
      counts.failedError = error;
      failure = CopyFailure(exitCode, counts, installDirectory);
    }
    stall_watch::Step(kExitRecordFailed);
    const std::string flushNote = written.TakeNote();
    if (logFile && !flushNote.empty()) log.Note(AnsiToUtf8(flushNote));
    if (exitCode == kExitSuccess) {
      AtKillPoint(KillPoint::Flushed, installDirectory);
      const bool listed = lists.WriteList();
      if (logFile && lists.OldFilesRemoved() > 0) {
        log.Note("removed " + std::to_string(lists.OldFilesRemoved()) +
                 " files of the previous version that this kit lacks (RemoveOldFiles)");
      }
      if (logFile) {
        for (const std::string& kept : lists.OldFilesKept()) {
          log.Note("kept a file of the previous version: " + AnsiToUtf8(kept));
        }
      }
      if (!listed) {
        if (logFile) log.Failure(lists.Failure(), lists.FailureError());
        exitCode = kExitRecordFailed;
        failure = ListsFailure(lists, installDirectory);
        if (logFile) LogHolders(log, failure.subject, failure.error, failure.holders);
      }
    }
    if (exitCode == kExitSuccess) {
      // A version that cannot be recorded leaves a copied manual that the
      // next run and every detection rule take for absent: no success.
      const std::string& version = settings.manualVersion;
      const LONG recorded = RegSetValueExA(recordKey.Get(), settings.language.c_str(), 0, REG_SZ,
                                           reinterpret_cast<const BYTE*>(version.c_str()),
                                           static_cast<DWORD>(version.size() + 1));
      if (recorded != ERROR_SUCCESS) {
        if (logFile) log.Failure("the version could not be recorded", static_cast<DWORD>(recorded));
        exitCode = kExitRecordFailed;
        failure.exitCode = exitCode;
        failure.what = kNotRecorded;
        failure.subject = ManualRecordKey(settings);
        failure.error = static_cast<DWORD>(recorded);
      } else {
        LONG flushed;
        {
          const stall_watch::Pause flushing;  // as long as the disk needs
          flushed = RegFlushKey(recordKey.Get());
        }
        if (logFile && flushed != ERROR_SUCCESS) {
          log.Note("the record is written but could not be flushed", static_cast<DWORD>(flushed));
        }
        if (settings.messageDisplay != 0) ShowCompletionBox();
      }
    }
  } else if (settings.messageDisplay != 0) {
    ShowRefusalBox();
    exitCode = kExitRefused;
  }
  recordKey.Reset();
  if (exitCode != kExitSuccess && exitCode != kExitRefused && personSees && !answered) {
    failure.exitCode = exitCode;
    ShowFailureBox(failure);
  }
  return finish(exitCode);
}
