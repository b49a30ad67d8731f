// The installer end to end: the real program in a kit copies its SRC into a
// real install folder, exits with the copy's code and records the version
// only after a complete copy.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "install_list/installed_files.h"
#include "install_list/run_lists.h"
#include "platform/list_store.h"
#include "platform/win32.h"
#include "registry/registry_key.h"
#include "registry/version_record.h"
#include "support/kit.h"
#include "support/kit_scenario.h"

#ifdef _WIN32
#include <aclapi.h>
#include <sddl.h>

#include "platform/win32/link_trust.h"
#endif

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

  // The test build, trusting the running account: Wine shows every folder
  // as that account's, and the shipped program trusts no folder of lists
  // there. Returns the environment that asks for it.
  testing_support::Environment TrustingTestBuild() {
    kit_.UseKillPointsProgram();
    return {{"QUORVEX_TRUST_RUNNING_USER", "1"}};
  }
  // The list of installed files of the product that Configure set.
  fs::path ListFile() const {
    return fs::path(ListBaseFolder()) / ("Quorvex QuorvexCopyTest " + settings_.productGuid) /
           ("en-" + RegistryViewName() + ".list");
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
  // A failed copy records nothing; with messages on, the failure box (on
  // standard error natively) says what failed and the exit code, once.
  void ExpectFailed(const RunResult& result, int exitCode) {
    EXPECT_EQ(result.exitCode, exitCode);
    EXPECT_EQ(result.output, "");
    if (kMessageDisplay) {
      const std::string code = "The setup stopped with exit code " + std::to_string(exitCode) + ".";
      EXPECT_EQ(result.errors.find("[Quorvex] "), 0u) << result.errors;
      EXPECT_NE(result.errors.find(code), std::string::npos) << result.errors;
      EXPECT_EQ(result.errors.find(code), result.errors.rfind(code)) << result.errors;
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

  // Neither the settings nor SRC: the program stands in no kit, and would
  // record the defaults' manual. It ends with 1, recording nothing.
  fs::remove(kit_.kitFolder() / "Quorvex.ini");
  const fs::path log = kit_.folder() / "nokit.log";
  const RunResult alone =
      kit_.Run({"/p" + kit_.installFolder().string(), "/log=" + testing_support::HostPath(log.string())});
  EXPECT_EQ(alone.exitCode, 1);
  EXPECT_NE(ReadFile(log).find("neither Quorvex.ini nor SRC is beside the program"),
            std::string::npos) << ReadFile(log);
  // The defaults show messages: the box says why.
  if (kMessageDisplay) {
    EXPECT_NE(alone.errors.find("[Quorvex] Neither Quorvex.ini nor SRC is beside this program: it "
                                "installs nothing.\n\nThe setup stopped with exit code 1."),
              std::string::npos) << alone.errors;
  }
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

  // Spelt as Windows takes a path: a last name's trailing dots and blanks
  // go, and the list of the install before is the same directory's (the
  // rerun passes over what it vouches for). A device path is no folder.
  const std::string install = testing_support::HostPath(kit_.installFolder().string());
  const fs::path log = kit_.folder() / "spelt.log";
  for (const std::string& spelt : {install + ".", install + " ", install + ". ."}) {
    SCOPED_TRACE(spelt);
    Configure(settings_.productGuid.c_str());
    fs::remove(log);
    ExpectCompleted(kit_.Run({"/p" + spelt, "/log=" + testing_support::HostPath(log.string())},
                             TrustingTestBuild()));
    EXPECT_NE(ReadFile(log).find("install directory: " + install + " (from /p)"),
              std::string::npos) << ReadFile(log);
  }
  EXPECT_NE(ReadFile(log).find("passed over (as the last install left them) 1"), std::string::npos)
      << ReadFile(log);
  Configure(settings_.productGuid.c_str());
  const RunResult device = kit_.Run({"/p\\\\.\\C:\\manual"});
  EXPECT_EQ(device.exitCode, 5);
  EXPECT_EQ(device.output, "Can not get the install directory!");
}

// The install directory is never created: the first folder or file to go
// into it fails, nothing is recorded and nothing is shown.
TEST_F(InstallTest, FailedCopyRecordsNothing) {
  Configure("{7A3C41D0-0000-4000-8000-000000000004}");
  fs::remove(kit_.installFolder());
  kit_.AddSourceFile("guide/start.html", "start");
  ExpectFailed(kit_.RunInto(kit_.installFolder()), 3);
  kit_.AddSourceFile("a.html", "a");
  // The log says why, beside the system's error of the first file.
  const fs::path log = kit_.folder() / "run.log";
  ExpectFailed(kit_.Run({"/p" + kit_.installFolder().string(), "/log=" + log.string()}), 4);
  EXPECT_NE(ReadFile(log).find("the install directory does not exist"), std::string::npos)
      << ReadFile(log);
  EXPECT_FALSE(fs::exists(kit_.installFolder()));
}

// Names and shapes a manual may have: empty files, a deep tree, blanks,
// leading dots and punctuation in names. Natively also names that Windows
// cannot hold (trailing dots and blanks), and names in code page 932, whose
// second bytes may be "\\", read in a Shift_JIS locale.
TEST_F(InstallTest, OddNamesAndShapesAreInstalledWhole) {
  Configure("{7A3C41D0-0000-4000-8000-000000000005}");
  std::vector<std::pair<std::string, std::string>> files = {
      {"empty.txt", ""}, {"a b/c d.html", "blanks"}, {".hidden", "dot"},
      {"#%&'()[]{}~!@$^+,;=.txt", "punctuation"}};
  std::string deep;
  for (int level = 0; level < 50; ++level) deep += "d/";
  files.emplace_back(deep + "leaf.txt", "deep");
  testing_support::Environment environment;
#ifndef _WIN32
  files.insert(files.end(), {{"dot./trailing.", "dots"},
                             {"blank /trailing ", "blanks"},
                             {"\x95\x5c/\x83\x5c.html", "hyo/so"}});  // "表/ソ.html"
  environment = {{"LC_ALL", "ja_JP.SJIS"}};
#endif
  for (const auto& [path, content] : files) kit_.AddSourceFile(path, content);
  ExpectCompleted(kit_.Run({"/p" + kit_.installFolder().string()}, environment));
  for (const auto& [path, content] : files) {
    EXPECT_TRUE(fs::is_regular_file(kit_.installFolder() / path)) << path;
    EXPECT_EQ(ReadFile(kit_.installFolder() / path), content) << path;
  }
}

// The log of /log=: one block per run, appended, each starting with the
// time, the program, its version and the command line, then whether the
// DLL search restriction and Redirection Guard took effect; a failing
// copy's names the path, the system's error and 4; a silent refusal's says refused, with
// both versions. Without the switch nothing is written anywhere; a log
// whose folder is missing gets none made, and the run goes on. Native
// paths in it have one separator.
TEST_F(InstallTest, LogSaysWhatTheRunDidOnlyWhenAskedFor) {
  Configure("{7A3C41D0-0000-4000-8000-00000000000B}");
  kit_.AddSourceFile("about.html", "<about>");
  kit_.AddSourceFile("guide/page.html", "<page>");
  const fs::path log = kit_.folder() / "logs" / "quorvex.log";
  fs::create_directories(log.parent_path());
  const std::string logSwitch = "/LOG=" + testing_support::HostPath(log.string());
  fs::create_directories(kit_.installFolder() / "guide" / "page.html");
  const std::string install = "/p" + testing_support::HostPath(kit_.installFolder().string());

  ExpectFailed(kit_.Run({install}), 4);
  EXPECT_FALSE(fs::exists(log));
  ExpectFailed(kit_.Run({logSwitch, install}), 4);
  const std::string failed = ReadFile(log);
#ifdef _WIN32
  const char* hardening = "\nDLL search: System32 only; Redirection Guard: ";
#else
  const char* hardening = "\nDLL search: not on this system; Redirection Guard: not on this system\n";
#endif
  for (const char* part : {hardening, "ManualVersion=2.1\n", "(from /p)\n",
                           "verdict: install 2.1, no version recorded\n",
                           "unchanged (already identical) 1,",
                           "page.html: error ", "exit code: 4\n"}) {
    EXPECT_NE(failed.find(part), std::string::npos) << part << " not in:\n" << failed;
  }

  fs::remove(kit_.installFolder() / "guide" / "page.html");
  ExpectCompleted(kit_.Run({install, "/log=" + testing_support::HostPath(log.string())}));
  kit_.WriteSettings("[Product]\nProductGUID=" + settings_.productGuid +
                     "\nManualVersion=2.0\nProduct=QuorvexCopyTest\nMessageDisplay=0\n");
  EXPECT_EQ(kit_.Run({install, logSwitch}).exitCode, 0);
  const std::string all = ReadFile(log);
  EXPECT_EQ(all.compare(0, failed.size(), failed), 0) << "the log is appended to";
  // Each block's first line tells its run apart by time and command line.
  const std::regex header("==== [0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z Quorvex "
                          "[0-9]+(?:\\.[0-9]+)+ \\((?:Linux|x64|x86)\\): "
                          "(?:\"[^\"]*|[^ ]*)Quorvex(?:\\.exe)?\"? (.*)");
  std::vector<std::string> commandLines;
  std::vector<size_t> blocks;
  for (size_t at = 0; at < all.size(); at = all.find('\n', at) + 1) {
    const std::string line = all.substr(at, all.find('\n', at) - at);
    std::smatch match;
    if (line.compare(0, 5, "==== ") != 0) continue;
    EXPECT_TRUE(std::regex_match(line, match, header)) << line;
    commandLines.push_back(match.size() > 1 ? match[1].str() : "");
    blocks.push_back(at);
  }
  const std::string logged = "/log=" + testing_support::HostPath(log.string());
  EXPECT_EQ(commandLines, (std::vector<std::string>{logSwitch + " " + install,
                                                    install + " " + logged,
                                                    install + " " + logSwitch}));
  ASSERT_EQ(blocks.size(), 3u);
  const std::string refused = all.substr(blocks[2]);
  EXPECT_NE(refused.find("verdict: refused, 2.0 may not replace the recorded 2.1\n"),
            std::string::npos) << refused;
  EXPECT_NE(refused.find("exit code: 0\n"), std::string::npos) << refused;
  EXPECT_NE(refused.find("Language=en (default: not set in the file)"), std::string::npos) << refused;
  EXPECT_EQ(RecordedVersion(), "2.1");
#ifndef _WIN32
  // Natively paths are built with "\\" as on Windows; the log has "/" in
  // them. The record key is no path.
  for (size_t at = 0; at < all.size(); at = all.find('\n', at) + 1) {
    const std::string line = all.substr(at, all.find('\n', at) - at);
    if (line.find(" (HKLM\\") == std::string::npos) {
      EXPECT_EQ(line.find('\\'), std::string::npos) << line;
    }
  }
  EXPECT_NE(all.find(kit_.installFolder().string() + "/guide/page.html: error "), std::string::npos)
      << all;
#endif

  // A log in a folder that is not there: no folder is made, the run ends
  // as without the log (the silent refusal's 0) and says so once.
  const fs::path missing = kit_.folder() / "no-logs" / "deeper";
  const RunResult unlogged =
      kit_.Run({install, "/log=" + testing_support::HostPath((missing / "run.log").string())});
  EXPECT_EQ(unlogged.exitCode, 0);
  EXPECT_FALSE(fs::exists(kit_.folder() / "no-logs"));
  EXPECT_NE(unlogged.errors.find("Quorvex: the log file "), std::string::npos) << unlogged.errors;
  EXPECT_NE(unlogged.errors.find(" does not exist"), std::string::npos) << unlogged.errors;
  EXPECT_EQ(unlogged.errors.find('\n'), unlogged.errors.size() - 1) << unlogged.errors;
  EXPECT_EQ(ReadFile(log), all);
}

// Runs killed at each step that leaves the disk in a state of its own, the
// replace of a read-only page and the keep of an identical page whose
// attributes differ from the kit's: each kill leaves whole files and no
// record, and one plain rerun installs the kit's content, times and
// read-only attributes, leaves no temporary file and records the version.
TEST_F(InstallTest, KilledAtEachStepTheRerunCompletes) {
  using namespace testing_support;
  Configure("{7A3C41D0-0000-4000-8000-00000000000B}");
  kit_.UseKillPointsProgram();
  const fs::path installed = kit_.installFolder();
  const fs::path page = installed / "guide" / "page.html", same = installed / "same.html";
  kit_.AddSourceFile("guide/page.html", "<page 2.1>");
  kit_.AddSourceFile("same.html", "<same>");
  SetWriteTime(kit_.sourceFolder() / "guide" / "page.html", kTime + 10 * kSecond);
  SetWriteTime(kit_.sourceFolder() / "same.html", kTime);
  for (const char* name : {"guide/page.html", "same.html"}) SetReadOnly(kit_.sourceFolder() / name, true);
  // The installed manual: an older read-only page, and a copy of the kit's
  // other page that has lost its read-only attribute.
  const auto installOld = [&] {
    for (const fs::path& file : {page, same}) {
      if (fs::exists(file)) SetReadOnly(file, false);
    }
    fs::remove_all(installed);
    WriteFile(page, "<page 1.0>");
    SetWriteTime(page, kTime);
    SetReadOnly(page, true);
    WriteFile(same, "<same>");
    SetWriteTime(same, kTime);
    Configure("{7A3C41D0-0000-4000-8000-00000000000B}");
  };
  const auto temporaryFiles = [&] {
    std::vector<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(installed)) {
      const std::string name = entry.path().filename().string();
      if (name.compare(0, 2, "~q") == 0) names.push_back(name);
    }
    return names;
  };
  // What the kill leaves of the file it stops at; the listing's order
  // decides what is done of the other one.
  struct Step {
    const char* kill;  // QUORVEX_FAULT_KILL
    fs::path file;
    const char* content;
    bool readOnly, temporaryLeft;
  };
  const Step steps[] = {
      {"readonly-cleared:page.html", page, "<page 1.0>", false, false},
      {"copy-written:page.html", page, "<page 1.0>", false, true},
      {"moved:page.html", page, "<page 2.1>", true, false},
#ifdef _WIN32
      // Natively the flush is one syncfs of the file system.
      {"flush-readonly-cleared:page.html", page, "<page 2.1>", false, false},
#endif
      {"identical-kept:same.html", same, "<same>", false, false},
      {"note-written:install", page, "<page 1.0>", true, false},
      {"flushed:install", page, "<page 2.1>", true, false},
      {"list-written:install", page, "<page 2.1>", true, false},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.kill);
    installOld();
    const RunResult killed = kit_.Run({"/p" + installed.string()}, {{"QUORVEX_FAULT_KILL", step.kill}});
    EXPECT_EQ(killed.exitCode, kKilledAtKillPoint);
    EXPECT_EQ(ReadFile(step.file), step.content);
    EXPECT_EQ(IsReadOnly(step.file), step.readOnly);
    EXPECT_EQ(temporaryFiles().size(), step.temporaryLeft ? 1u : 0u);
    EXPECT_EQ(RecordedVersion(), "(none)");

    ExpectCompleted(kit_.RunInto(installed));
    EXPECT_EQ(SnapshotTree(installed), SnapshotTree(kit_.sourceFolder()));
    EXPECT_EQ(temporaryFiles(), std::vector<std::string>());
  }

  // Held where the copy is complete and not yet in place: the page is still
  // the old one beside its whole copy; let go, the run completes.
  installOld();
  const fs::path release = kit_.folder() / "release";
  const auto run = kit_.StartInto(
      installed, {{"QUORVEX_FAULT_HOLD", "copy-written:page.html:" + HostPath(release.string())}});
  const fs::path held = release.string() + ".held";
  for (int polls = 0; polls < 3000 && !fs::exists(held); ++polls) Sleep(10);
  ASSERT_TRUE(fs::exists(held));
  EXPECT_EQ(ReadFile(page), "<page 1.0>");
  const std::vector<std::string> copies = temporaryFiles();
  ASSERT_EQ(copies.size(), 1u);
  // Its writer holds it open with DELETE, without sharing writes.
  EXPECT_EQ(fs::file_size(page.parent_path() / copies[0]), std::string("<page 2.1>").size());
  WriteFile(release, "");
  ExpectCompleted(run->Wait());
  EXPECT_EQ(SnapshotTree(installed), SnapshotTree(kit_.sourceFolder()));

  // Held for good, as another program's oplock could hold it: after the
  // deadline without progress (a test's shorter one) the run ends itself
  // with the code of its step, says so, and the next run completes.
  const struct {
    const char* hold;
    int exitCode;
  } stalls[] = {{"copy-written:page.html", 4}, {"list-written:install", 8}};
  const fs::path log = kit_.folder() / "stalled.log";
  for (const auto& stall : stalls) {
    SCOPED_TRACE(stall.hold);
    installOld();
    fs::remove(log);
    const RunResult stalled = kit_.Run(
        {"/p" + installed.string(), "/log=" + HostPath(log.string())},
        {{"QUORVEX_FAULT_HOLD", std::string(stall.hold) + ":" + HostPath(release.string() + "-never")},
         {"QUORVEX_FAULT_STALL_AFTER", "1500"}});
    EXPECT_EQ(stalled.exitCode, stall.exitCode);
    EXPECT_EQ(RecordedVersion(), "(none)");
    const std::string text = ReadFile(log);
    EXPECT_NE(text.find("failure: the run made no progress for 2 s"), std::string::npos) << text;
    EXPECT_NE(text.find("exit code: " + std::to_string(stall.exitCode) + "\n"), std::string::npos)
        << text;
    ExpectCompleted(kit_.RunInto(installed));
    EXPECT_EQ(SnapshotTree(installed), SnapshotTree(kit_.sourceFolder()));
  }
}

