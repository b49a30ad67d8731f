// The installer against the registry, run for real: the manual version
// record, the install directory from the uninstall registration. Natively
// the registry is the stand-in hive of the kit; in the Windows build it is
// Wine's registry, shared with this test process.
#include <gtest/gtest.h>

#include <stdlib.h>
#ifndef _WIN32
#include <errno.h>
#include <string.h>
#include <sys/mount.h>
#include <unistd.h>
#endif

#include <fstream>

#include <random>
#include <string>

#include "platform/win32.h"
#include "registry/registry_key.h"
#include "support/kit.h"
#include "support/kit_scenario.h"

using testing_support::BoxesReturnAtOnce;
using testing_support::DeleteTree;
using testing_support::Kit;
using testing_support::RunResult;

namespace {

const char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const char kNoInstallDirectory[] = "Can not get the install directory!";

struct StoredValue {
  bool found = false;
  DWORD type = REG_NONE;
  std::string data;
};

StoredValue ReadValue(const std::string& keyPath, const std::string& name) {
  StoredValue value;
  ScopedRegKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ, key.Receive()) != 0) {
    return value;
  }
  DWORD size = 0;
  if (RegQueryValueExA(key.Get(), name.c_str(), nullptr, &value.type, nullptr, &size) != 0) {
    return value;
  }
  value.data.resize(size);
  value.found = RegQueryValueExA(key.Get(), name.c_str(), nullptr, nullptr,
                                 reinterpret_cast<BYTE*>(&value.data[0]), &size) == 0;
  value.data.resize(size);
  return value;
}

bool KeyExists(const std::string& keyPath) {
  ScopedRegKey key;
  return RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ, key.Receive()) == 0;
}

void WriteValue(const std::string& keyPath, const std::string& name, DWORD type,
                const std::string& data) {
  ScopedRegKey key;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, key.Receive(), nullptr),
            0);
  ASSERT_EQ(RegSetValueExA(key.Get(), name.c_str(), 0, type,
                           reinterpret_cast<const BYTE*>(data.data()),
                           static_cast<DWORD>(data.size())),
            0);
}

void WriteText(const std::string& keyPath, const std::string& name, const std::string& text) {
  WriteValue(keyPath, name, REG_SZ, text + '\0');
}

std::string Text(const std::string& text) { return text + '\0'; }

// The native file layer copies files once it is built; until then every
// file call fails and a copy finds nothing to copy.
bool CopiesFiles() {
  return GetFileAttributesA(testing_support::HostPath(QUORVEX_SOURCE_DIR).c_str()) !=
         INVALID_FILE_ATTRIBUTES;
}

class ManualRecordRun : public ::testing::Test {
 protected:
  ManualRecordRun() {
    std::random_device seed;
    std::mt19937_64 random(seed());
    const std::string unique = std::to_string(random() % 1000000000000ULL);
    guid_ = "{5E1C7A20-0000-4000-8000-" + unique + "}";
    product_ = "QuorvexTest" + unique;
#ifndef _WIN32
    setenv("QUORVEX_HKLM", kit_.HivePath().c_str(), 1);
#endif
  }
  ~ManualRecordRun() override {
#ifdef _WIN32
    DeleteTree("SOFTWARE\\Veltrane\\" + product_.substr(0, product_.find('\\')));
    DeleteTree(kUninstallKey + guid_.substr(0, guid_.find('\\')));
#endif
  }

  std::string RecordKey() const {
    return "SOFTWARE\\Veltrane\\" + product_ + "\\Manual\\" + guid_;
  }
  std::string UninstallKey() const { return kUninstallKey + guid_; }
  StoredValue Recorded(const std::string& language = "en") const {
    return ReadValue(RecordKey(), language);
  }

  void Settings(const std::string& version, int messageDisplay,
                const std::string& language = "en") const {
    kit_.WriteSettings("[Product]\nProductGUID=" + guid_ + "\nLanguage=" + language +
                       "\nManualVersion=" + version +
                       "\nMessageDisplay=" + std::to_string(messageDisplay) +
                       "\nProduct=" + product_ + "\n");
  }
  RunResult Install() const { return kit_.RunInto(kit_.installFolder()); }
  std::string InstallFolderText() const {
    return testing_support::HostPath(kit_.installFolder().string());
  }

  Kit kit_;
  std::string guid_;
  std::string product_;
};

TEST_F(ManualRecordRun, FirstInstallationCreatesTheKeyAndRecordsTheVersion) {
  ASSERT_FALSE(KeyExists(RecordKey()));
  Settings("3.0.2", 0);
  auto result = Install();
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.output, "");
  StoredValue value = Recorded();
  EXPECT_TRUE(value.found);
  EXPECT_EQ(value.type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(value.data, Text("3.0.2"));
}

