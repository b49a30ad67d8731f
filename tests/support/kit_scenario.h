// Test support for QuorvexKit: a kit of a product of its own (its own
// registry keys, natively its own hive), files with chosen last-write
// times, snapshots of trees, and QuorvexKit's JSON reports.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "support/json.h"
#include "support/kit.h"

namespace testing_support {

// FILETIME units: 100 ns. kTime is 2001-02-03 04:05:06.7654321 UTC.
constexpr uint64_t kSecond = 10000000;
constexpr uint64_t kTime = (981173106 + 11644473600ull) * kSecond + 7654321;

void SetWriteTime(const fs::path& path, uint64_t time);
uint64_t WriteTime(const fs::path& path);  // 0 when it cannot be read
void SetReadOnly(const fs::path& path, bool readOnly);
bool IsReadOnly(const fs::path& path);

// Deletes the local-machine key at keyPath with everything below it.
void DeleteTree(const std::string& keyPath);
// Message boxes return at once: natively they are written to standard
// error, and Wine without a display shows none.
bool BoxesReturnAtOnce();

struct TreeEntry {
  bool folder = false;
  std::string content;
  uint64_t time = 0;
  bool readOnly = false;
  bool operator==(const TreeEntry& other) const {
    return folder == other.folder && content == other.content && time == other.time &&
           readOnly == other.readOnly;
  }
};
// Every entry below a root by its path relative to it, with the platform's
// separators as QuorvexKit reports them; empty when the root is not there.
using TreeSnapshot = std::map<std::string, TreeEntry>;
TreeSnapshot SnapshotTree(const fs::path& root);

// What the installer's log says of its copy and of RemoveOldFiles.
struct LoggedRun {
  // The copy's counts by their words: "folders created", "files written",
  // "unchanged (already identical)", "kept (the installed file is newer)",
  // "passed over (as the last install left them)". Empty without a copy.
  std::map<std::string, int> copy;
  int oldFilesRemoved = 0;
  std::set<std::string> oldFilesKept;  // with the platform's separators
};
LoggedRun ReadRunLog(const fs::path& log);

// A QuorvexKit report and the program's exit status.
struct KitReport {
  int exitStatus = -1;
  Json json;
  std::string errors;  // standard error
};

class KitScenario {
 public:
  KitScenario();
  ~KitScenario();
  KitScenario(const KitScenario&) = delete;
  KitScenario& operator=(const KitScenario&) = delete;

  const Kit& kit() const { return kit_; }
  fs::path install() const { return kit_.installFolder(); }
  std::string installArgument() const { return "/p" + install().string(); }

  // Quorvex.ini of the scenario's product; more: further lines.
  void Settings(const std::string& version, int messageDisplay, const std::string& more = "",
                const std::string& language = "en") const;
  // From here on the test builds of the installer and QuorvexKit, trusting
  // the running account: Wine shows every folder as that account's, and
  // the shipped programs trust no folder of lists there.
  void UseTestBuilds();
  // The folder of the product's lists of installed files: the one the
  // record names, else the one of the product's name.
  fs::path ListFolder() const;
  // Whether any folder of the product's lists is left.
  bool AnyListFolder() const;
  void AddSource(const std::string& path, const std::string& content, uint64_t time = kTime) const;
  void AddInstalled(const std::string& path, const std::string& content, uint64_t time) const;

  std::string RecordKey() const;
  void WriteRecord(const std::string& version) const;
  std::string Recorded() const;  // "(none)" when nothing is recorded
  bool RecordKeyExists() const;
  void RegisterInstallPath(const std::string& path) const;

  // QuorvexKit verb KIT arguments... --json, natively with the kit's hive.
  KitReport RunKit(const std::string& verb, const std::vector<std::string>& arguments,
                   const Environment& environment = {}) const;
  // The same run, its output as it is (a killed run has none).
  RunResult RunKitRaw(const std::string& verb, const std::vector<std::string>& arguments,
                      const Environment& environment = {}) const;
  // The kit's installer.
  RunResult Install(const std::vector<std::string>& arguments,
                    const Environment& environment = {}) const;
  // The same, with a log of its own, read into logged.
  RunResult InstallLogged(const std::vector<std::string>& arguments, LoggedRun& logged,
                          const Environment& environment = {}) const;

 private:
  Kit kit_;
  std::string guid_;
  std::string product_;
  bool testBuilds_ = false;
};

}  // namespace testing_support