// A rerun of the same kit passes over the files that the list of installed
// files vouches for, unopened; each way a file can change behind the
// installer's back, and each way the list can be spoilt, sends the rerun
// the way of a first run, and it ends with the kit installed.
TEST_F(InstallTest, ARerunPassesOverOnlyWhatTheListVouchesFor) {
  using namespace testing_support;
  Configure("{7A3C41D0-0000-4000-8000-00000000000C}");
  const Environment trust = TrustingTestBuild();
  const fs::path installed = kit_.installFolder();
  const fs::path page = installed / "guide" / "page.html";
  kit_.AddSourceFile("guide/page.html", "<page 2.1>");
  kit_.AddSourceFile("other.html", "<other>");
  SetWriteTime(kit_.sourceFolder() / "guide" / "page.html", kTime);
  const fs::path log = kit_.folder() / "run.log";
  const auto passedOver = [&] {
    const std::string text = ReadFile(log);
    const size_t at = text.rfind("passed over (as the last install left them) ");
    return at == std::string::npos ? std::string("?") : text.substr(at + 44, 1);
  };
  // With messages on, an equal version is refused: the record is forgotten.
  const auto rerun = [&] {
    Configure(settings_.productGuid.c_str());
    fs::remove(log);
    ExpectCompleted(kit_.Run({"/p" + installed.string(), "/log=" + log.string()}, trust));
    EXPECT_EQ(SnapshotTree(installed), SnapshotTree(kit_.sourceFolder()));
  };
  const fs::path lists = ListFile();
  struct Change {
    const char* what;
    std::function<void()> make;
    const char* passedOver;
  };
  const Change changes[] = {
      {"nothing", [] {}, "2"},
      {"content changed, size and time put back",
       [&] {
         WriteFile(page, "<page 9.9>");
         SetWriteTime(page, kTime);
       },
       "1"},
      {"replaced by another file with the same times",
       [&] {
         WriteFile(installed / "swap.tmp", "<page 9.9>");
         SetWriteTime(installed / "swap.tmp", kTime);
         fs::rename(installed / "swap.tmp", page);
       },
       "1"},
      {"made a hard link", [&] { fs::create_hard_link(page, kit_.folder() / "elsewhere.lnk"); }, "1"},
      {"list edited",
       [&] {
         std::string text = ReadFile(lists);
         text[text.find("page.html") - 2] ^= 1;
         WriteFile(lists, text);
       },
       "0"},
      {"list cut short",
       [&] {
         const std::string text = ReadFile(lists);
         WriteFile(lists, text.substr(0, text.size() / 2));
       },
       "0"},
      {"list of another install directory planted",
       [&] {
         InstalledFileList list;
         std::string why;
         ASSERT_TRUE(ParseInstalledFileList(ReadFile(lists), list, why)) << why;
         list.owner.installDirectory = "C:\\Elsewhere\\";
         WriteFile(lists, FormatInstalledFileList(list));
       },
       "0"},
  };
  ExpectCompleted(kit_.Run({"/p" + installed.string()}, trust));
  for (const Change& change : changes) {
    SCOPED_TRACE(change.what);
    change.make();
    rerun();
    EXPECT_EQ(passedOver(), change.passedOver) << ReadFile(log);
    fs::remove(kit_.folder() / "elsewhere.lnk");
    rerun();
    EXPECT_EQ(passedOver(), "2") << ReadFile(log);
  }
#ifndef _WIN32
  // A list that cannot be replaced ends the run with 8 and records nothing;
  // the previous list and the note of what was there before stay, and the
  // next run goes on from them. The page to rewrite makes the run write its
  // note first.
  Configure(settings_.productGuid.c_str());
  WriteFile(page, "<page 9.9>");
  SetWriteTime(page, kTime);
  const std::string listed = ReadFile(lists);
  const fs::path note = lists.parent_path() / ("en-" + RegistryViewName() + ".note");
  fs::remove(log);
  const RunResult failed = kit_.Run({"/p" + installed.string(), "/log=" + log.string()},
                                    {{"QUORVEX_FAULT_LIST", lists.filename().string()}});
  EXPECT_EQ(failed.exitCode, 8);
  EXPECT_EQ(RecordedVersion(), "(none)");
  EXPECT_EQ(ReadFile(lists), listed);
  EXPECT_TRUE(fs::exists(note));
  EXPECT_NE(ReadFile(log).find("failure: the list of installed files cannot be written"),
            std::string::npos) << ReadFile(log);
  // The page the failed run rewrote is no longer as the list left it.
  rerun();
  EXPECT_EQ(passedOver(), "1");
  EXPECT_FALSE(fs::exists(note));
#endif
}