TEST_F(ManualRecordRun, WithMessagesTheSameVersionIsRefusedWithSeven) {
  if (!BoxesReturnAtOnce()) GTEST_SKIP() << "a message box would wait for a click";
  Settings("100000", 1);
  EXPECT_EQ(Install().exitCode, 0);
  EXPECT_EQ(Recorded().data, Text("100000"));

  auto result = Install();
  EXPECT_EQ(result.exitCode, 7);
#ifndef _WIN32
  EXPECT_NE(result.errors, "");  // the refusal box
#endif
  Settings("100000.0", 1);
  EXPECT_EQ(Install().exitCode, 7);
  Settings("1", 1);
  EXPECT_EQ(Install().exitCode, 7);
  EXPECT_EQ(Recorded().data, Text("100000"));
}

TEST_F(ManualRecordRun, SilentlyTheSameVersionIsInstalledAndAnOlderOneRefused) {
  WriteText(RecordKey(), "en", "100000");
  Settings("100000.0", 0);
  EXPECT_EQ(Install().exitCode, 0);
  EXPECT_EQ(Recorded().data, Text("100000.0"));

  Settings("99999.9", 0);
  auto result = Install();
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.output, "");
  EXPECT_EQ(result.errors, "");
  EXPECT_EQ(Recorded().data, Text("100000.0"));
}

TEST_F(ManualRecordRun, NewerVersionReplacesTheRecord) {
  WriteText(RecordKey(), "en", "1.9");
  Settings("1.10", 0);
  EXPECT_EQ(Install().exitCode, 0);
  EXPECT_EQ(Recorded().data, Text("1.10"));
  Settings("4294967297", 0);
  EXPECT_EQ(Install().exitCode, 0);
  EXPECT_EQ(Recorded().data, Text("4294967297"));
  Settings("5", 0);
  EXPECT_EQ(Install().exitCode, 0);
  EXPECT_EQ(Recorded().data, Text("4294967297"));
}

TEST_F(ManualRecordRun, EachLanguageHasItsValueUnderOneKey) {
  Settings("5", 0, "en");
  EXPECT_EQ(Install().exitCode, 0);
  Settings("5", 0, "ja");
  EXPECT_EQ(Install().exitCode, 0);
  Settings("6", 0, "en");
  EXPECT_EQ(Install().exitCode, 0);
  EXPECT_EQ(Recorded("en").data, Text("6"));
  EXPECT_EQ(Recorded("ja").data, Text("5"));
}

TEST_F(ManualRecordRun, FailedCopyRecordsNothing) {
  if (!CopiesFiles()) GTEST_SKIP() << "the file layer of this build copies nothing yet";
  testing_support::WriteFile(kit_.installFolder(), "a file where a folder should be");
  kit_.AddSourceFile("index.html", "<p>manual</p>");
  Settings("2", 0);
  EXPECT_EQ(Install().exitCode, 4);
  EXPECT_TRUE(KeyExists(RecordKey()));
  EXPECT_FALSE(Recorded().found);
}

// A version that cannot be recorded is no success: the record key deleted
// by another process while the run is held between the flush and the
// record (a handle to a deleted key refuses writes with ERROR_KEY_DELETED,
// under Wine too). The run ends with 8, shows no completion box, and the
// log says why; with messages off too.
TEST_F(ManualRecordRun, AVersionThatCannotBeRecordedEndsWithEight) {
  if (!CopiesFiles()) GTEST_SKIP() << "the file layer of this build copies nothing yet";
  kit_.UseKillPointsProgram();
  kit_.AddSourceFile("index.html", "<p>manual</p>");
  fs::create_directories(kit_.installFolder());
  for (int messages : {1, 0}) {
    SCOPED_TRACE(messages);
    Settings(std::to_string(messages + 2), messages);
    const fs::path release = kit_.folder() / ("release" + std::to_string(messages));
    const fs::path held = release.string() + ".held", log = kit_.folder() / "run.log";
    const auto run = kit_.Start(
        {"/p" + InstallFolderText(), "/log=" + testing_support::HostPath(log.string())},
        {{"QUORVEX_FAULT_HOLD", "flushed:install:" + testing_support::HostPath(release.string())}});
    for (int polls = 0; polls < 3000 && !fs::exists(held); ++polls) Sleep(10);
    ASSERT_TRUE(fs::exists(held));
    DeleteTree(RecordKey());
    testing_support::WriteFile(release, "");
    const RunResult result = run->Wait();
    EXPECT_EQ(result.exitCode, 8);
    // Natively a box's text goes to standard error.
    EXPECT_EQ(result.errors.find("completed"), std::string::npos) << result.errors;
    EXPECT_FALSE(Recorded().found);
    const std::string text = testing_support::ReadFile(log);
    EXPECT_NE(text.find("failure: the version could not be recorded: error 1018"), std::string::npos)
        << text;
    EXPECT_NE(text.find("exit code: 8"), std::string::npos) << text;
  }
}

