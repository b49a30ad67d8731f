// The Windows program killed in the middle of replacing large files, and two
// installers of one product running at once, with the real Win32 calls:
// CreateProcessA and TerminateProcess, the real files and the real registry.
// After every kill no file under its own name is torn and the new version is
// not recorded; a rerun completes the install with nothing left over. And
// a kit's name that opens another installed file by its 8.3 short name.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/replace_file.h"
#include "platform/win32/folder_lock.h"
#include "platform/scoped_handle.h"
#include "platform/win32.h"
#include "registry/registry_key.h"
#include "support/kit.h"
#include "support/kit_scenario.h"

using namespace testing_support;

namespace {

constexpr uint64_t kBaseTime = (1600000000 + 11644473600ull) * kSecond;
const char kGuid[] = "{8D2B35A4-6C11-4E0B-9F6E-7A0C5D3B2E19}";

std::string Host(const fs::path& path) { return HostPath(path.string()); }

DWORD Attributes(const fs::path& path) { return GetFileAttributesA(Host(path).c_str()); }

bool IsTemporaryName(const std::string& name) {
  return name.size() > 2 && name.compare(0, 2, "~q") == 0;
}

// A manual of pages and large figures in nested folders, the same for the
// same seed; every file has a time of its own, some are read-only.
void WriteManual(const fs::path& root, int files, size_t largeSize, uint32_t seed, uint64_t time) {
  std::mt19937 random(seed);
  for (int n = 0; n < files; ++n) {
    const bool large = n % 8 == 3;
    const fs::path folder = root / ("part" + std::to_string(n % 3)) / (n % 2 ? "img" : "");
    const fs::path path = folder / ((large ? "figure" : "page") + std::to_string(n) +
                                    (large ? ".bmp" : ".html"));
    std::string content(large ? largeSize : 200 + random() % 6000, '\0');
    for (char& c : content) c = static_cast<char>(random());
    const fs::path file = path.lexically_normal();
    WriteFile(file, content);
    SetWriteTime(file, time + static_cast<uint64_t>(n) * kSecond);
    if (n % 7 == 5) SetFileAttributesA(Host(file).c_str(), FILE_ATTRIBUTE_READONLY);
  }
}

// Every file below root by its relative path.
std::map<std::string, fs::path> Files(const fs::path& root) {
  std::map<std::string, fs::path> files;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file()) files[entry.path().lexically_relative(root).string()] = entry.path();
  }
  return files;
}

// "" when installed holds exactly source's files: equal content, write time
// and read-only attribute, and nothing else. Otherwise the first difference.
std::string CompareTrees(const fs::path& source, const fs::path& installed) {
  const auto expected = Files(source), actual = Files(installed);
  for (const auto& [name, path] : actual) {
    if (!expected.count(name)) return "not in the source: " + name;
  }
  for (const auto& [name, path] : expected) {
    const auto found = actual.find(name);
    if (found == actual.end()) return "missing: " + name;
    if (ReadFile(found->second) != ReadFile(path)) return "content differs: " + name;
    if (WriteTime(found->second) != WriteTime(path)) return "time differs: " + name;
    if ((Attributes(found->second) ^ Attributes(path)) & FILE_ATTRIBUTE_READONLY) {
      return "read-only attribute differs: " + name;
    }
  }
  return "";
}

// "" when every file under its own name in installed is whole: equal to its
// file in one of sources. Temporary files may stand beside them.
std::string CheckNothingTorn(const std::vector<fs::path>& sources, const fs::path& installed,
                             int* temporaryFiles = nullptr) {
  for (const auto& [name, path] : Files(installed)) {
    if (IsTemporaryName(path.filename().string())) {
      if (temporaryFiles) ++*temporaryFiles;
      continue;
    }
    const std::string content = ReadFile(path);
    bool whole = false;
    for (const fs::path& source : sources) {
      whole = whole || (fs::exists(source / name) && ReadFile(source / name) == content);
    }
    if (!whole) return "torn: " + name;
  }
  return "";
}