// The list tells what installs wrote from what was there before: a file
// that a killed run wrote counts as installed, a page the administrator
// had put there counts as there before, and so does every file that an
// install of a release without lists left.
TEST_F(InstallTest, TheListTellsWhatInstallsWroteFromWhatWasThereBefore) {
  using namespace testing_support;
  Configure("{7A3C41D0-0000-4000-8000-00000000000D}");
  const Environment trust = TrustingTestBuild();
  const fs::path installed = kit_.installFolder();
  kit_.AddSourceFile("a.html", "<a>");
  kit_.AddSourceFile("b.html", "<b>");
  kit_.AddSourceFile("guide/c.html", "<c>");
  WriteFile(installed / "a.html", "<the administrator's a>");
  SetWriteTime(installed / "a.html", kTime - kSecond);
  const fs::path lists = ListFile();
  const auto origins = [&] {
    InstalledFileList list;
    std::string why, text;
    EXPECT_TRUE(ParseInstalledFileList(ReadFile(lists), list, why)) << why;
    for (const InstalledFile& file : list.files) {
      text += file.path + (file.origin == FileOrigin::Installed ? " installed\n" : " before\n");
    }
    for (const std::string& folder : list.createdFolders) text += folder + " created\n";
    return text;
  };
  Environment kill = trust;
  kill.emplace_back("QUORVEX_FAULT_KILL", "moved:b.html");
  EXPECT_EQ(kit_.Run({"/p" + installed.string()}, kill).exitCode, kKilledAtKillPoint);
  ExpectCompleted(kit_.Run({"/p" + installed.string()}, trust));
  EXPECT_EQ(origins(), "a.html before\nb.html installed\nguide\\c.html installed\nguide created\n");

  // Installed by a release that kept no list: all of it was there before.
  fs::remove(lists);
  Configure(settings_.productGuid.c_str());
  ExpectCompleted(kit_.Run({"/p" + installed.string()}, trust));
  EXPECT_EQ(origins(), "a.html before\nb.html before\nguide\\c.html before\n");
}

