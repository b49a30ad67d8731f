#include "app/run_log.h"

#include <stdio.h>
#include <time.h>

#include <utility>

#include "app/log_file.h"
#include "platform/log_file.h"
#include "platform/win32.h"
#include "text/text_encoding.h"

#ifndef QUORVEX_VERSION
#define QUORVEX_VERSION "unknown"
#endif
#ifndef QUORVEX_VARIANT_NAME
#define QUORVEX_VARIANT_NAME "Linux"
#endif

namespace {

std::string ErrorText(DWORD error) {
  const std::string message = SystemErrorMessage(error);
  return "error " + std::to_string(error) + (message.empty() ? "" : ": " + message);
}

#ifndef _WIN32
// Whether count digits of an escape (0-9, A-F) are at text[at].
bool IsEscapeDigits(const std::string& text, size_t at, size_t count) {
  if (at + count > text.size()) return false;
  for (size_t i = at; i < at + count; ++i) {
    const char c = text[i];
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
  }
  return true;
}
#endif

}  // namespace

std::string LogHeaderLine(const char* program, const std::string& commandLine) {
  char when[32] = "(time unknown)";
  const time_t now = time(nullptr);
  struct tm utc;
#ifdef _WIN32
  const bool known = gmtime_s(&utc, &now) == 0;
#else
  const bool known = gmtime_r(&now, &utc) != nullptr;
#endif
  if (known) strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return std::string("==== ") + when + " " + program + " " + QUORVEX_VERSION + " (" +
         QUORVEX_VARIANT_NAME + "): " + commandLine + "\n";
}

std::string WithLogSeparators(const std::string& text) {
#ifdef _WIN32
  return text;
#else
  std::string out = text;
  for (size_t i = 0; i < out.size(); ++i) {
    if (out[i] != '\\') continue;
    const char next = i + 1 < out.size() ? out[i + 1] : '\0';
    if ((next == 'x' && IsEscapeDigits(out, i + 2, 2)) ||
        (next == 'u' && IsEscapeDigits(out, i + 2, 4))) {
      continue;
    }
    out[i] = '/';
  }
  return out;
#endif
}

bool StartsWithLogSwitch(const char* argument) {
  const char kSwitch[] = "/log=";
  for (size_t i = 0; i + 1 < sizeof kSwitch; ++i) {
    char c = argument[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != kSwitch[i]) return false;
  }
  return true;
}

const char* FindLogArgument(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (StartsWithLogSwitch(argv[i])) return argv[i] + 5;
  }
  return nullptr;
}

void RunLog::Hardening(const ProcessHardening& hardening) {
  const auto state = [](DWORD error, const char* on) {
    if (error == ERROR_SUCCESS) return std::string(on);
    if (error == ERROR_PROC_NOT_FOUND) return std::string("not on this system");
    return "not in effect (" + ErrorText(error) + ")";
  };
  Line("DLL search: " + state(hardening.dllSearchError, "System32 only") +
       "; Redirection Guard: " + state(hardening.redirectionGuardError, "on"));
}

void RunLog::ProgramFolder(const std::string& folder) {
  Line("program folder: " + AnsiToUtf8(folder));
}

void RunLog::Settings(const std::string& programFolder, const InstallerSettings& settings) {
  const std::string file = SettingsFilePath(programFolder);
  const auto setting = [&](const char* key, const std::string& value) {
    Line(std::string("  ") + key + "=" + AnsiToUtf8(value) +
         (IsSettingSet(file, key) ? "" : " (default: not set in the file)"));
  };
  Line("settings of " + AnsiToUtf8(file) + ", [Product]:");
  setting("ProductGUID", settings.productGuid);
  setting("Product", settings.product);
  setting("Language", settings.language);
  setting("ManualVersion", settings.manualVersion);
  setting("MessageDisplay", std::to_string(settings.messageDisplay));
  setting("RemoveOldFiles", std::to_string(settings.removeOldFiles));
}

