// QuorvexKit verify after the real installer: a complete installation
// verifies; faults planted in it afterwards (a torn file stamped with the
// kit's time, a file the installer kept because it was newer, a missing file
// or folder, a wrong record) are each found, and only they. Then remove,
// the uninstall, and RemoveOldFiles, the installer's removal of what a
// previous version had: what installs wrote goes, everything else stays.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <string>

#include "install_list/run_lists.h"
#include "support/kit_scenario.h"

#ifdef _WIN32
#include <windows.h>
#endif

using testing_support::Json;
using testing_support::KitReport;
using testing_support::KitScenario;
using testing_support::kKilledAtKillPoint;
using testing_support::kSecond;
using testing_support::kTime;

namespace {

std::string Native(std::string path) {
  for (char& c : path) {
    if (c == '/') c = static_cast<char>(fs::path::preferred_separator);
  }
  return path;
}

// path -> state, files and folders apart.
struct States {
  std::map<std::string, std::string> files, folders;
};

States StatesOf(const Json& report) {
  States states;
  for (const Json& entry : report["files"].items) {
    (entry["folder"].boolean ? states.folders : states.files)[entry["path"].text] =
        entry["state"].text;
  }
  return states;
}

class KitVerify : public ::testing::Test {
 protected:
  void SetUp() override {
    scenario_.Settings("4.1", 0);
    scenario_.AddSource("index.html", "<index>");
    scenario_.AddSource("guide/start.html", "start page", kTime - kSecond);
    scenario_.AddSource("guide/images/main.svg", "<svg/>");
    scenario_.AddSource("kept.html", "the kit's page");
    scenario_.AddSource("torn.html", "a page that will be cut short");
    fs::create_directories(scenario_.kit().sourceFolder() / "empty");
  }

  KitReport Verify() const { return scenario_.RunKit("verify", {scenario_.installArgument()}); }