// Only administrators (natively root) may read the lists. A lists' folder
// that gives anyone else access, as an earlier release made it, is given
// the permissions of a new one before its list is read, and is still
// used: the rerun passes over what the list vouches for. Wine keeps no
// permissions: there the folder is made as Wine shows an earlier one
// (Everyone may read) and only its use is seen.
TEST_F(InstallTest, AListsFolderOthersMayReadIsRestrictedAndStillUsed) {
  using fs::perms;
  Configure("{7A3C41D0-0000-4000-8000-00000000000E}");
  const testing_support::Environment trust = TrustingTestBuild();
  kit_.AddSourceFile("a.html", "<a>");
  const fs::path list = ListFile(), folder = list.parent_path();
#ifdef _WIN32
  fs::remove_all(folder);
  PSECURITY_DESCRIPTOR earlier = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(
      "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FRFX;;;WD)", SDDL_REVISION_1, &earlier, nullptr));
  SECURITY_ATTRIBUTES attributes{sizeof attributes, earlier, FALSE};
  ASSERT_TRUE(CreateDirectoryA(folder.string().c_str(), &attributes));
  LocalFree(earlier);
  PSECURITY_DESCRIPTOR found = nullptr;
  ASSERT_EQ(GetNamedSecurityInfoA(folder.string().c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                  nullptr, nullptr, nullptr, nullptr, &found), 0u);
  EXPECT_TRUE(FolderGivesOthersAccess(found, true));
  LocalFree(found);
  ExpectCompleted(kit_.Run({"/p" + kit_.installFolder().string()}, trust));
