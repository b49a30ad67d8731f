// The installer's log, written only when "/log=<file>" is given: one block
// per run appended to that file, in UTF-8, telling what the run found and
// did. A log that cannot be written changes nothing of the run.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "app/driver.h"
#include "copy/copy_job.h"
#include "platform/process_hardening.h"
#include "settings/settings.h"
#include "text/text_encoding.h"

// Whether argument starts with "/log=", in any case.
bool StartsWithLogSwitch(const char* argument);

// The file of the first argument that starts with "/log=" (in any case),
// as given; null when there is none.
const char* FindLogArgument(int argc, char** argv);

// The line that starts each block a program appends to its log: the time
// (UTC), the program, its version and build, then commandLine, which the
// caller escapes as the rest of its log.
std::string LogHeaderLine(const char* program, const std::string& commandLine);

// text as a log writes it: natively the "\" that paths are built with
// becomes "/", so that a path has one separator; an escape that a
// conversion wrote ("\xNN", "\uNNNN") stays. On Windows, text as it is.
std::string WithLogSeparators(const std::string& text);

class RunLog {
 public:
  explicit RunLog(std::string path) : path_(std::move(path)) {}

  // Whether the DLL search restriction and Redirection Guard took effect.
  void Hardening(const ProcessHardening& hardening);
  void ProgramFolder(const std::string& folder);
  // The settings as the run took them; which of them the file does not set
  // is read again from it.
  void Settings(const std::string& programFolder, const InstallerSettings& settings);
  void InstallDirectory(const std::string& directory, InstallDirectorySource source);
  void Verdict(const std::string& recordKey, bool keyOpened, bool found,
               const std::string& recorded, const std::string& manualVersion, bool allowed);
  // What the copy did; installDirectoryExists false says why a copy that
  // failed could not begin.
  void Copy(const CopyCounts& counts, bool installDirectoryExists = true);
  // A failure that no copy count says, with the system's error code.
  void Failure(const std::string& what, DWORD error);
  // Something the run met that is no failure, with the system's error
  // code where there is one.
  void Note(const std::string& what, DWORD error = ERROR_SUCCESS);
  // The run made no progress for seconds and ends itself.
  void Stalled(unsigned long seconds);
  // Appends the block, ending with the exit code; once. A run that ends
  // itself for want of progress finishes it from the stall watch's thread,
  // while the run's own thread waits in a call.
  void Finish(int exitCode);

 private:
  // Names, messages and links' texts from outside the program may hold
  // anything: each line is written as one line. A registry key is no path:
  // it keeps its separators.
  void Line(const std::string& text, bool paths = true);
  std::string Block(int exitCode) const;

  class Lock {
   public:
    explicit Lock(std::atomic_flag& flag) : flag_(flag) {
      while (flag_.test_and_set(std::memory_order_acquire)) {
      }
    }
    ~Lock() { flag_.clear(std::memory_order_release); }

   private:
    std::atomic_flag& flag_;
  };

  std::string path_;
  std::vector<std::string> lines_;
  std::atomic_flag busy_ = ATOMIC_FLAG_INIT;
  bool finished_ = false;
};