#ifndef _WIN32
// The same with the hive on a full file system: the folder of the lists of
// installed files cannot be recorded under the record key, so nothing can
// note what is there before the copy. The run ends with 8 before it writes
// anything, wherever the lists live.
TEST_F(ManualRecordRun, AFullFileSystemUnderTheHiveEndsWithEight) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root, to mount a small file system";
  kit_.AddSourceFile("index.html", "<p>manual</p>");
  fs::create_directories(kit_.installFolder());
  Settings("2", 1);
  const fs::path small = kit_.folder() / "small";
  fs::create_directories(small);
  ASSERT_EQ(mount("tmpfs", small.c_str(), "tmpfs", 0, "size=64k"), 0) << strerror(errno);
  const fs::path hive = small / "HKLM.reg";
  setenv("QUORVEX_HKLM", hive.c_str(), 1);
  WriteText(RecordKey(), "ja", "1");  // the hive and the key made, before the space runs out
  // Everything but a few bytes taken.
  {
    std::ofstream filler(small / "filler", std::ios::binary);
    const std::string block(1024, 'x');
    while (filler.write(block.data(), block.size())) {}
  }
  for (const std::string& lists : {std::string(), (kit_.folder() / "lists").string()}) {
    const RunResult result = testing_support::RunProgram(
        kit_.executable().string(),
        {"/p" + InstallFolderText(), "/log=" + (kit_.folder() / "run.log").string()},
        {{"QUORVEX_HKLM", hive.string()}, {"QUORVEX_LISTS", lists}});
    EXPECT_EQ(result.exitCode, 8) << lists;
    EXPECT_EQ(result.errors.find("completed"), std::string::npos) << result.errors;
  }
  umount2(small.c_str(), MNT_DETACH);
  EXPECT_FALSE(fs::exists(kit_.installFolder() / "index.html"));
  const std::string text = testing_support::ReadFile(kit_.folder() / "run.log");
  EXPECT_NE(text.find("failure: the lists' folder"), std::string::npos) << text;
}
#endif

// A record value is read as text whatever its type: up to its first zero
// byte, never beyond its size, and not at all when longer than 260 bytes.
TEST_F(ManualRecordRun, RecordOfAnotherTypeOrSize) {
  WriteValue(RecordKey(), "en", REG_DWORD, std::string("9\0\0\0", 4));
  Settings("5", 0);
  EXPECT_EQ(Install().exitCode, 0);
  EXPECT_EQ(Recorded().type, static_cast<DWORD>(REG_DWORD));
  Settings("10", 0);
  EXPECT_EQ(Install().exitCode, 0);
  EXPECT_EQ(Recorded().type, static_cast<DWORD>(REG_SZ));

  WriteText(RecordKey(), "en", std::string(260, '9'));
  Settings("1", 0);
  EXPECT_EQ(Install().exitCode, 0);
  EXPECT_EQ(Recorded().data, Text("1"));

  WriteValue(RecordKey(), "en", REG_BINARY, std::string(260, '9'));
  EXPECT_EQ(Install().exitCode, 0);
  EXPECT_EQ(Recorded().data, std::string(260, '9'));

  WriteValue(RecordKey(), "en", REG_BINARY, std::string("2\0" "9", 3));
  Settings("3", 0);
  EXPECT_EQ(Install().exitCode, 0);
  EXPECT_EQ(Recorded().data, Text("3"));
}

TEST_F(ManualRecordRun, InstallDirectoryFromTheUninstallRegistration) {
  fs::create_directories(kit_.installFolder());
  kit_.AddSourceFile("index.html", "<p>manual</p>");
  WriteText(UninstallKey(), "InstallPath0", InstallFolderText());
  const fs::path elsewhere = kit_.folder() / "elsewhere";
  fs::create_directories(elsewhere);
  Settings("7", 0);

  // "/P" is not the switch.
  auto result = kit_.Run({"/P" + elsewhere.string()});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.output, "");
  EXPECT_EQ(Recorded().data, Text("7"));
  if (CopiesFiles()) {
    EXPECT_TRUE(fs::exists(kit_.installFolder() / "index.html"));
    EXPECT_FALSE(fs::exists(elsewhere / "index.html"));
  }
}