#else
  ExpectCompleted(kit_.RunInto(kit_.installFolder()));
  EXPECT_EQ(fs::status(folder).permissions(), perms::owner_all);
  EXPECT_EQ(fs::status(list).permissions(), perms::owner_read | perms::owner_write);
  fs::permissions(folder, perms::owner_all | perms::group_read | perms::group_exec |
                              perms::others_read | perms::others_exec);
  fs::permissions(list, perms::owner_read | perms::owner_write | perms::group_read |
                            perms::others_read);
#endif
  ASSERT_TRUE(fs::exists(list));
  Configure(settings_.productGuid.c_str());
  const fs::path log = kit_.folder() / "run.log";
  ExpectCompleted(kit_.Run({"/p" + kit_.installFolder().string(), "/log=" + log.string()}, trust));
  EXPECT_NE(ReadFile(log).find("passed over (as the last install left them) 1"), std::string::npos)
      << ReadFile(log);
#ifndef _WIN32
  EXPECT_EQ(fs::status(folder).permissions(), perms::owner_all);
  EXPECT_EQ(fs::status(list).permissions(), perms::owner_read | perms::owner_write);

  // A lease another program holds on the list, as an oplock on Windows:
  // the list is in use, not waited for. The run ends with 8 before it
  // writes anything; once the lease is let go, the next run completes.
  kit_.AddSourceFile("b.html", "<b>");
  const auto before = testing_support::SnapshotTree(kit_.installFolder());
  const auto ignored = signal(SIGIO, SIG_IGN);  // the lease's break, to its holder
  const int leased = open(list.c_str(), O_RDWR);
  ASSERT_GE(leased, 0);
  ASSERT_EQ(fcntl(leased, F_SETLEASE, F_WRLCK), 0) << strerror(errno);
  Configure(settings_.productGuid.c_str());
  const RunResult held = kit_.Run({"/p" + kit_.installFolder().string(), "/log=" + log.string()});
  EXPECT_EQ(held.exitCode, 8);
  EXPECT_EQ(RecordedVersion(), "(none)");
  EXPECT_EQ(testing_support::SnapshotTree(kit_.installFolder()), before);
  fcntl(leased, F_SETLEASE, F_UNLCK);
  close(leased);
  signal(SIGIO, ignored);
  ExpectCompleted(kit_.RunInto(kit_.installFolder()));
  EXPECT_EQ(ReadFile(kit_.installFolder() / "b.html"), "<b>");
