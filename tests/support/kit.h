// Test support: temporary folders, installer kits (the program beside a
// settings file and a SRC tree) and running the real program in them.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace testing_support {

// A path this build's file calls take: the build tree's POSIX paths become
// Wine's Z: drive paths in the Windows build.
std::string HostPath(const std::string& path);

// The installer executable built with the tests.
std::string InstallerExecutable();
// The QuorvexKit executable built with the tests.
std::string QuorvexKitExecutable();

// A folder of its own for one test, removed with everything in it at the end.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const fs::path& path() const { return path_; }
  // The folder as a text ending in the platform's separator.
  std::string Text() const;

 private:
  fs::path path_;
};

void WriteFile(const fs::path& path, const std::string& content);
std::string ReadFile(const fs::path& path);

struct RunResult {
  int exitCode = -1;
  std::string output;  // standard output
  std::string errors;  // standard error
};

using Environment = std::vector<std::pair<std::string, std::string>>;

// A program started with arguments (not including the program), with
// extraEnvironment added to ours, its output going to files. It is waited
// for at the latest when this ends.
class StartedProgram {
 public:
  // Natively, input names the file its standard input reads (a terminal,
  // say); /dev/null when empty.
  StartedProgram(const std::string& program, const std::vector<std::string>& arguments,
                 const Environment& extraEnvironment = {}, const std::string& input = "");
  ~StartedProgram() { Wait(); }
  StartedProgram(const StartedProgram&) = delete;
  StartedProgram& operator=(const StartedProgram&) = delete;

  // Its exit code (128 + the signal natively when a signal ended it) and output.
  RunResult Wait();
  // What it has written to standard error so far.
  std::string ErrorsSoFar() const;

 private:
  TempFolder streams_;
  long long process_ = 0;  // the process handle on Windows, the process id natively
  RunResult result_;
};

// Runs program with arguments, waits for it and returns its exit code and
// output.
RunResult RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                     const Environment& extraEnvironment = {});

// The exit code of a run that a kill point killed.
constexpr int kKilledAtKillPoint = 137;

#ifndef _WIN32
// Another program holding a file open until this ends: a child process
// under name (as /proc/<pid>/comm gives it). With lease it holds a write
// lease on the file too, so that an open that would break it fails at
// once, as an open of a file in use fails on Windows.
class HoldingProcess {
 public:
  HoldingProcess(const fs::path& file, const char* name, bool lease = false);
  ~HoldingProcess();
  HoldingProcess(const HoldingProcess&) = delete;
  HoldingProcess& operator=(const HoldingProcess&) = delete;
  // Whether the child holds the file (and its lease).
  bool holding() const { return holding_; }
  long id() const { return process_; }

 private:
  long process_ = 0;
  int release_ = -1;  // closed to let the child end
  bool holding_ = false;
};
#endif

// A kit folder: a copy of the installer, its settings file and SRC. Natively
// the stand-in registry hive lives in the kit folder too (see HivePath).
class Kit {
 public:
  Kit();
  const fs::path& folder() const { return root_.path() ; }
  fs::path kitFolder() const { return root_.path() / "kit"; }
  fs::path sourceFolder() const { return kitFolder() / "SRC"; }
  fs::path installFolder() const { return root_.path() / "install"; }
  fs::path executable() const;
  // Renames the kit's program (fileName with its extension); Run then
  // starts it under that name.
  void RenameProgram(const std::string& fileName);
  // Puts the installer whose steps can be killed or held in place of the
  // kit's program (on Windows a test-only build; natively the same program).
  void UseKillPointsProgram() const;
  fs::path HivePath() const { return root_.path() / "HKLM.reg"; }

  void WriteSettings(const std::string& iniText) const;
  void AddSourceFile(const std::string& relativePath, const std::string& content) const;

  // Runs the kit's installer with arguments and the environment of the test
  // (natively with QUORVEX_HKLM pointing to HivePath()).
  RunResult Run(const std::vector<std::string>& arguments,
                Environment extraEnvironment = {}) const;
  // Runs with "/p" + the install folder.
  RunResult RunInto(const fs::path& installFolder) const;
  // Starts it with arguments, without waiting.
  std::unique_ptr<StartedProgram> Start(const std::vector<std::string>& arguments,
                                        Environment extraEnvironment = {},
                                        const std::string& input = "") const;
  // Starts it with "/p" + the install folder, without waiting.
  std::unique_ptr<StartedProgram> StartInto(const fs::path& installFolder,
                                            Environment extraEnvironment = {}) const {
    return Start({"/p" + installFolder.string()}, std::move(extraEnvironment));
  }

 private:
  TempFolder root_;
  std::string programName_;
};

}  // namespace testing_support