void RunLog::InstallDirectory(const std::string& directory, InstallDirectorySource source) {
  switch (source) {
    case InstallDirectorySource::Argument:
      Line("install directory: " + AnsiToUtf8(directory) + " (from /p)");
      break;
    case InstallDirectorySource::Registration:
      Line("install directory: " + AnsiToUtf8(directory) +
           " (from InstallPath0 of the product's uninstall registration)");
      break;
    case InstallDirectorySource::None:
      Line("install directory: none (no /p, and no InstallPath0 in the product's uninstall "
           "registration)");
      break;
  }
}

void RunLog::Verdict(const std::string& recordKey, bool keyOpened, bool found,
                     const std::string& recorded, const std::string& manualVersion, bool allowed) {
  const std::string key = "HKLM\\" + AnsiToUtf8(recordKey);
  if (!keyOpened) {
    Line("recorded version: unknown, the record key " + key + " cannot be opened", false);
    Line("verdict: refused, the record cannot be read or written");
    return;
  }
  const std::string shown = found ? AnsiToUtf8(recorded) : std::string("none");
  Line("recorded version: " + shown + " (" + key + ")", false);
  if (!found) {
    Line("verdict: install " + AnsiToUtf8(manualVersion) + ", no version recorded");
  } else if (allowed) {
    Line("verdict: install " + AnsiToUtf8(manualVersion) + " over the recorded " +
         AnsiToUtf8(recorded));
  } else {
    Line("verdict: refused, " + AnsiToUtf8(manualVersion) + " may not replace the recorded " +
         AnsiToUtf8(recorded));
  }
}

void RunLog::Copy(const CopyCounts& counts, bool installDirectoryExists) {
  Line("copy: folders created " + std::to_string(counts.foldersCreated) + ", files written " +
       std::to_string(counts.filesWritten) + ", unchanged (already identical) " +
       std::to_string(counts.filesUnchanged) + ", kept (the installed file is newer) " +
       std::to_string(counts.filesKeptNewer) + ", passed over (as the last install left them) " +
       std::to_string(counts.filesPassedOver));
  if (!counts.note.empty()) Line(AnsiToUtf8(counts.note));
  for (const std::string& path : counts.replacedNotTrusted) {
    Line("replaced a newer file that an account other than administrators owns: " +
         AnsiToUtf8(path));
  }
  if (counts.failedPath.empty()) return;
  Line("failure: " + AnsiToUtf8(counts.failedPath) + ": " +
       (counts.failure.empty() ? ErrorText(counts.failedError) : counts.failure));
  if (!installDirectoryExists) {
    Line("the install directory does not exist: the installer creates none, so it must be "
         "there before the run");
  }
}

void RunLog::Note(const std::string& what, DWORD error) {
  Line(error == ERROR_SUCCESS ? what : what + ": " + ErrorText(error));
}

void RunLog::Failure(const std::string& what, DWORD error) {
  Line("failure: " + what + ": " + ErrorText(error));
}

void RunLog::Line(const std::string& text, bool paths) {
  const std::string line = VisibleUtf8(paths ? WithLogSeparators(text) : text);
  Lock lock(busy_);
  lines_.push_back(line);
}

void RunLog::Stalled(unsigned long seconds) {
  Line("failure: the run made no progress for " + std::to_string(seconds) +
       " s (another program holds a file or folder it needs) and ends itself; what it wrote "
       "stays, and the next run completes it");
}

void RunLog::Finish(int exitCode) {
  std::string block;
  {
    Lock lock(busy_);
    if (std::exchange(finished_, true)) return;
    block = Block(exitCode);
  }
  // Not under the lock: the file may keep this call waiting.
  LogFile log;
  std::string why;
  if (!log.Open(path_, why) || !log.Append(block)) {
    if (why.empty()) why = "it cannot be written to";
    fprintf(stderr, "Quorvex: the log file %s is not written: %s\n", VisibleText(path_).c_str(),
            VisibleText(why).c_str());
  }
}

std::string RunLog::Block(int exitCode) const {
  std::string block = LogHeaderLine("Quorvex", VisibleUtf8(AnsiToUtf8(GetCommandLineA())));
  for (const std::string& line : lines_) block += line + "\n";
  block += "exit code: " + std::to_string(exitCode) + "\n";
  return block;
}