#endif
}

#ifndef _WIN32
// A page that another program holds (under a lease, as a viewer holds a
// page open on Windows) when the copy comes to it. The box names the file,
// the system's word and the holder. With no terminal to answer on, the
// answer is Cancel: 4, nothing recorded, no second box. At a terminal the
// person closes the viewer and retries: the run completes.
TEST_F(InstallTest, APageHeldOpenNamesItsHolderAndMayBeRetried) {
  Configure("{7A3C41D0-0000-4000-8000-00000000000F}");
  kit_.AddSourceFile("a.html", "<a>");
  kit_.AddSourceFile("b.html", "<b new>");
  const fs::path page = kit_.installFolder() / "b.html";
  testing_support::WriteFile(page, "<b old>");
  fs::last_write_time(page, fs::last_write_time(page) - std::chrono::hours(24 * 365));
  const fs::path log = kit_.folder() / "held.log";
  auto viewer = std::make_unique<testing_support::HoldingProcess>(page, "pageviewer", true);
  ASSERT_TRUE(viewer->holding());
  const std::string box =
      "[Quorvex] Could not write the file\n" + kit_.installFolder().string() + "\\b.html" +
      "\n\nThe process cannot access the file because it is being used by another process.\n"
      "It is held open by: pageviewer (process " + std::to_string(viewer->id()) + ")\n\n"
      "Close the program that holds the file, then choose Retry. Cancel stops the setup with "
      "exit code 4.\n";
  const RunResult cancelled = kit_.Run({"/p" + kit_.installFolder().string(), "/log=" + log.string()});
  EXPECT_EQ(cancelled.exitCode, 4);
  EXPECT_EQ(cancelled.errors, box);
  EXPECT_EQ(RecordedVersion(), "(none)");
  EXPECT_NE(ReadFile(log).find("b.html is held open by pageviewer (process"), std::string::npos)
      << ReadFile(log);
  EXPECT_NE(ReadFile(log).find("the person chose Cancel"), std::string::npos) << ReadFile(log);
  // Read once the viewer has let go: an open would wait for its lease.
  viewer.reset();
  EXPECT_EQ(ReadFile(page), "<b old>");

  // A lease once broken stays broken for a while: a fresh one for the retry.
  viewer = std::make_unique<testing_support::HoldingProcess>(page, "pageviewer", true);
  ASSERT_TRUE(viewer->holding());
  const int terminal = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(terminal, 0);
  ASSERT_EQ(grantpt(terminal), 0);
  ASSERT_EQ(unlockpt(terminal), 0);
  Configure(settings_.productGuid.c_str());
  const auto run = kit_.Start({"/p" + kit_.installFolder().string()}, {}, ptsname(terminal));
  for (int polls = 0; polls < 3000 && run->ErrorsSoFar().find("Retry? [y/N]") == std::string::npos;
       ++polls) {
    Sleep(10);
  }
  viewer.reset();
  ASSERT_EQ(write(terminal, "y\n", 2), 2);
  const RunResult retried = run->Wait();
  close(terminal);
  EXPECT_EQ(retried.exitCode, 0);
  EXPECT_EQ(retried.errors.find("Close the program that holds the file"),
            retried.errors.rfind("Close the program that holds the file"));
  EXPECT_NE(retried.errors.find("Retry? [y/N] "), std::string::npos) << retried.errors;
  EXPECT_NE(retried.errors.find("[Quorvex] The setup was completed. "), std::string::npos);
  EXPECT_EQ(ReadFile(page), "<b new>");
  EXPECT_EQ(RecordedVersion(), "2.1");
}
#endif

#ifndef _WIN32
// A folder of the install swapped, at a hold point between two of its
// files, for a link that root made (a link the link rule trusts): the run
// writes the next file into the folder it holds, wherever that has gone,
// and nothing where the link leads.
TEST_F(InstallTest, AHeldFolderSwappedAtAHoldPointKeepsTheCopy) {
  Configure("{7A3C41D0-0000-4000-8000-00000000000C}");
  kit_.AddSourceFile("docs/a.html", "<a>");
  kit_.AddSourceFile("docs/b.html", "<b>");
  const fs::path installed = kit_.installFolder(), docs = installed / "docs";
  const fs::path moved = installed / "docs.moved", elsewhere = kit_.folder() / "elsewhere";
  fs::create_directories(docs);
  fs::create_directories(elsewhere);
  const fs::path release = kit_.folder() / "release";
  const auto run = kit_.StartInto(installed, {{"QUORVEX_FAULT_HOLD", "moved:a.html:" + release.string()}});
  const fs::path held = release.string() + ".held";
  for (int polls = 0; polls < 3000 && !fs::exists(held); ++polls) Sleep(10);
  ASSERT_TRUE(fs::exists(held));
  fs::rename(docs, moved);
  fs::create_directory_symlink(elsewhere, docs);
  testing_support::WriteFile(release, "");
  ExpectCompleted(run->Wait());
  EXPECT_EQ(ReadFile(moved / "b.html"), "<b>");
  EXPECT_TRUE(fs::is_empty(elsewhere));
}

