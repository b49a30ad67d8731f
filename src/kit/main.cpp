// QuorvexKit: checks a kit before it ships, previews what the installer would
// do with it, and verifies an installation afterwards.
#include <stdio.h>

#include <string>

#include "kit/check/check.h"
#include "kit/check/settings_check.h"
#include "kit/command_line.h"
#include "kit/facts/kit_settings.h"
#include "kit/plan/plan.h"
#include "kit/report/progress.h"
#include "kit/remove/remove.h"
#include "kit/report/report_output.h"
#include "kit/verify/verify.h"
#include "platform/afx/app.h"
#include "app/log_file.h"
#include "app/run_log.h"
#include "paths/paths.h"
#include "text/text_encoding.h"
#include "platform/terminal.h"
#include "platform/process_hardening.h"
#include "platform/stall_watch.h"
#include "platform/win32.h"

namespace {

constexpr int kUsageError = 2;

int UsageError(const std::string& message) {
  fprintf(stderr, "QuorvexKit: %s (QuorvexKit --help shows the usage)\n", message.c_str());
  return kUsageError;
}

// The kit folder as a full path, as the installer knows its own folder;
// false when it is not a folder.
bool FullKitFolder(const std::string& given, std::string& full) {
  char buffer[MAX_PATH * 4];
  const DWORD length = GetFullPathNameA(given.c_str(), sizeof buffer, buffer, nullptr);
  if (length == 0 || length >= sizeof buffer) return false;
  const DWORD attributes = GetFileAttributesA(buffer);
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return false;
  }
  full = buffer;
  return true;
}

bool HoldsSettings(const std::string& folder) {
  return kit::ReadSettingsFile(kit::KitDirectory(folder)).present;
}

bool IsVariantFolderName(const std::string& name) {
  return name.size() == 3 && (name[0] == 'x' || name[0] == 'X') &&
         (name.compare(1, 2, "86") == 0 || name.compare(1, 2, "64") == 0);
}

// The kit that QuorvexKit stands in, as the release ships it: its own
// folder, or the one above its x86 or x64 folder, ending in a separator;
// empty when neither holds Quorvex.ini.
std::string OwnKitFolder() {
  std::string directory;
  if (!GetProgramDirectory(directory) || directory.empty()) return "";
  if (HoldsSettings(directory)) return directory;
  // Where its last name starts; the second byte of a double-byte character
  // is no separator.
  size_t nameStart = 0;
  for (size_t i = 0; i + 1 < directory.size(); ++i) {
    const auto c = static_cast<unsigned char>(directory[i]);
    if (_ismbblead(c)) {
      ++i;
    } else if (c == '\\' || c == '/') {
      nameStart = i + 1;
    }
  }
  const std::string name = directory.substr(nameStart, directory.size() - 1 - nameStart);
  if (nameStart == 0 || !IsVariantFolderName(name)) return "";
  const std::string above = directory.substr(0, nameStart);
  return HoldsSettings(above) ? above : "";
}

// What a run appends to its log: the header line, then text.
std::string LogBlock(const std::string& text) {
  return LogHeaderLine("QuorvexKit", VisibleText(GetCommandLineA())) + WithLogSeparators(text);
}

// The log of a remove that the stall watch ends, when one is asked for.
std::string stalledLogFile;

void EndStalledRemove(int exitCode) {
  const std::string text = "QuorvexKit remove: no progress for " +
                           std::to_string(stall_watch::DeadlineSeconds()) +
                           " s (another program holds a file or folder it needs): it ends itself "
                           "with exit code " + std::to_string(exitCode) + "; run it again\n";
  fputs(text.c_str(), stderr);
  fflush(stderr);
  LogFile log;
  std::string why;
  if (!stalledLogFile.empty() && log.Open(stalledLogFile, why)) log.Append(LogBlock(text));
}

kit::Report RunVerb(const kit::CommandLine& line, const std::string& kitFolder) {
  switch (line.verb) {
    case kit::Verb::Plan: return kit::RunPlan(kitFolder, line.installerArguments);
    case kit::Verb::Verify: return kit::RunVerify(kitFolder, line.installerArguments);
    case kit::Verb::Remove:
      // Another program can hold an uninstall up at a file: it ends itself
      // after a minute without progress, to be run again.
      if (!line.dryRun) {
        stalledLogFile = line.logFile;
        stall_watch::Start(1, &EndStalledRemove);
      }
      return kit::RunRemove(kitFolder, line.installerArguments, line.dryRun, line.identicalOnly);
    case kit::Verb::Check: {
      kit::CheckOptions options;
      options.installDir = line.installDir;
      options.codePage = line.codePage;
      return kit::RunCheck(kitFolder, options);
    }
    case kit::Verb::Help: break;
  }
  return {};
}

}  // namespace

int main(int argc, char** argv) {
  HardenProcess();
  // The runtime's code page and error mode of the installer, so that paths
  // are read as the installer reads them.
  afx::WinInit(GetModuleHandleA(nullptr), nullptr, GetCommandLineA(), 0);

  kit::CommandLine line;
  std::string error;
  if (!kit::ParseCommandLine(argc, argv, line, error)) return UsageError(error);
  if (line.verb == kit::Verb::Help) {
    fputs(kit::kUsage, stdout);
    return 0;
  }
  std::string kitFolder;
  if (line.kitFolder.empty()) {
    const std::string own = OwnKitFolder();
    line.kitFolder = own.empty() ? "." : own;
  }
  if (!FullKitFolder(line.kitFolder, kitFolder)) {
    return UsageError("the kit folder '" + line.kitFolder + "' does not exist");
  }
  // Without its settings remove would take the sample's, and act on the
  // sample's product or on none.
  if (line.verb == kit::Verb::Remove && !HoldsSettings(kitFolder)) {
    fprintf(stderr,
            "QuorvexKit: %s holds no Quorvex.ini: remove needs the kit of the manual to remove\n",
            VisibleText(kitFolder).c_str());
    return kUsageError;
  }
  // JSON on a terminal is not to be mixed with the line.
  kit::StartProgress(kit::VerbName(line.verb),
                     !line.quiet && !(line.json && StandardOutputIsTerminal()));
  kit::Report report = RunVerb(line, kitFolder);
  stall_watch::Stop();
  kit::EndProgress();
  report.kit = kitFolder;
  // The log is opened as the installer opens its own, before the report is
  // made, so that the report can say it is not written.
  LogFile log;
  std::string whyNoLog;
  if (!line.logFile.empty() && !log.Open(line.logFile, whyNoLog)) {
    report.findings.push_back({"log-not-written", "warning", "",
                               "the log file " + line.logFile + " is not written: " + whyNoLog});
  }
  kit::TextOptions options;
  options.everyLink = line.verbose;
  options.summaryOnly = line.summaryOnly;
  const std::string text = line.json ? kit::JsonReport(report) : kit::TextReport(report, options);
  fwrite(text.data(), 1, text.size(), stdout);
  fflush(stdout);
  if (!line.logFile.empty() && whyNoLog.empty()) {
    const std::string logged = line.json ? kit::TextReport(report, options) : text;
    if (!log.Append(LogBlock(logged))) {
      fprintf(stderr, "QuorvexKit: the log file '%s' cannot be written\n",
              VisibleText(line.logFile).c_str());
    }
  }
  return report.exitCode;
}
