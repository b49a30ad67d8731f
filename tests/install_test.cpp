// The installer end to end: the real program in a kit copies its SRC into a
// real install folder, exits with the copy's code and records the version
// only after a complete copy.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "platform/win32.h"
#include "registry/registry_key.h"
#include "registry/version_record.h"
#include "support/kit.h"

using testing_support::Kit;
using testing_support::ReadFile;
using testing_support::RunResult;

namespace {

#ifdef _WIN32
// A message box would wait for a click that never comes.
constexpr int kMessageDisplay = 0;
#else
// The stand-in's message boxes write to standard error and return.
constexpr int kMessageDisplay = 1;
#endif

class InstallTest : public ::testing::Test {
 protected:
  void SetUp() override {
#ifndef _WIN32
    setenv("QUORVEX_HKLM", kit_.HivePath().c_str(), 1);
    ScopedRegKey probe;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\QuorvexProbe", 0, nullptr,
                        REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, probe.Receive(),
                        nullptr) != ERROR_SUCCESS) {
      GTEST_SKIP() << "the stand-in registry does not work yet";
    }
#endif
    fs::create_directories(kit_.installFolder());
  }
#ifndef _WIN32
  void TearDown() override { unsetenv("QUORVEX_HKLM"); }
#endif

  // Settings of a product of the test's own: records of earlier runs (the
  // Wine prefix keeps them) are forgotten.
  void Configure(const char* productGuid) {
    settings_.productGuid = productGuid;
    settings_.product = "QuorvexCopyTest";
    settings_.manualVersion = "2.1";
    settings_.messageDisplay = kMessageDisplay;
    kit_.WriteSettings("[Product]\nProductGUID=" + settings_.productGuid +
                       "\nLanguage=en\nManualVersion=2.1\nProduct=QuorvexCopyTest\n"
                       "MessageDisplay=" + std::to_string(kMessageDisplay) + "\n");
    ScopedRegKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, ManualRecordKey(settings_).c_str(), 0, KEY_SET_VALUE,
                      key.Receive()) == ERROR_SUCCESS) {
      RegDeleteValueA(key.Get(), "en");
    }
  }

  std::string RecordedVersion() const {
    ScopedRegKey key;
    std::string version;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, ManualRecordKey(settings_).c_str(), 0,
                      KEY_QUERY_VALUE, key.Receive()) != ERROR_SUCCESS ||
        !QueryTextValue(key.Get(), "en", version)) {
      return "(none)";
    }
    return version;
  }

  // A complete copy shows the completion box when messages are on.
  void ExpectCompleted(const RunResult& result) {
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.output, "");
    EXPECT_EQ(RecordedVersion(), "2.1");
    if (kMessageDisplay) {
      EXPECT_NE(result.errors, "");
    }
  }
  // A failed copy shows nothing and records nothing.
  void ExpectFailed(const RunResult& result, int exitCode) {
    EXPECT_EQ(result.exitCode, exitCode);
    EXPECT_EQ(result.output, "");
    if (kMessageDisplay) {
      EXPECT_EQ(result.errors, "");
    }
    EXPECT_EQ(RecordedVersion(), "(none)");
  }

  Kit kit_;
  InstallerSettings settings_;
};

TEST_F(InstallTest, InstallsTheManualAndRecordsItsVersion) {
  Configure("{7A3C41D0-0000-4000-8000-000000000001}");
  kit_.AddSourceFile("index.html", "<index>");
  kit_.AddSourceFile("guide/images/main.svg", "<svg/>");
  testing_support::WriteFile(kit_.installFolder() / "program.exe", "the product");

  ExpectCompleted(kit_.RunInto(kit_.installFolder()));
  EXPECT_EQ(ReadFile(kit_.installFolder() / "index.html"), "<index>");
  EXPECT_EQ(ReadFile(kit_.installFolder() / "guide/images/main.svg"), "<svg/>");
  EXPECT_EQ(ReadFile(kit_.installFolder() / "program.exe"), "the product");
}

TEST_F(InstallTest, MissingSourceFolderInstallsNothingAndSucceeds) {
  Configure("{7A3C41D0-0000-4000-8000-000000000002}");
  ExpectCompleted(kit_.RunInto(kit_.installFolder()));
  EXPECT_TRUE(fs::is_empty(kit_.installFolder()));
}

TEST_F(InstallTest, FirstInstallDirectoryArgumentWins) {
  Configure("{7A3C41D0-0000-4000-8000-000000000003}");
  kit_.AddSourceFile("index.html", "<index>");
  const fs::path second = kit_.folder() / "second";
  fs::create_directories(second);
  ExpectCompleted(
      kit_.Run({"/p" + kit_.installFolder().string(), "/p" + second.string()}));
  EXPECT_EQ(ReadFile(kit_.installFolder() / "index.html"), "<index>");
  EXPECT_TRUE(fs::is_empty(second));
}

// The install directory is never created: the first folder or file to go
// into it fails, nothing is recorded and nothing is shown.
TEST_F(InstallTest, FailedCopyRecordsNothing) {
  Configure("{7A3C41D0-0000-4000-8000-000000000004}");
  fs::remove(kit_.installFolder());
  kit_.AddSourceFile("guide/start.html", "start");
  ExpectFailed(kit_.RunInto(kit_.installFolder()), 3);
  kit_.AddSourceFile("a.html", "a");
  ExpectFailed(kit_.RunInto(kit_.installFolder()), 4);
  EXPECT_FALSE(fs::exists(kit_.installFolder()));
}

}  // namespace