// A file name with a backslash byte, which no Windows name holds, cannot be
// copied: the run fails with 4 and records nothing.
TEST_F(InstallTest, BackslashInANativeNameFailsTheCopy) {
  Configure("{7A3C41D0-0000-4000-8000-000000000006}");
  kit_.AddSourceFile("a.txt", "a");
  kit_.AddSourceFile("back\\slash.txt", "b");
  ExpectFailed(kit_.Run({"/p" + kit_.installFolder().string()}, {{"LC_ALL", "C"}}), 4);
  EXPECT_EQ(ReadFile(kit_.installFolder() / "a.txt"), "a");
}

// A symbolic link where a file of the manual goes is replaced by the file;
// what it points to, outside the install folder, is neither written nor
// made writable.
TEST_F(InstallTest, SymbolicLinksAtDestinationsAreReplacedAndTheirTargetsKept) {
  Configure("{7A3C41D0-0000-4000-8000-000000000007}");
  kit_.AddSourceFile("index.html", "<index>");
  kit_.AddSourceFile("guide.html", "<guide>");
  const fs::path outside = kit_.folder() / "outside.txt";
  testing_support::WriteFile(outside, "outside");
  // Newer than the kit's page: read through the link, it would be kept.
  const struct timespec newer[2] = {{4102444800, 0}, {4102444800, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, outside.c_str(), newer, 0), 0);
  fs::permissions(outside, fs::perms::owner_read | fs::perms::group_read);
  fs::create_symlink(outside, kit_.installFolder() / "index.html");
  fs::create_symlink(kit_.folder() / "nowhere", kit_.installFolder() / "guide.html");

  ExpectCompleted(kit_.RunInto(kit_.installFolder()));
  for (const char* name : {"index.html", "guide.html"}) {
    EXPECT_FALSE(fs::is_symlink(kit_.installFolder() / name)) << name;
  }
  EXPECT_EQ(ReadFile(kit_.installFolder() / "index.html"), "<index>");
  EXPECT_EQ(ReadFile(kit_.installFolder() / "guide.html"), "<guide>");
  EXPECT_EQ(ReadFile(outside), "outside");
  EXPECT_EQ(fs::status(outside).permissions(), fs::perms::owner_read | fs::perms::group_read);
  EXPECT_FALSE(fs::exists(kit_.folder() / "nowhere"));
}

// Links under the install folder, and the install folder itself as a link:
// one that another account owns gets nothing written through it, and the
// run ends with 4 without recording; one that root made is followed.
TEST_F(InstallTest, LinksThatAnotherAccountMadeAreNotWrittenThrough) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root, to give a link to another account (lchown)";
  const uid_t nobody = 65534;
  Configure("{7A3C41D0-0000-4000-8000-00000000000A}");
  kit_.AddSourceFile("docs/guide.cfg", "<guide>");
  const fs::path elsewhere = kit_.folder() / "elsewhere";
  fs::create_directories(elsewhere);
  const fs::path docs = kit_.installFolder() / "docs";
  fs::create_directory_symlink(elsewhere, docs);
  ASSERT_EQ(lchown(docs.c_str(), nobody, nobody), 0);
  ExpectFailed(kit_.RunInto(kit_.installFolder()), 4);
  EXPECT_TRUE(fs::is_empty(elsewhere));
  // The log names the link and where it leads.
  const fs::path log = kit_.folder() / "links.log";
  ExpectFailed(kit_.Run({"/p" + kit_.installFolder().string(), "/log=" + log.string()}), 4);
  EXPECT_NE(ReadFile(log).find("docs: a link to " + elsewhere.string() +
                               " that another account made: nothing is written through it"),
            std::string::npos) << ReadFile(log);

  const fs::path manual = kit_.folder() / "public" / "manual";
  fs::create_directories(manual.parent_path());
  fs::create_directory_symlink(elsewhere, manual);
  ASSERT_EQ(lchown(manual.c_str(), nobody, nobody), 0);
  ExpectFailed(kit_.RunInto(manual), 4);
  EXPECT_TRUE(fs::is_empty(elsewhere));

  ASSERT_EQ(lchown(docs.c_str(), 0, 0), 0);
  ExpectCompleted(kit_.RunInto(kit_.installFolder()));
  EXPECT_EQ(ReadFile(elsewhere / "guide.cfg"), "<guide>");
}