  KitScenario scenario_;
};

TEST_F(KitVerify, NothingInstalledYetIsAllMissing) {
  const KitReport report = Verify();
  EXPECT_EQ(report.exitStatus, 1);
  const States states = StatesOf(report.json);
  EXPECT_EQ(states.files.size(), 5u);
  for (const auto& [path, state] : states.files) EXPECT_EQ(state, "missing") << path;
  EXPECT_EQ(states.folders.size(), 3u);
  for (const auto& [path, state] : states.folders) EXPECT_EQ(state, "missing") << path;
  EXPECT_TRUE(report.json["recordedVersion"].IsNull());
  EXPECT_FALSE(report.json["recordMatches"].boolean);
}

TEST_F(KitVerify, CompleteInstallationVerifies) {
  ASSERT_EQ(scenario_.Install({scenario_.installArgument()}).exitCode, 0);
  testing_support::WriteFile(scenario_.install() / "product.exe", "not the manual's");
  const KitReport report = Verify();
  EXPECT_EQ(report.exitStatus, 0);
  EXPECT_EQ(report.json["exitCode"].number, 0);
  const States states = StatesOf(report.json);
  EXPECT_EQ(states.files.size(), 5u);
  for (const auto& [path, state] : states.files) EXPECT_EQ(state, "same") << path;
  EXPECT_EQ(states.folders, (std::map<std::string, std::string>{{"empty", "present"},
                                                                 {"guide", "present"},
                                                                 {Native("guide/images"), "present"}}));
  EXPECT_EQ(report.json["recordedVersion"].text, "4.1");
  EXPECT_TRUE(report.json["recordMatches"].boolean);
  EXPECT_TRUE(report.json["findings"].items.empty());

  // --summary lists nothing of a healthy install but the counts.
  const testing_support::RunResult brief =
      scenario_.RunKitRaw("verify", {scenario_.installArgument(), "--summary"});
  EXPECT_EQ(brief.exitCode, 0);
  std::string text = brief.output;
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  const size_t listed = text.find('\n') + 1;
  EXPECT_EQ(text.substr(listed, text.find("--\n") - listed), "present: 3\nsame: 5\n") << text;
}

// Wine shows every folder as the running user's, so that the shipped
// QuorvexKit trusts no folder of lists there: without the list, a file
// changed since it was installed only differs from the kit.
#ifdef _WIN32
const char kChangedSinceInstall[] = "differs";
#else
const char kChangedSinceInstall[] = "changed-since-install";
#endif

TEST_F(KitVerify, PlantedFaultsAreEachFound) {
  // Newer than the kit's and different: the installer keeps it. Wine shows
  // every file as the running account's: only the test builds, which trust
  // that account, keep it there (and use the lists).
#ifdef _WIN32
  scenario_.UseTestBuilds();
  const std::string kitProgram = testing_support::HostPath(QUORVEX_KIT_KILL_POINTS_EXE);
  const testing_support::Environment environment = {{"QUORVEX_TRUST_RUNNING_USER", "1"}};
#else
  const std::string kitProgram = testing_support::QuorvexKitExecutable();
  const testing_support::Environment environment = {
      {"QUORVEX_HKLM", scenario_.kit().HivePath().string()}};
#endif
  const std::string changed = "changed-since-install";
  scenario_.AddInstalled("kept.html", "an older edition, stamped later", kTime + kSecond);
  ASSERT_EQ(scenario_.Install({scenario_.installArgument()}).exitCode, 0);
  // Changed since it was installed, its time put back; and a page that the
  // kit changed since.
  testing_support::WriteFile(scenario_.install() / "torn.html", "a page th");
  testing_support::SetWriteTime(scenario_.install() / "torn.html", kTime);
  testing_support::WriteFile(scenario_.kit().sourceFolder() / "guide" / "start.html", "edited");
  testing_support::SetWriteTime(scenario_.kit().sourceFolder() / "guide" / "start.html",
                                kTime + 2 * kSecond);
  fs::remove(scenario_.install() / "index.html");
  fs::remove_all(scenario_.install() / "guide" / "images");
  scenario_.WriteRecord("4.0");

  const KitReport report = Verify();
  EXPECT_EQ(report.exitStatus, 1);
  const States states = StatesOf(report.json);
  EXPECT_EQ(states.files, (std::map<std::string, std::string>{
                              {"index.html", "missing"},
                              {Native("guide/start.html"), "differs"},
                              {Native("guide/images/main.svg"), "missing"},
                              {"kept.html", "kept-newer"},
                              {"torn.html", changed}}));
  EXPECT_EQ(states.folders.at(Native("guide/images")), "missing");
  EXPECT_EQ(states.folders.at("guide"), "present");
  EXPECT_EQ(report.json["recordedVersion"].text, "4.0");
  EXPECT_FALSE(report.json["recordMatches"].boolean);
  EXPECT_EQ(report.json["keptNewerCount"].number, 1);
  EXPECT_EQ(report.json["differsCount"].number, 1);
  EXPECT_EQ(report.json["changedSinceInstallCount"].number, 1);
  EXPECT_EQ(report.json["missingCount"].number, 2);

  // The text report lists the kept file apart, after the others.
  const auto text = testing_support::RunProgram(
      kitProgram, {"verify", scenario_.installArgument(), scenario_.kit().kitFolder().string()},
      environment);
  EXPECT_EQ(text.exitCode, 1);
  const size_t apart = text.output.find("Kept by the installer");
  ASSERT_NE(apart, std::string::npos) << text.output;
  EXPECT_GT(text.output.find("kept-newer kept.html"), apart);
  EXPECT_LT(text.output.find(changed + " torn.html"), apart);

  // --summary lists only those, and counts every state.
  std::string brief =
      testing_support::RunProgram(kitProgram,
                                  {"verify", "--summary", scenario_.installArgument(),
                                   scenario_.kit().kitFolder().string()},
                                  environment)
          .output;
  brief.erase(std::remove(brief.begin(), brief.end(), '\r'), brief.end());
  brief.erase(brief.find("\n--\n") + 1);
  const std::vector<std::string> lines = {
      "missing index.html", "differs " + Native("guide/start.html"),
      "missing " + Native("guide/images/main.svg"), changed + " torn.html",
      "missing folder " + Native("guide/images"), "  kept-newer kept.html", "kept-newer: 1",
      "present: 2"};
  for (const std::string& line : lines) {
    EXPECT_NE(brief.find("\n" + line + "\n"), std::string::npos) << line << "\n" << brief;
  }
  EXPECT_EQ(brief.find("\nsame "), std::string::npos) << brief;
  EXPECT_EQ(brief.find("\npresent folder "), std::string::npos) << brief;
}

// Only the record is wrong, or only one file differs by its time: either
// fails the verification.
TEST_F(KitVerify, RecordAndTimesAloneFailIt) {
  ASSERT_EQ(scenario_.Install({scenario_.installArgument()}).exitCode, 0);
  scenario_.WriteRecord("4.1.0");
  KitReport report = Verify();
  EXPECT_EQ(report.exitStatus, 1);
  EXPECT_EQ(report.json["sameCount"].number, 5);

  scenario_.WriteRecord("4.1");
  testing_support::SetWriteTime(scenario_.install() / "index.html", kTime - kSecond);
  report = Verify();
  EXPECT_EQ(report.exitStatus, 1);
  EXPECT_EQ(StatesOf(report.json).files.at("index.html"), kChangedSinceInstall);
}


class KitRemove : public KitVerify {
 protected:
  void SetUp() override {
    KitVerify::SetUp();
    scenario_.UseTestBuilds();
  }