void MakeWritable(const fs::path& root) {
  if (!fs::exists(root)) return;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    SetFileAttributesA(Host(entry.path()).c_str(), FILE_ATTRIBUTE_NORMAL);
  }
}

// An installer started in the background; killed like a crash (nothing of
// the process runs after TerminateProcess) when it still runs at the end.
class StartedInstaller {
 public:
  StartedInstaller(const Kit& kit, const fs::path& installFolder, bool suspended = false) {
    std::string commandLine = "\"" + Host(kit.executable()) + "\" \"/p" + Host(installFolder) + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE,
                       suspended ? CREATE_SUSPENDED : 0, nullptr, nullptr, &startup, &process)) {
      process_ = process.hProcess;
      thread_ = process.hThread;
    }
  }
  ~StartedInstaller() {
    if (process_) {
      Kill();
      CloseHandle(thread_);
      CloseHandle(process_);
    }
  }
  StartedInstaller(const StartedInstaller&) = delete;
  StartedInstaller& operator=(const StartedInstaller&) = delete;

  bool Started() const { return process_ != nullptr; }
  void Resume() { ResumeThread(thread_); }
  void Kill() {
    TerminateProcess(process_, kKilled);
    WaitForSingleObject(process_, INFINITE);
  }
  // The exit code, or kKilled.
  int Wait() {
    if (WaitForSingleObject(process_, 300000) != WAIT_OBJECT_0) Kill();
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    return static_cast<int>(code);
  }
  static constexpr int kKilled = 99;

 private:
  HANDLE process_ = nullptr;
  HANDLE thread_ = nullptr;
};

class WindowsRuns : public ::testing::Test {
 protected:
  WindowsRuns() {
    for (const char* product : {"CrashTest", "Concurrent"}) DeleteRecord(product);
  }
  ~WindowsRuns() override {
    for (const fs::path& folder : {kit_.installFolder(), kit_.sourceFolder(), other_.sourceFolder()}) {
      MakeWritable(folder);
    }
    for (const char* product : {"CrashTest", "Concurrent"}) DeleteRecord(product);
  }
  static std::string RecordKey(const std::string& product) {
    return "SOFTWARE\\Veltrane\\" + product + "\\Manual\\" + kGuid;
  }
  static void DeleteRecord(const std::string& product) {
    testing_support::DeleteTree("SOFTWARE\\Veltrane\\" + product);
  }
  static void WriteRecord(const std::string& product, const std::string& language,
                          const std::string& version) {
    ScopedRegKey key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, RecordKey(product).c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, key.Receive(), nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key.Get(), language.c_str(), 0, REG_SZ,
                   reinterpret_cast<const BYTE*>(version.c_str()),
                   static_cast<DWORD>(version.size() + 1));
  }
  static std::string Record(const std::string& product, const std::string& language) {
    ScopedRegKey key;
    std::string value;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, RecordKey(product).c_str(), 0, KEY_READ,
                      key.Receive()) != ERROR_SUCCESS ||
        !QueryTextValue(key.Get(), language.c_str(), value)) {
      return "(none)";
    }
    return value;
  }
  static void Settings(const Kit& kit, const char* product, const char* language, int version) {
    kit.WriteSettings(std::string("[Product]\nProductGUID=") + kGuid + "\nProduct=" + product +
                      "\nLanguage=" + language + "\nManualVersion=" + std::to_string(version) +
                      "\nMessageDisplay=0\n");
  }
  static void Empty(const fs::path& folder) {
    MakeWritable(folder);
    fs::remove_all(folder);
    fs::create_directories(folder);
  }

  Kit kit_, other_;
};