// A page newer than the kit's is kept only when root (or the running user)
// owns it: one that another account planted is replaced and the log says
// so. The log itself is written only into a file of a trusted owner,
// never through a link, and one line of it stays one line whatever a
// link's text holds.
TEST_F(InstallTest, PlantedPagesAreReplacedAndTheLogGoesOnlyWhereNoOneElseCanSteerIt) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root, to give files to another account (chown)";
  const uid_t nobody = 65534;
  Configure("{7A3C41D0-0000-4000-8000-00000000000C}");
  kit_.AddSourceFile("planted.html", "<kit page>");
  kit_.AddSourceFile("kept.html", "<kit page>");
  const struct timespec future[2] = {{4102444800, 0}, {4102444800, 0}};
  for (const char* name : {"planted.html", "kept.html"}) {
    const fs::path page = kit_.installFolder() / name;
    testing_support::WriteFile(page, "<newer>");
    ASSERT_EQ(utimensat(AT_FDCWD, page.c_str(), future, 0), 0);
  }
  ASSERT_EQ(chown((kit_.installFolder() / "planted.html").c_str(), nobody, nobody), 0);
  const fs::path log = kit_.folder() / "run.log";
  const std::string install = "/p" + kit_.installFolder().string();
  ExpectCompleted(kit_.Run({install, "/log=" + log.string()}));
  EXPECT_EQ(ReadFile(kit_.installFolder() / "planted.html"), "<kit page>");
  EXPECT_EQ(ReadFile(kit_.installFolder() / "kept.html"), "<newer>");
  EXPECT_NE(ReadFile(log).find("replaced a newer file that an account other than administrators "
                               "owns: " + kit_.installFolder().string() + "/planted.html"),
            std::string::npos) << ReadFile(log);

  // A log that another account owns, or reaches through a link, is not
  // written; the run goes on and says so on standard error.
  const fs::path theirs = kit_.folder() / "theirs.log";
  testing_support::WriteFile(theirs, "");
  ASSERT_EQ(chown(theirs.c_str(), nobody, nobody), 0);
  const fs::path target = kit_.folder() / "target.txt";
  testing_support::WriteFile(target, "target");
  const fs::path linked = kit_.folder() / "linked.log";
  fs::create_symlink(target, linked);
  const fs::path viaFolder = kit_.folder() / "their-folder";
  fs::create_directory_symlink(kit_.folder(), viaFolder);
  ASSERT_EQ(lchown(viaFolder.c_str(), nobody, nobody), 0);
  const struct {
    fs::path log;
    std::string why;
  } refused[] = {
      {theirs, "it is a file that another account owns"},
      {linked, "it is a link"},
      {viaFolder / "run.log", " is a link to " + kit_.folder().string() + " that another account made"},
  };
  for (const auto& row : refused) {
    SCOPED_TRACE(row.log.string());
    Configure(settings_.productGuid.c_str());
    const RunResult result = kit_.Run({install, "/log=" + row.log.string()});
    ExpectCompleted(result);
    EXPECT_NE(result.errors.find("the log file " + row.log.string() + " is not written: "),
              std::string::npos) << result.errors;
    EXPECT_NE(result.errors.find(row.why), std::string::npos) << result.errors;
  }
  EXPECT_EQ(ReadFile(theirs), "");
  EXPECT_EQ(ReadFile(target), "target");

  // A relative log is the current folder's; a link's text with line breaks
  // is written on the failure's own line.
  const fs::path elsewhere = kit_.folder() / "elsewhere";
  fs::create_directories(elsewhere);
  kit_.AddSourceFile("docs/guide.html", "<guide>");
  const fs::path docs = kit_.installFolder() / "docs";
  ASSERT_EQ(symlink((elsewhere.string() + "\r\nexit code: 0").c_str(), docs.c_str()), 0);
  ASSERT_EQ(lchown(docs.c_str(), nobody, nobody), 0);
  Configure(settings_.productGuid.c_str());
  const fs::path relative = fs::current_path();
  fs::current_path(kit_.folder());
  const RunResult failed = kit_.Run({install, "/log=relative.log"});
  fs::current_path(relative);
  ExpectFailed(failed, 4);
  const std::string text = ReadFile(kit_.folder() / "relative.log");
  EXPECT_NE(text.find(elsewhere.string() + "\\x0D\\x0Aexit code: 0 that another account made"),
            std::string::npos) << text;
  EXPECT_EQ(text.find("\nexit code: 0"), std::string::npos) << text;
}

// A copy that cannot be put on the disk is not vouched for: the run fails
// with 4 and records nothing, and the next run completes it.
TEST_F(InstallTest, CopyThatCannotBeFlushedRecordsNothing) {
  Configure("{7A3C41D0-0000-4000-8000-000000000008}");
  kit_.AddSourceFile("index.html", "<index>");
  ExpectFailed(kit_.Run({"/p" + kit_.installFolder().string()},
                        {{"QUORVEX_FAULT_FLUSH", kit_.installFolder().string()}}),
               4);
  EXPECT_EQ(ReadFile(kit_.installFolder() / "index.html"), "<index>");
  ExpectCompleted(kit_.RunInto(kit_.installFolder()));
}

// A program folder the program may enter but not list (what an elevated
// program sees of a drive mapped in the user's session) is not an empty
// kit: the run ends as without a program folder, installing and recording
// nothing. Root is made to obey the folder's bits by dropping the
// capabilities that pass over them.
TEST_F(InstallTest, ProgramFolderThatCannotBeListedEndsTheRunWith6) {
  Configure("{7A3C41D0-0000-4000-8000-000000000009}");
  kit_.AddSourceFile("index.html", "<index>");
  if (access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "no setpriv (util-linux)";
  const fs::perms kept = fs::status(kit_.kitFolder()).permissions();
  fs::permissions(kit_.kitFolder(), fs::perms::owner_write | fs::perms::owner_exec |
                                        fs::perms::group_exec | fs::perms::others_exec);
  const RunResult result = testing_support::RunProgram(
      "/usr/bin/setpriv",
      {"--bounding-set=-dac_override,-dac_read_search", "--", kit_.executable().string(),
       "/p" + kit_.installFolder().string()},
      {{"QUORVEX_HKLM", kit_.HivePath().string()}});
  fs::permissions(kit_.kitFolder(), kept);
  EXPECT_EQ(result.exitCode, 6) << result.errors;
  EXPECT_EQ(result.output, "Can not get the work directory!");
  EXPECT_EQ(RecordedVersion(), "(none)");
  EXPECT_TRUE(fs::is_empty(kit_.installFolder()));
}

// A settings file of binary garbage holds no setting: the defaults apply.
TEST_F(InstallTest, SettingsFileOfBinaryGarbageGivesTheDefaults) {
  std::string garbage;
  for (int i = 0; i < 65536; ++i) garbage += static_cast<char>((i * 7919 + i / 3) % 256);
  kit_.WriteSettings(garbage);
  kit_.AddSourceFile("index.html", "<index>");
  settings_ = InstallerSettings();
  auto result = kit_.RunInto(kit_.installFolder());
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(RecordedVersion(), "100000");
  EXPECT_EQ(ReadFile(kit_.installFolder() / "index.html"), "<index>");
}
#endif

}  // namespace