  KitReport Remove(const std::vector<std::string>& more = {},
                   const testing_support::Environment& environment = {}) const {
    std::vector<std::string> arguments{scenario_.installArgument()};
    arguments.insert(arguments.end(), more.begin(), more.end());
    return scenario_.RunKit("remove", arguments, environment);
  }
  bool Installed(const std::string& path) const {
    return fs::exists(fs::path(scenario_.install()) / Native(path));
  }
  // The action taken on each path.
  static std::map<std::string, std::string> Actions(const Json& report) {
    std::map<std::string, std::string> actions;
    for (const Json& entry : report["actions"].items) {
      actions[entry["path"].text] = entry["action"].text + " " + entry["reason"].text;
    }
    return actions;
  }
  // The programs an action names as holding its file open; "" for none.
  static std::string HeldBy(const Json& report, const std::string& path) {
    for (const Json& entry : report["actions"].items) {
      if (entry["path"].text == path) return entry["heldBy"].text;
    }
    return "(no action)";
  }
  // The programs a finding names as holding its file open; "" for none.
  static std::string FindingHeldBy(const Json& report, const std::string& code) {
    for (const Json& finding : report["findings"].items) {
      if (finding["code"].text == code) return finding["heldBy"].text;
    }
    return "";
  }
#ifdef _WIN32
  static std::string OwnProcess() {
    return "(process " + std::to_string(GetCurrentProcessId()) + ")";
  }
#endif
  // Nothing of the manual left: no record, no list, no key.
  void ExpectAllGone() const {
    for (const char* path : {"index.html", "guide/start.html", "guide/images", "empty"}) {
      EXPECT_FALSE(Installed(path)) << path;
    }
    EXPECT_EQ(scenario_.Recorded(), "(none)");
    EXPECT_FALSE(scenario_.RecordKeyExists());
    EXPECT_FALSE(scenario_.AnyListFolder());
    EXPECT_TRUE(fs::exists(scenario_.install()));
  }
};

TEST_F(KitRemove, RemovesWhatInstallsWroteAndKeepsEverythingElse) {
  // The product's own copy of a page, older than the kit's: replaced, yet
  // there before the first install.
  scenario_.AddInstalled("kept.html", "the product's own page", kTime - kSecond);
  ASSERT_EQ(scenario_.Install({scenario_.installArgument()}).exitCode, 0);
  testing_support::WriteFile(scenario_.install() / "product.exe", "the product");
  testing_support::WriteFile(scenario_.install() / "guide" / "notes.txt", "the user's notes");
  testing_support::WriteFile(scenario_.install() / "torn.html", "edited by hand");
  const auto before = testing_support::SnapshotTree(scenario_.install());

  KitReport report = Remove({"--dry-run"});
  EXPECT_EQ(report.exitStatus, 0) << report.errors;
  EXPECT_EQ(testing_support::SnapshotTree(scenario_.install()), before);
  EXPECT_EQ(scenario_.Recorded(), "4.1");
  EXPECT_EQ(report.json["removedCount"].number, 3);
  const auto foretold = Actions(report.json);

  // Another directory than the list's: nothing is touched, the list kept.
  report = scenario_.RunKit("remove", {"/p" + (scenario_.install() / "elsewhere").string()});
  EXPECT_EQ(report.exitStatus, 1);
  EXPECT_NE(report.json["message"].text.find("nothing was changed"), std::string::npos);
  EXPECT_EQ(scenario_.Recorded(), "4.1");

  // The product is uninstalled already: no /p, no registration; the list
  // says where.
  report = scenario_.RunKit("remove", {});
  EXPECT_EQ(report.exitStatus, 0) << report.errors;
  EXPECT_EQ(report.json["installDirectorySource"].text, "list");
  const auto actions = Actions(report.json);
  EXPECT_EQ(actions, foretold);
  EXPECT_EQ(actions.at("index.html"), "remove ");
  EXPECT_EQ(actions.at(Native("guide/images/main.svg")), "remove ");
  EXPECT_EQ(actions.at("torn.html"), "keep changed since it was installed");
  EXPECT_EQ(actions.at("kept.html"), "keep there before the first install");
  EXPECT_EQ(actions.at("guide"), "keep-folder not empty");
  EXPECT_EQ(actions.at(Native("guide/images")), "remove-folder ");
  for (const char* path : {"index.html", "guide/start.html", "guide/images", "empty"}) {
    EXPECT_FALSE(Installed(path)) << path;
  }
  for (const char* path : {"kept.html", "torn.html", "product.exe", "guide/notes.txt"}) {
    EXPECT_TRUE(Installed(path)) << path;
  }
  EXPECT_EQ(scenario_.Recorded(), "(none)");
  EXPECT_FALSE(scenario_.RecordKeyExists());
  EXPECT_FALSE(scenario_.AnyListFolder());

  // A repeated uninstall succeeds and says why, in its log too.
  const fs::path log = scenario_.kit().kitFolder() / "remove.log";
  report = Remove({"/log=" + log.string()});
  EXPECT_EQ(report.exitStatus, 0);
  EXPECT_EQ(report.json["message"].text, "nothing of this manual is installed");
  EXPECT_NE(testing_support::ReadFile(log).find("nothing of this manual is installed\n"),
            std::string::npos);

  // A log that is a link is not written through; the report says so.
  // (Wine makes no symbolic links: natively only.)
  const fs::path target = scenario_.kit().folder() / "target.txt";
  testing_support::WriteFile(target, "target");
  const fs::path linked = scenario_.kit().folder() / "linked.log";
  std::error_code noLink;
  fs::create_symlink(target, linked, noLink);
  if (!noLink) {
    report = Remove({"/log=" + linked.string()});
    EXPECT_EQ(report.exitStatus, 0);
    bool said = false;
    for (const Json& finding : report.json["findings"].items) {
      said = said || finding["code"].text == "log-not-written";
    }
    EXPECT_TRUE(said);
    EXPECT_EQ(testing_support::ReadFile(target), "target");
  }
}

// A dry run says what the remove that follows does, line for line: a page
// changed since it was installed stays, and so do the folders that hold
// it, up to the install directory; the rest goes.
TEST_F(KitRemove, ADryRunForetellsTheRemoveThatFollows) {
  ASSERT_EQ(scenario_.Install({scenario_.installArgument()}).exitCode, 0);
  testing_support::WriteFile(scenario_.install() / "guide" / "images" / "main.svg", "<edited/>");
  const auto before = testing_support::SnapshotTree(scenario_.install());

  const KitReport dryRun = Remove({"--dry-run"});
  EXPECT_EQ(dryRun.exitStatus, 0) << dryRun.errors;
  EXPECT_EQ(testing_support::SnapshotTree(scenario_.install()), before);
  const KitReport report = Remove();
  EXPECT_EQ(report.exitStatus, 0) << report.errors;

  const auto actions = Actions(report.json);
  EXPECT_EQ(Actions(dryRun.json), actions);
  for (const char* count : {"removedCount", "goneCount", "keptCount", "remainingCount",
                            "removedFolderCount", "keptFolderCount"}) {
    EXPECT_EQ(dryRun.json[count].number, report.json[count].number) << count;
  }
  EXPECT_EQ(actions.at(Native("guide/images/main.svg")), "keep changed since it was installed");
  EXPECT_EQ(actions.at(Native("guide/images")), "keep-folder not empty");
  EXPECT_EQ(actions.at("guide"), "keep-folder not empty");
  EXPECT_EQ(actions.at("empty"), "remove-folder ");
  EXPECT_EQ(report.json["removedCount"].number, 4);
  const auto after = testing_support::SnapshotTree(scenario_.install());
  for (const auto& [path, action] : actions) {
    const bool removed = action.rfind("remove", 0) == 0;
    EXPECT_EQ(after.count(path), removed ? 0u : 1u) << path;
  }
}

// The other language's manual in the same directory keeps the files its
// list names; its own uninstall then removes them.
TEST_F(KitRemove, TwoLanguagesInOneDirectory) {
  ASSERT_EQ(scenario_.Install({scenario_.installArgument()}).exitCode, 0);
  scenario_.Settings("4.1", 0, "", "ja");
  ASSERT_EQ(scenario_.Install({scenario_.installArgument()}).exitCode, 0);

  scenario_.Settings("4.1", 0);
  KitReport report = Remove();
  EXPECT_EQ(report.exitStatus, 0) << report.errors;
  EXPECT_EQ(report.json["keptCount"].number, 5);
  EXPECT_EQ(Actions(report.json).at("index.html"),
            "keep another manual's list of this install directory names it");
  EXPECT_EQ(Actions(report.json).at("empty"),
            "keep-folder another manual's list of this install directory names it");
  EXPECT_TRUE(Installed("index.html"));
  EXPECT_TRUE(Installed("empty"));
  EXPECT_EQ(scenario_.Recorded(), "(none)");
  EXPECT_TRUE(scenario_.RecordKeyExists());

  scenario_.Settings("4.1", 0, "", "ja");
  report = Remove();
  EXPECT_EQ(report.exitStatus, 0) << report.errors;
  EXPECT_EQ(report.json["removedCount"].number, 5);
  ExpectAllGone();
}

// A file that stays in use is what remains: the run says so, naming the
// program that holds it where the system tells, and fails, keeping the
// list; the next run finishes the job.
TEST_F(KitRemove, AFileInUseRemainsUntilTheNextRun) {
  ASSERT_EQ(scenario_.Install({scenario_.installArgument()}).exitCode, 0);
  const fs::path index = scenario_.install() / "index.html";
#ifdef _WIN32
  HANDLE held = CreateFileA(index.string().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                            nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  KitReport report = Remove();
  CloseHandle(held);
  // Windows names this test; Wine's Restart Manager names no one.
  const std::string heldBy = HeldBy(report.json, "index.html");
  if (!heldBy.empty()) {
    EXPECT_NE(heldBy.find(OwnProcess()), std::string::npos) << heldBy;
  }
#else
  // Linux removes a file that is open: the removal fails as in use by the
  // fault, while another program really holds it.
  const testing_support::Environment inUse = {{"QUORVEX_FAULT_REMOVE", "index.html"}};
  const testing_support::HoldingProcess viewer(index, "manual viewer");
  ASSERT_TRUE(viewer.holding());
  const std::string named = "manual viewer (process " + std::to_string(viewer.id()) + ")";
  KitReport report = Remove({}, inUse);
  EXPECT_EQ(HeldBy(report.json, "index.html"), named);
  const std::string text =
      scenario_.RunKitRaw("remove", {scenario_.installArgument()}, inUse).output;
  EXPECT_NE(text.find("remains index.html (in use by another program; held open by: " + named +
                      ")\n"),
            std::string::npos)
      << text;
#endif
  EXPECT_EQ(report.exitStatus, 1);
  EXPECT_EQ(Actions(report.json).at("index.html"), "remains in use by another program");
  EXPECT_EQ(report.json["remainingCount"].number, 1);
  EXPECT_TRUE(Installed("index.html"));
  EXPECT_FALSE(Installed("torn.html"));
  // The record stays: a deployment tool's detection still sees the manual,
  // and runs the uninstall again.
  EXPECT_EQ(scenario_.Recorded(), "4.1");
  EXPECT_TRUE(scenario_.AnyListFolder());

  report = Remove();
  EXPECT_EQ(report.exitStatus, 0);
  EXPECT_EQ(report.json["removedCount"].number, 1);
  ExpectAllGone();
}

// A list that is there but cannot be used (damaged here) tells nothing of
// what installs wrote: nothing is removed and the record stays (exit 1),
// and the report names the way out, which removes only the pages that hold
// the kit's bytes, and the record.
TEST_F(KitRemove, AListThatCannotBeUsedLeavesEverythingButNamesTheWayOut) {
  ASSERT_EQ(scenario_.Install({scenario_.installArgument()}).exitCode, 0);
  const fs::path list = scenario_.ListFolder() / ("en-" + RegistryViewName() + ".list");
  std::string text = testing_support::ReadFile(list);
  ASSERT_GT(text.size(), 40u);
  text[text.size() / 2] ^= 1;
  testing_support::WriteFile(list, text);
  testing_support::WriteFile(scenario_.install() / "torn.html", "changed since");
  const auto before = testing_support::SnapshotTree(scenario_.install());
  KitReport report = Remove();
  EXPECT_EQ(report.exitStatus, 1);
  EXPECT_NE(report.json["message"].text.find("--identical-only"), std::string::npos)
      << report.json["message"].text;
  EXPECT_EQ(testing_support::SnapshotTree(scenario_.install()), before);
  EXPECT_EQ(scenario_.Recorded(), "4.1");

  report = Remove({"--identical-only"});
  EXPECT_EQ(report.exitStatus, 0) << report.errors;
  const auto actions = Actions(report.json);
  EXPECT_EQ(actions.at("torn.html"), "keep differs from the kit's");
  EXPECT_EQ(actions.at("index.html"), "remove ");
  EXPECT_FALSE(Installed("index.html"));
  EXPECT_FALSE(Installed("guide/start.html"));
  EXPECT_TRUE(Installed("torn.html"));
  EXPECT_TRUE(Installed("guide"));
  EXPECT_EQ(scenario_.Recorded(), "(none)");

#ifndef _WIN32
  // A lists' folder that others may change is no list to go by either.
  ASSERT_EQ(scenario_.Install({scenario_.installArgument()}).exitCode, 0);
  fs::permissions(scenario_.ListFolder(), fs::perms::group_write, fs::perm_options::add);
  EXPECT_EQ(Remove().exitStatus, 1);
  EXPECT_EQ(scenario_.Recorded(), "4.1");
  EXPECT_TRUE(Installed("index.html"));
  fs::permissions(scenario_.ListFolder(), fs::perms::group_write, fs::perm_options::remove);
  EXPECT_EQ(Remove().exitStatus, 0);
  EXPECT_EQ(scenario_.Recorded(), "(none)");
#endif
}

// A kill at any step leaves what a second remove, or an install, ends
// correct from. The record goes last: until then a deployment tool's
// detection sees the manual and runs the uninstall again.
TEST_F(KitRemove, AKillAtEachStepIsFinishedByTheNextRun) {
  const struct {
    const char* step;
    const char* recorded;
  } steps[] = {{"file-removed", "4.1"},
               {"folders-removed", "4.1"},
               {"list-removed", "4.1"},
               {"record-removed", "(none)"}};
  for (const auto& step : steps) {
    SCOPED_TRACE(step.step);
    ASSERT_EQ(scenario_.Install({scenario_.installArgument()}).exitCode, 0);
    const std::string kill = std::string(step.step) + ":" + scenario_.install().filename().string();
    EXPECT_EQ(scenario_.RunKitRaw("remove", {scenario_.installArgument()},
                                  {{"QUORVEX_FAULT_KILL", kill}}).exitCode,
              kKilledAtKillPoint);
    EXPECT_EQ(scenario_.Recorded(), step.recorded);
    const KitReport report = Remove();
    EXPECT_EQ(report.exitStatus, 0);
    ExpectAllGone();
  }
  // Held for good at a file, as another program's oplock could hold it: it
  // ends itself with 1 after the deadline without progress (a test's
  // shorter one), and the next run finishes.
  ASSERT_EQ(scenario_.Install({scenario_.installArgument()}).exitCode, 0);
  const std::string held = "file-removed:" + scenario_.install().filename().string();
  const std::string never = (scenario_.kit().folder() / "never").string();
  const auto stalled = scenario_.RunKitRaw(
      "remove", {scenario_.installArgument()},
      {{"QUORVEX_FAULT_HOLD", held + ":" + testing_support::HostPath(never)},
       {"QUORVEX_FAULT_STALL_AFTER", "1500"}});
  EXPECT_EQ(stalled.exitCode, 1);
  EXPECT_NE(stalled.errors.find("no progress for 2 s"), std::string::npos) << stalled.errors;
  EXPECT_EQ(scenario_.Recorded(), "4.1");
  EXPECT_EQ(Remove().exitStatus, 0);
  ExpectAllGone();

  ASSERT_EQ(scenario_.Install({scenario_.installArgument()}).exitCode, 0);
  const std::string kill = "file-removed:" + scenario_.install().filename().string();
  EXPECT_EQ(scenario_.RunKitRaw("remove", {scenario_.installArgument()},
                                {{"QUORVEX_FAULT_KILL", kill}}).exitCode,
            kKilledAtKillPoint);
  ASSERT_EQ(scenario_.Install({scenario_.installArgument()}).exitCode, 0);
  EXPECT_EQ(Verify().exitStatus, 0);
}

// Windows asks for an administrator before anything is touched. Wine
// gives every process an administrator's token, so this runs natively,
// as nobody.
TEST_F(KitRemove, WithoutAdministratorsRightsNothingIsTouched) {
#ifdef _WIN32
  GTEST_SKIP() << "Wine gives every process an administrator's token";
#else
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run QuorvexKit as nobody";
  ASSERT_EQ(scenario_.Install({scenario_.installArgument()}).exitCode, 0);
  const auto before = testing_support::SnapshotTree(scenario_.install());
  const auto run = testing_support::RunProgram(
      "/usr/bin/setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups",
                  testing_support::QuorvexKitExecutable(), "remove",
                  scenario_.kit().kitFolder().string(), scenario_.installArgument()},
      {{"QUORVEX_HKLM", scenario_.kit().HivePath().string()}});
  EXPECT_EQ(run.exitCode, 3);
  EXPECT_NE(run.output.find("remove needs administrators' rights"), std::string::npos) << run.output;
  EXPECT_EQ(testing_support::SnapshotTree(scenario_.install()), before);
  EXPECT_EQ(scenario_.Recorded(), "4.1");

  // The previews go on without the lists, which only root may read, and
  // say so.
  for (const char* verb : {"verify", "plan"}) {
    SCOPED_TRACE(verb);
    const auto preview = testing_support::RunProgram(
        "/usr/bin/setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups",
                    testing_support::QuorvexKitExecutable(), verb,
                    scenario_.kit().kitFolder().string(), scenario_.installArgument(), "--json"},
        {{"QUORVEX_HKLM", scenario_.kit().HivePath().string()}});
    EXPECT_EQ(preview.exitCode, 0) << preview.errors;
    Json report;
    std::string error;
    ASSERT_TRUE(testing_support::ParseJson(preview.output, report, error)) << error;
    std::string warned;
    for (const Json& finding : report["findings"].items) {
      if (finding["code"].text == "list-unreadable") warned = finding["message"].text;
    }
    EXPECT_NE(warned.find("en-native.list cannot be read"), std::string::npos) << preview.output;
  }
#endif
}