TEST_F(ManualRecordRun, WithoutAnInstallDirectoryExitsWithFiveAndTouchesNoRecord) {
  Settings("7", 0);
  auto expectFive = [&](const char* situation) {
    SCOPED_TRACE(situation);
    auto result = kit_.Run({});
    EXPECT_EQ(result.exitCode, 5);
    EXPECT_EQ(result.output, kNoInstallDirectory);
    EXPECT_FALSE(KeyExists(RecordKey()));
  };
  expectFive("no registration");
  WriteText(UninstallKey(), "DisplayName", "Orvinel");
  WriteText(UninstallKey(), "InstallPath1", InstallFolderText());
  expectFive("no InstallPath0");
  WriteText(UninstallKey(), "InstallPath0", "");
  expectFive("empty InstallPath0");
  WriteText(UninstallKey(), "InstallPath0", std::string(300, 'x'));
  expectFive("InstallPath0 longer than 260 bytes");
}

TEST_F(ManualRecordRun, BackslashesInProductAndGuidMakeDeeperKeys) {
  product_ += "\\Edition";
  guid_ += "\\Component";
  WriteValue(UninstallKey(), "InstallPath0", REG_EXPAND_SZ, Text(InstallFolderText()));
  Settings("8", 0);
  EXPECT_EQ(kit_.Run({}).exitCode, 0);
  EXPECT_EQ(ReadValue("SOFTWARE\\Veltrane\\" + product_ + "\\Manual\\" + guid_, "en").data,
            Text("8"));
  EXPECT_TRUE(KeyExists("SOFTWARE\\Veltrane\\" + product_.substr(0, product_.find('\\')) +
                        "\\Edition\\Manual"));
}

}  // namespace

// Values of any length and form come back as they were written: a 1 MB line
// before the section and a 1 MB version, dots (no special meaning in the
// registry), long names. (The registry of Wine takes key paths of up to 260
// bytes through the ANSI calls, so Product and ProductGUID are kept to 100.)
TEST_F(ManualRecordRun, HugeLinesDotsAndLongNamesInTheSettings) {
  product_ += ".\\..\\" + std::string(100 - product_.size() - 5, 'p');
  guid_ += std::string(100 - guid_.size(), '.');
  const std::string language = "en.US." + std::string(248, 'x');
  kit_.WriteSettings(std::string(1 << 20, '\x01') + "\n[Product]\nProductGUID=" + guid_ +
                     "\nLanguage=" + language + "\nManualVersion=" + std::string(1 << 20, '9') +
                     "\nMessageDisplay=0\nProduct=" + product_ + "\n");
  EXPECT_EQ(Install().exitCode, 0);
  EXPECT_EQ(Recorded(language).data, Text(std::string(254, '9')));
  EXPECT_TRUE(KeyExists(RecordKey().substr(0, RecordKey().find("\\..\\") + 3)));
}

// The install directory and the record are read as text whatever their type,
// with or without a terminating zero, up to the first zero.
TEST_F(ManualRecordRun, ValuesWithoutTerminatorOrOfAnotherType) {
  fs::create_directories(kit_.installFolder());
  kit_.AddSourceFile("index.html", "<p>manual</p>");
  WriteValue(UninstallKey(), "InstallPath0", REG_BINARY, InstallFolderText());
#ifdef _WIN32
  // The ANSI call adds the terminating zero to a text.
  WriteValue(RecordKey(), "en", REG_NONE, "5");
#else
  WriteValue(RecordKey(), "en", REG_SZ, "5");
#endif
  Settings("4", 0);
  EXPECT_EQ(kit_.Run({}).exitCode, 0);
  EXPECT_EQ(Recorded().data, "5");
  EXPECT_FALSE(fs::exists(kit_.installFolder() / "index.html"));
  Settings("6", 0);
  EXPECT_EQ(kit_.Run({}).exitCode, 0);
  EXPECT_EQ(Recorded().data, Text("6"));
  EXPECT_TRUE(fs::exists(kit_.installFolder() / "index.html"));

  fs::remove(kit_.installFolder() / "index.html");
  WriteValue(UninstallKey(), "InstallPath0", REG_MULTI_SZ,
             Text(InstallFolderText()) + Text("elsewhere") + '\0');
  Settings("7", 0);
  EXPECT_EQ(kit_.Run({}).exitCode, 0);
  EXPECT_EQ(Recorded().data, Text("7"));
  EXPECT_TRUE(fs::exists(kit_.installFolder() / "index.html"));
}