// An update of a manual with large figures (24 MB each) over an older one:
// half of the kills land at a random moment of the run, half just after the
// temporary copy of a figure appears, inside that figure's copy.
TEST_F(WindowsRuns, KilledUpdatesTearNothingAndARerunCompletes) {
  const fs::path old = other_.sourceFolder();
  WriteManual(old, 24, 1 << 20, 1, kBaseTime);
  WriteManual(kit_.sourceFolder(), 24, 24 << 20, 2, kBaseTime + 1000 * kSecond);
  Settings(kit_, "CrashTest", "en", 2);
  const fs::path installed = kit_.installFolder();
  const std::vector<fs::path> sources{old, kit_.sourceFolder()};
  auto installOld = [&] {
    Empty(installed);
    WriteManual(installed, 24, 1 << 20, 1, kBaseTime);
    WriteRecord("CrashTest", "en", "1");
  };

  installOld();
  DWORD start = GetTickCount();
  ASSERT_EQ(StartedInstaller(kit_, installed).Wait(), 0);
  const DWORD runTime = GetTickCount() - start + 1;
  ASSERT_EQ(CompareTrees(kit_.sourceFolder(), installed), "");

  std::mt19937 random(20261209);
  int killed = 0, insideFigures = 0, leftTemporary = 0;
  const fs::path figureFolder = installed / "part0" / "img";
  const fs::path figure =
      figureFolder / FirstTemporaryCopyName("figure3.bmp", Host(figureFolder).size() + 1);
  for (int round = 0; round < 4 && !HasFailure(); ++round) {
    installOld();
    for (int kill = 0; kill < 4 && !HasFailure(); ++kill) {
      SCOPED_TRACE("round " + std::to_string(round) + ", kill " + std::to_string(kill));
      const bool inFigure = kill % 2 == 1;
      if (inFigure) {
        // What an earlier kill left there would be taken for this run's copy.
        SetFileAttributesA(Host(figure).c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(Host(figure).c_str());
        // A figure that an earlier run of the round already installed is
        // left as it is: made older, it is copied again.
        const fs::path installedFigure = figureFolder / "figure3.bmp";
        if (fs::exists(installedFigure)) SetWriteTime(installedFigure, kBaseTime - kSecond);
      }
      StartedInstaller run(kit_, installed);
      ASSERT_TRUE(run.Started());
      if (inFigure) {
        for (int polls = 0; polls < 20000 && Attributes(figure) == INVALID_FILE_ATTRIBUTES; ++polls) {
          Sleep(1);
        }
        Sleep(random() % 4);
      } else {
        Sleep(random() % runTime);
      }
      run.Kill();
      const int status = run.Wait();
      const bool wasKilled = status == StartedInstaller::kKilled;
      killed += wasKilled;
      if (wasKilled && inFigure && Attributes(figure) != INVALID_FILE_ATTRIBUTES &&
          fs::file_size(figure) < (24u << 20)) {
        ++insideFigures;
      }
      int temporary = 0;
      EXPECT_EQ(CheckNothingTorn(sources, installed, &temporary), "");
      leftTemporary += temporary > 0;
      // The new version is recorded only after a complete copy.
      const std::string recorded = Record("CrashTest", "en");
      if (recorded == "2") {
        EXPECT_EQ(CheckNothingTorn({kit_.sourceFolder()}, installed), "");
      } else {
        EXPECT_EQ(recorded, "1");
      }
    }
    EXPECT_EQ(StartedInstaller(kit_, installed).Wait(), 0);
    EXPECT_EQ(CompareTrees(kit_.sourceFolder(), installed), "");
    EXPECT_EQ(Record("CrashTest", "en"), "2");
  }
  EXPECT_GT(insideFigures, 0) << "no kill landed inside a figure's copy";
  RecordProperty("killed", killed);
  RecordProperty("killed_inside_a_figure", insideFigures);
  std::printf("%d runs killed, %d inside a 24 MB figure, %d left a temporary file\n", killed,
              insideFigures, leftTemporary);
}

// A page that a viewer holds open (no delete sharing) cannot be replaced:
// the run waits for it a little, then ends with 4 without recording; an
// identical rerun finds nothing to replace and completes.
TEST_F(WindowsRuns, AnInstalledFileHeldOpenIsWaitedForThenGivenUp) {
  const fs::path installed = kit_.installFolder();
  Empty(installed);
  WriteManual(kit_.sourceFolder(), 12, 1 << 12, 5, kBaseTime);
  Settings(kit_, "CrashTest", "en", 1);
  ASSERT_EQ(StartedInstaller(kit_, installed).Wait(), 0);
  const fs::path page = installed / "part1" / "img" / "page1.html";
  const std::string old = ReadFile(page);
  MakeWritable(kit_.sourceFolder());
  WriteManual(kit_.sourceFolder(), 12, 1 << 12, 6, kBaseTime + kSecond);
  Settings(kit_, "CrashTest", "en", 2);
  const auto hold = [&] {
    return ScopedHandle(CreateFileA(Host(page).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  };
  {
    ScopedHandle viewer = hold();
    ASSERT_TRUE(viewer.IsValid());
    EXPECT_EQ(StartedInstaller(kit_, installed).Wait(), 4);
  }
  EXPECT_EQ(ReadFile(page), old);
  EXPECT_EQ(Record("CrashTest", "en"), "1");

  // Let go while the run waits: it goes on.
  ScopedHandle viewer = hold();
  StartedInstaller run(kit_, installed);
  Sleep(1500);
  viewer.Reset();
  EXPECT_EQ(run.Wait(), 0);
  EXPECT_EQ(CompareTrees(kit_.sourceFolder(), installed), "");
  EXPECT_EQ(Record("CrashTest", "en"), "2");

  // Held again for an identical rerun, which writes nothing: under Wine,
  // which cannot flush a volume, each file is flushed on its own, and the
  // page, unchanged, cannot be opened for writing. That is no failure: the
  // run completes and its log says so.
  viewer = hold();
  const fs::path log = kit_.folder() / "run.log";
  EXPECT_EQ(kit_.Run({"/p" + Host(installed), "/log=" + Host(log)}).exitCode, 0);
  const std::string text = ReadFile(log);
  EXPECT_NE(text.find("1 unchanged file(s) held open by another program were not flushed"),
            std::string::npos)
      << text;
}

// A folder lock's name can be computed by anyone: a lock that another
// account made first and holds is never waited on for good. Wine names the
// running account, no administrators' group, as the owner of what a
// process makes: the run finds this test's mutex made by another account
// and goes on without it at once, and says so in its log.
TEST_F(WindowsRuns, AFolderLockThatAnotherAccountHoldsIsNotWaitedOn) {
  const fs::path installed = kit_.installFolder();
  Empty(installed);
  kit_.AddSourceFile("page.html", "page");
  Settings(kit_, "CrashTest", "en", 1);
  const ScopedHandle squatter(
      CreateMutexA(nullptr, TRUE, FolderLockName(Host(installed) + "\\").c_str()));
  ASSERT_TRUE(squatter.IsValid());
  const fs::path log = kit_.folder() / "run.log";
  const RunResult run = kit_.Run({"/p" + Host(installed), "/log=" + Host(log)});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(ReadFile(installed / "page.html"), "page");
  const std::string text = ReadFile(log);
  EXPECT_NE(text.find("was made by an account other than Administrators or SYSTEM: the copy goes "
                      "on without it"),
            std::string::npos)
      << text;
}

// An English and a Japanese installer of one product started at the same
// moment, into two folders and into one shared folder: both complete, both
// records are there, and the shared folder holds whole files of either.
TEST_F(WindowsRuns, EnglishAndJapaneseInstallersAtOnce) {
  WriteManual(kit_.sourceFolder(), 120, 1 << 18, 3, kBaseTime);
  WriteManual(other_.sourceFolder(), 120, 1 << 18, 4, kBaseTime);
  const fs::path english = kit_.installFolder() / "en", japanese = kit_.installFolder() / "ja";
  const fs::path shared = kit_.installFolder() / "shared";
  for (int round = 1; round <= 6 && !HasFailure(); ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    Settings(kit_, "Concurrent", "en", round);
    Settings(other_, "Concurrent", "ja", round);
    const bool together = round % 2 == 0;
    for (const fs::path& folder : {english, japanese, shared}) Empty(folder);
    StartedInstaller first(kit_, together ? shared : english, true);
    StartedInstaller second(other_, together ? shared : japanese, true);
    ASSERT_TRUE(first.Started() && second.Started());
    first.Resume();
    second.Resume();
    EXPECT_EQ(first.Wait(), 0);
    EXPECT_EQ(second.Wait(), 0);
    if (together) {
      EXPECT_EQ(CheckNothingTorn({kit_.sourceFolder(), other_.sourceFolder()}, shared), "");
      EXPECT_EQ(Files(shared).size(), Files(kit_.sourceFolder()).size());
      for (const auto& [name, path] : Files(shared)) {
        EXPECT_FALSE(IsTemporaryName(path.filename().string())) << name;
      }
    } else {
      EXPECT_EQ(CompareTrees(kit_.sourceFolder(), english), "");
      EXPECT_EQ(CompareTrees(other_.sourceFolder(), japanese), "");
    }
    EXPECT_EQ(Record("Concurrent", "en"), std::to_string(round));
    EXPECT_EQ(Record("Concurrent", "ja"), std::to_string(round));
  }
}

// A kit's file named as the 8.3 short name of an installed page opens that
// page: the check warns of the name, the plan and the installer fail the
// file with 4, and the page keeps its name and content.
TEST_F(WindowsRuns, AKitNameThatIsAnInstalledPagesShortNameIsNotWritten) {
  KitScenario scenario;
  scenario.Settings("1", 0);
  scenario.AddSource("guide-for-beginners.html", "beginners");
  ASSERT_EQ(scenario.Install({scenario.installArgument()}).exitCode, 0);
  const fs::path page = scenario.install() / "guide-for-beginners.html";
  char shortPath[MAX_PATH];
  const DWORD length = GetShortPathNameA(Host(page).c_str(), shortPath, MAX_PATH);
  ASSERT_TRUE(length > 0 && length < MAX_PATH);
  const std::string shortName = strrchr(shortPath, '\\') + 1;
  if (shortName == page.filename().string()) GTEST_SKIP() << "this volume makes no short names";

  fs::remove(scenario.kit().sourceFolder() / "guide-for-beginners.html");
  scenario.AddSource(shortName, "alias");
  scenario.Settings("2", 0);
  const KitReport check = scenario.RunKit("check", {});
  bool warned = false;
  for (const Json& finding : check.json["findings"].items) {
    warned = warned || (finding["code"].text == "short-name-shape" &&
                        finding["path"].text == "SRC\\" + shortName);
  }
  EXPECT_TRUE(warned) << shortName;

  const KitReport plan = scenario.RunKit("plan", {scenario.installArgument()});
  EXPECT_EQ(plan.json["exitCode"].number, 4);
  ASSERT_EQ(plan.json["actions"].items.size(), 1u);
  const Json& action = plan.json["actions"].items[0];
  EXPECT_EQ(action["action"].text, "fail-file");
  EXPECT_EQ(action["path"].text, shortName);
  EXPECT_NE(action["reason"].text.find("is the short name of guide-for-beginners.html"),
            std::string::npos) << action["reason"].text;

  const fs::path log = scenario.kit().folder() / "run.log";
  EXPECT_EQ(scenario.Install({scenario.installArgument(), "/log=" + Host(log)}).exitCode, 4);
  EXPECT_EQ(ReadFile(page), "beginners");
  EXPECT_EQ(Files(scenario.install()).size(), 1u);
  EXPECT_EQ(scenario.Recorded(), "1");
  EXPECT_NE(ReadFile(log).find(shortName + ": this name is the short name of "
                                           "guide-for-beginners.html: it is not written"),
            std::string::npos)
      << ReadFile(log);
}

}  // namespace