// A list or note that is there but cannot be read (held open by another
// program, failing to open or part-way) is no missing one: an install ends
// with 8 before it writes anything, remove with 1 before it touches
// anything, and both say which. So for the other language's list, which an
// update with RemoveOldFiles consults too.
TEST_F(KitRemove, AListThatCannotBeReadStopsInstallAndRemoveBeforeAnything) {
  using testing_support::SnapshotTree;
  ASSERT_EQ(scenario_.Install({scenario_.installArgument()}).exitCode, 0);
  scenario_.Settings("4.1", 0, "", "ja");
  ASSERT_EQ(scenario_.Install({scenario_.installArgument()}).exitCode, 0);
  fs::remove(scenario_.kit().sourceFolder() / "torn.html");
  scenario_.AddSource("new.html", "<new>");
  scenario_.Settings("4.2", 0, "RemoveOldFiles=1\n");
  // A run killed once its note was written leaves the note behind.
  const std::string kill = "note-written:" + scenario_.install().filename().string();
  ASSERT_EQ(
      scenario_.Install({scenario_.installArgument()}, {{"QUORVEX_FAULT_KILL", kill}}).exitCode,
      kKilledAtKillPoint);
  const fs::path lists = scenario_.ListFolder();
  const fs::path log = scenario_.kit().folder() / "unreadable.log";
  const std::string view = RegistryViewName();
#ifdef _WIN32
  const char* const ways[] = {"held open without sharing"};
#else
  const std::string heldOpen = "held open by another program";
  const char* const ways[] = {"QUORVEX_FAULT_LIST_OPEN", "QUORVEX_FAULT_LIST_READ",
                              heldOpen.c_str()};
  std::optional<testing_support::HoldingProcess> viewer;
  // A lease broken once stays broken for the kernel's lease-break time: one
  // for each run.
  const auto hold = [&](const fs::path& file) {
    viewer.reset();
    viewer.emplace(file, "manual viewer", true);
    return viewer->holding();
  };
#endif
  // The program that holds the list is named where the system tells:
  // Windows names this test, Wine's Restart Manager no one.
  const auto expectHeldBy = [&](const std::string& heldBy) {
#ifdef _WIN32
    if (!heldBy.empty()) {
      EXPECT_NE(heldBy.find(OwnProcess()), std::string::npos) << heldBy;
    }
#else
    EXPECT_EQ(heldBy, viewer ? "manual viewer (process " + std::to_string(viewer->id()) + ")" : "");
#endif
  };
  for (const std::string& name :
       {"en-" + view + ".list", "en-" + view + ".note", "ja-" + view + ".list"}) {
    for (const char* way : ways) {
      SCOPED_TRACE(name + ": " + way);
      ASSERT_TRUE(fs::exists(lists / name));
      const auto installed = SnapshotTree(scenario_.install()), listed = SnapshotTree(lists);
      testing_support::Environment environment;
#ifdef _WIN32
      HANDLE held = CreateFileA((lists / name).string().c_str(), GENERIC_READ, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
      ASSERT_NE(held, INVALID_HANDLE_VALUE);
#else
      const bool leased = way == heldOpen;
      if (!leased) environment = {{way, name}};
      ASSERT_TRUE(!leased || hold(lists / name));
#endif
      fs::remove(log);
      const int installExit = scenario_.Install(
          {scenario_.installArgument(), "/log=" + testing_support::HostPath(log.string())},
          environment).exitCode;
#ifndef _WIN32
      ASSERT_TRUE(!leased || hold(lists / name));
#endif
      const KitReport removed = Remove({}, environment);
      expectHeldBy(FindingHeldBy(removed.json, "list-held-open"));
#ifndef _WIN32
      ASSERT_TRUE(!leased || hold(lists / name));
#endif
      const KitReport verified =
          scenario_.RunKit("verify", {scenario_.installArgument()}, environment);
      expectHeldBy(FindingHeldBy(verified.json, "list-unreadable"));
#ifdef _WIN32
      CloseHandle(held);
#else
      viewer.reset();
#endif
      EXPECT_EQ(installExit, 8);
      const std::string logged = testing_support::ReadFile(log);
      EXPECT_NE(logged.find(name + " cannot be read: "), std::string::npos) << logged;
      EXPECT_EQ(removed.exitStatus, 1);
      const std::string& message = removed.json["message"].text;
      EXPECT_NE(message.find(name + " cannot be read"), std::string::npos) << message;
      EXPECT_NE(message.find("nothing was changed"), std::string::npos) << message;
      EXPECT_EQ(SnapshotTree(scenario_.install()), installed);
      EXPECT_EQ(SnapshotTree(lists), listed);
      EXPECT_EQ(scenario_.Recorded(), "4.1");
    }
  }
  // Readable again, the update completes; the page this kit lacks stays,
  // since the other language's list names it.
  ASSERT_EQ(scenario_.Install({scenario_.installArgument()}).exitCode, 0);
  EXPECT_TRUE(Installed("new.html"));
  EXPECT_TRUE(Installed("torn.html"));
  EXPECT_FALSE(fs::exists(lists / ("en-" + view + ".note")));
  EXPECT_EQ(scenario_.Recorded(), "4.2");
}

#ifdef _WIN32
// The record and the list of the installer of the other width, as the
// QuorvexKit of this one finds them: it names the variant to run and
// touches nothing.
TEST_F(KitRemove, TheOtherVariantsInstallIsNamedNotTouched) {
  BOOL wow64 = FALSE;
  if (RegistryViewName() == "32" && (!IsWow64Process(GetCurrentProcess(), &wow64) || !wow64)) {
    GTEST_SKIP() << "a 32-bit Windows (a 32-bit Wine prefix) has no other registry view";
  }
  ASSERT_EQ(scenario_.Install({scenario_.installArgument()}).exitCode, 0);
  const std::string own = RegistryViewName();
  const std::string other = own == "64" ? "32" : "64";
  const REGSAM otherView = own == "64" ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
  const fs::path lists = scenario_.ListFolder();
  ASSERT_TRUE(fs::exists(lists / ("en-" + own + ".list")));
  fs::rename(lists / ("en-" + own + ".list"), lists / ("en-" + other + ".list"));
  const std::string folder = lists.filename().string();
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, (scenario_.RecordKey() + "\\Files").c_str(), 0,
                            nullptr, 0, KEY_SET_VALUE | otherView, nullptr, &key, nullptr), 0);
  RegSetValueExA(key, "", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                 static_cast<DWORD>(folder.size() + 1));
  RegCloseKey(key);
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, scenario_.RecordKey().c_str(), 0,
                          KEY_SET_VALUE | DELETE, &key), 0);
  RegDeleteValueA(key, "en");
  RegDeleteKeyA(key, "Files");
  RegCloseKey(key);
  const auto before = testing_support::SnapshotTree(scenario_.install());

  const KitReport report = Remove();
  EXPECT_EQ(report.exitStatus, 4);
  EXPECT_NE(report.json["message"].text.find(own == "64" ? "x86\\QuorvexKit.exe"
                                                         : "x64\\QuorvexKit.exe"),
            std::string::npos)
      << report.json["message"].text;
  EXPECT_EQ(testing_support::SnapshotTree(scenario_.install()), before);
  EXPECT_TRUE(fs::exists(lists / ("en-" + other + ".list")));
  // The product's keys in the other view go with the test.
  const std::string product = scenario_.RecordKey().substr(0, scenario_.RecordKey().find("\\Manual"));
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Veltrane", 0, KEY_ALL_ACCESS | otherView, &key) == 0) {
    RegDeleteTreeA(key, product.substr(product.rfind('\\') + 1).c_str());
    RegCloseKey(key);
  }
}
#endif

