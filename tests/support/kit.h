// Test support: temporary folders, installer kits (the program beside a
// settings file and a SRC tree) and running the real program in them.
#pragma once

#include <filesystem>
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

// Runs program with arguments (not including the program), waits for it and
// returns its exit code and output. extraEnvironment is added to ours.
RunResult RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                     const Environment& extraEnvironment = {});

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
  fs::path HivePath() const { return root_.path() / "HKLM.reg"; }

  void WriteSettings(const std::string& iniText) const;
  void AddSourceFile(const std::string& relativePath, const std::string& content) const;

  // Runs the kit's installer with arguments and the environment of the test
  // (natively with QUORVEX_HKLM pointing to HivePath()).
  RunResult Run(const std::vector<std::string>& arguments,
                Environment extraEnvironment = {}) const;
  // Runs with "/p" + the install folder.
  RunResult RunInto(const fs::path& installFolder) const;

 private:
  TempFolder root_;
  std::string programName_;
};

}  // namespace testing_support