// RemoveOldFiles: an update removes what the previous version installed
// and the new kit lacks, as remove would; plan foretells it. Without the
// setting the old pages stay.
TEST_F(KitRemove, AnUpdateRemovesThePreviousVersionsOldFilesOnRequest) {
  ASSERT_EQ(scenario_.Install({scenario_.installArgument()}).exitCode, 0);
  fs::remove(scenario_.kit().sourceFolder() / "torn.html");
  fs::remove_all(scenario_.kit().sourceFolder() / "guide" / "images");
  scenario_.Settings("4.2", 0);
  ASSERT_EQ(scenario_.Install({scenario_.installArgument()}).exitCode, 0);
  EXPECT_TRUE(Installed("torn.html"));

  testing_support::WriteFile(scenario_.install() / "kept.html", "edited by hand");
  fs::remove(scenario_.kit().sourceFolder() / "kept.html");
  scenario_.Settings("4.3", 0, "RemoveOldFiles=1\n");
  const KitReport plan = scenario_.RunKit("plan", {scenario_.installArgument()});
  const auto planned = Actions(plan.json);
  EXPECT_EQ(planned.at("torn.html"), "remove not in this kit; RemoveOldFiles=1");
  EXPECT_EQ(planned.at(Native("guide/images/main.svg")), "remove not in this kit; RemoveOldFiles=1");
  EXPECT_EQ(planned.at("kept.html"), "keep-old changed since it was installed");
  EXPECT_EQ(planned.at(Native("guide/images")), "remove-folder not in this kit; RemoveOldFiles=1");
  EXPECT_EQ(plan.json["removeCount"].number, 2);

  ASSERT_EQ(scenario_.Install({scenario_.installArgument()}).exitCode, 0);
  EXPECT_FALSE(Installed("torn.html"));
  EXPECT_FALSE(Installed("guide/images"));
  EXPECT_TRUE(Installed("kept.html"));
  EXPECT_TRUE(Installed("index.html"));
  EXPECT_EQ(scenario_.Recorded(), "4.3");

  // The kept page stays listed: the uninstall reports it as changed.
  const KitReport report = Remove();
  EXPECT_EQ(report.exitStatus, 0);
  EXPECT_EQ(Actions(report.json).at("kept.html"), "keep changed since it was installed");
  EXPECT_EQ(Actions(report.json).count("torn.html"), 0u);
  EXPECT_FALSE(Installed("index.html"));
}

}  // namespace
