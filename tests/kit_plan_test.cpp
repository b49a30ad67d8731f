// QuorvexKit plan against the real installer: for each scenario the plan is
// made, then the kit's installer runs, and what it did must be what the plan
// said: its exit code, every folder created, file copied, replaced, found
// identical or kept, every old file and folder removed or kept, and the
// counts of its log. The plan itself must leave the install folder and the
// registry as they were.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "support/kit_scenario.h"
#include "support/small_volume.h"

using testing_support::BoxesReturnAtOnce;
using testing_support::Environment;
using testing_support::Json;
using testing_support::KitReport;
using testing_support::KitScenario;
using testing_support::LoggedRun;
using testing_support::kSecond;
using testing_support::kTime;
using testing_support::ReadFile;
using testing_support::SnapshotTree;
using testing_support::TreeSnapshot;

namespace {

std::string Native(std::string path) {
  for (char& c : path) {
    if (c == '/') c = static_cast<char>(fs::path::preferred_separator);
  }
  return path;
}

std::string HiveText(const KitScenario& scenario) {
#ifdef _WIN32
  (void)scenario;
  return "";
#else
  std::error_code error;
  if (!fs::exists(scenario.kit().HivePath(), error)) return "(no hive)";
  return ReadFile(scenario.kit().HivePath());
#endif
}

struct Outcome {
  Json plan;
  int installerExit = -1;
  LoggedRun logged;
  TreeSnapshot before, after;
  // action -> paths, in the plan's order
  std::vector<std::pair<std::string, std::string>> actions;
  std::set<std::string> Paths(const std::string& action) const {
    std::set<std::string> paths;
    for (const auto& [name, path] : actions) {
      if (name == action) paths.insert(path);
    }
    return paths;
  }
};

// Every action of the plan against the install folder before and after the
// installer's run.
void ExpectActionsHappened(const KitScenario& scenario, const Outcome& outcome) {
  const TreeSnapshot source = SnapshotTree(scenario.kit().sourceFolder());
  const TreeSnapshot& before = outcome.before;
  const TreeSnapshot& after = outcome.after;
  std::set<std::string> written, removed;
  for (const auto& [action, path] : outcome.actions) {
    SCOPED_TRACE(action + " " + path);
    const bool existed = before.count(path) != 0;
    const bool exists = after.count(path) != 0;
    if (action == "create-folder") {
      EXPECT_FALSE(existed);
      EXPECT_TRUE(exists && after.at(path).folder);
      written.insert(path);
    } else if (action == "copy" || action == "replace") {
      EXPECT_EQ(existed, action == "replace");
      ASSERT_TRUE(exists);
      ASSERT_TRUE(source.count(path));
      EXPECT_EQ(after.at(path), source.at(path)) << "not the kit's file";
      written.insert(path);
    } else if (action == "unchanged") {
      // Its bytes and time stay; it may take the kit's attributes.
      ASSERT_TRUE(existed && exists);
      EXPECT_EQ(after.at(path), source.at(path)) << "not the kit's file";
      EXPECT_EQ(after.at(path).content, before.at(path).content);
      EXPECT_EQ(after.at(path).time, before.at(path).time);
      written.insert(path);
    } else if (action == "keep" || action == "keep-old" || action == "keep-folder") {
      ASSERT_TRUE(existed && exists);
      EXPECT_EQ(after.at(path), before.at(path));
      if (action == "keep") {
        EXPECT_GT(before.at(path).time, source.at(path).time);
      } else {
        EXPECT_FALSE(source.count(path)) << "the kit has it";
      }
    } else if (action == "remove" || action == "remove-folder") {
      EXPECT_TRUE(existed);
      EXPECT_FALSE(exists);
      EXPECT_FALSE(source.count(path)) << "the kit has it";
      removed.insert(path);
    } else if (action == "pass-over") {
      // The list vouches for it: it is the kit's file, and stays untouched.
      ASSERT_TRUE(existed && exists);
      EXPECT_EQ(after.at(path), before.at(path));
      EXPECT_EQ(after.at(path), source.at(path)) << "not the kit's file";
    } else if (action == "fail-folder") {
      EXPECT_FALSE(exists && after.at(path).folder);
    } else if (action == "fail-file") {
      if (source.count(path) && !source.at(path).folder) {
        EXPECT_FALSE(exists && after.at(path) == source.at(path)) << "was copied after all";
      }
    } else {
      ADD_FAILURE() << "unknown action";
    }
  }
  // Nothing changed that the plan did not announce.
  for (const auto& [path, entry] : after) {
    const bool changed = !before.count(path) || !(before.at(path) == entry);
    EXPECT_TRUE(!changed || written.count(path)) << "changed without a plan: " << path;
  }
  for (const auto& [path, entry] : before) {
    EXPECT_TRUE(after.count(path) || removed.count(path)) << "removed without a plan: " << path;
  }
}

// The plan's counts are the counts of the installer's log.
void ExpectCountsLogged(const Outcome& outcome) {
  const Json& plan = outcome.plan;
  const auto count = [&](const char* name) { return static_cast<int>(plan[name].number); };
  std::map<std::string, int> foretold{
      {"folders created", count("createFolderCount")},
      {"files written", count("copyCount") + count("replaceCount")},
      {"unchanged (already identical)", count("unchangedCount")},
      {"kept (the installed file is newer)", count("keepCount")},
      {"passed over (as the last install left them)", count("passOverCount")}};
  EXPECT_EQ(outcome.logged.copy, foretold);
  EXPECT_EQ(outcome.logged.oldFilesRemoved, count("removeCount"));
  EXPECT_EQ(outcome.logged.oldFilesKept, outcome.Paths("keep-old"));
}

// After the run, verify finds what the plan announced: a complete copy is
// the kit's but for the kept files, which differ; a failed or refused one
// does not verify.
void ExpectVerifyAgrees(const KitScenario& scenario, const Outcome& outcome,
                        const std::vector<std::string>& arguments, const Environment& environment) {
  const KitReport verify = scenario.RunKit("verify", arguments, environment);
  std::set<std::string> keptNewer, notSame, missingFolders, expectedMissingFolders;
  for (const auto& [path, entry] : SnapshotTree(scenario.kit().sourceFolder())) {
    if (entry.folder && !(outcome.after.count(path) && outcome.after.at(path).folder)) {
      expectedMissingFolders.insert(path);
    }
  }
  for (const Json& file : verify.json["files"].items) {
    if (file["folder"].boolean) {
      if (file["state"].text == "missing") missingFolders.insert(file["path"].text);
      continue;
    }
    if (file["state"].text == "kept-newer") keptNewer.insert(file["path"].text);
    if (file["state"].text != "same") notSame.insert(file["path"].text);
  }
  if (outcome.installerExit != 0 || !outcome.plan["copyRuns"].boolean) {
    EXPECT_EQ(verify.exitStatus, 1);
    return;
  }
  EXPECT_EQ(keptNewer, notSame);
  EXPECT_EQ(keptNewer, outcome.Paths("keep"));
  EXPECT_EQ(missingFolders, expectedMissingFolders);
  EXPECT_EQ(verify.exitStatus, keptNewer.empty() && missingFolders.empty() ? 0 : 1);
}

// Plans, checks that the plan wrote nothing, runs the installer with the
// same arguments and checks the plan against what it did.
Outcome PlanThenInstall(const KitScenario& scenario, const std::vector<std::string>& arguments,
                        const Environment& environment = {}) {
  Outcome outcome;
  outcome.before = SnapshotTree(scenario.install());
  const bool keyExisted = scenario.RecordKeyExists();
  const std::string recorded = scenario.Recorded();
  const std::string hive = HiveText(scenario);

  const KitReport plan = scenario.RunKit("plan", arguments, environment);
  outcome.plan = plan.json;
  EXPECT_EQ(plan.errors, "");
  EXPECT_EQ(plan.exitStatus, static_cast<int>(plan.json["exitCode"].number));
  EXPECT_EQ(SnapshotTree(scenario.install()), outcome.before) << "the plan changed the install folder";
  EXPECT_EQ(scenario.RecordKeyExists(), keyExisted) << "the plan created the record key";
  EXPECT_EQ(scenario.Recorded(), recorded);
  EXPECT_EQ(HiveText(scenario), hive) << "the plan wrote the hive";
  for (const Json& action : plan.json["actions"].items) {
    outcome.actions.emplace_back(action["action"].text, action["path"].text);
  }

  outcome.installerExit = scenario.InstallLogged(arguments, outcome.logged, environment).exitCode;
  outcome.after = SnapshotTree(scenario.install());
  EXPECT_EQ(plan.exitStatus, outcome.installerExit) << "the plan foretold another exit code";
  ExpectActionsHappened(scenario, outcome);
  if (outcome.installerExit == 0 && plan.json["copyRuns"].boolean) ExpectCountsLogged(outcome);
  ExpectVerifyAgrees(scenario, outcome, arguments, environment);
  // Nothing is listed after the failure that ends the copy.
  for (size_t i = 0; i + 1 < outcome.actions.size(); ++i) {
    EXPECT_EQ(outcome.actions[i].first.rfind("fail-", 0), std::string::npos)
        << "an action after " << outcome.actions[i].second;
  }
  return outcome;
}

using Paths = std::set<std::string>;

Paths NativePaths(std::initializer_list<const char*> paths) {
  Paths result;
  for (const char* path : paths) result.insert(Native(path));
  return result;
}

TEST(KitPlan, FreshInstallCreatesEveryFolderAndCopiesEveryFile) {
  KitScenario scenario;
  scenario.Settings("2.0", 0);
  scenario.AddSource("index.html", "<index>");
  scenario.AddSource("guide/start.html", "start", kTime - kSecond);
  scenario.AddSource("guide/images/main.svg", "<svg/>");
  scenario.AddSource(".hidden", "");
  fs::create_directories(scenario.kit().sourceFolder() / "empty");

  const Outcome outcome = PlanThenInstall(scenario, {scenario.installArgument()});
  EXPECT_EQ(outcome.installerExit, 0);
  EXPECT_EQ(outcome.plan["verdict"].text, "allowed");
  EXPECT_EQ(outcome.plan["installDirectorySource"].text, "argument");
  EXPECT_EQ(outcome.plan["installDirectory"].text, scenario.install().string());
  EXPECT_TRUE(outcome.plan["recordedVersion"].IsNull());
  EXPECT_EQ(outcome.plan["kitVersion"].text, "2.0");
  EXPECT_EQ(outcome.Paths("create-folder"), NativePaths({"empty", "guide", "guide/images"}));
  EXPECT_EQ(outcome.Paths("copy"),
            NativePaths({".hidden", "index.html", "guide/start.html", "guide/images/main.svg"}));
  // The folder comes before what goes into it.
  EXPECT_LT(std::find(outcome.actions.begin(), outcome.actions.end(),
                      std::make_pair(std::string("create-folder"), Native("guide/images"))),
            std::find(outcome.actions.begin(), outcome.actions.end(),
                      std::make_pair(std::string("copy"), Native("guide/images/main.svg"))));
  EXPECT_EQ(scenario.Recorded(), "2.0");
}

// Older and equal installed files are replaced, read-only ones too; newer
// ones are kept, read-only or not; files of the install folder that the kit
// does not have are left alone.
TEST(KitPlan, TimesDecideBetweenReplaceAndKeep) {
  KitScenario scenario;
  scenario.Settings("2.0", 0);
  for (const char* name : {"older.html", "equal.html", "newer.html", "ro-older.html",
                           "ro-newer.html", "guide/older.html"}) {
    scenario.AddSource(name, std::string("kit ") + name);
  }
  scenario.AddInstalled("older.html", "old", kTime - kSecond);
  scenario.AddInstalled("equal.html", "same time, other bytes", kTime);
  scenario.AddInstalled("newer.html", "newer", kTime + 1);
  scenario.AddInstalled("ro-older.html", "old", kTime - 1);
  scenario.AddInstalled("ro-newer.html", "newer", kTime + kSecond);
  scenario.AddInstalled("guide/older.html", "old", kTime - kSecond);
  scenario.AddInstalled("product.exe", "not the manual's", kTime);
  testing_support::SetReadOnly(scenario.install() / "ro-older.html", true);
  testing_support::SetReadOnly(scenario.install() / "ro-newer.html", true);
#ifdef _WIN32
  // Wine shows every file as the running account's: the shipped program
  // keeps no newer page then, since anyone might have planted it. The test
  // builds trust that account, as the installer trusts Administrators.
  const KitReport untrusted = scenario.RunKit("plan", {scenario.installArgument()});
  std::map<std::string, std::string> untrustedReasons;
  for (const Json& action : untrusted.json["actions"].items) {
    untrustedReasons[action["path"].text] = action["action"].text + ": " + action["reason"].text;
  }
  EXPECT_EQ(untrustedReasons["newer.html"],
            "replace: the installed file is newer, but an account other than administrators "
            "owns it");
  scenario.UseTestBuilds();
#endif

  const Outcome outcome = PlanThenInstall(scenario, {scenario.installArgument()});
  EXPECT_EQ(outcome.installerExit, 0);
  EXPECT_EQ(outcome.Paths("replace"),
            NativePaths({"older.html", "equal.html", "ro-older.html", "guide/older.html"}));
  EXPECT_EQ(outcome.Paths("keep"), NativePaths({"newer.html", "ro-newer.html"}));
  EXPECT_TRUE(outcome.Paths("create-folder").empty());
  std::map<std::string, std::string> reasons;
  for (const Json& action : outcome.plan["actions"].items) {
    reasons[action["path"].text] = action["reason"].text;
  }
  EXPECT_EQ(reasons["older.html"], "older");
  EXPECT_EQ(reasons["equal.html"], "equal time");
  EXPECT_EQ(reasons["ro-older.html"], "older, read-only");
  EXPECT_EQ(outcome.plan["replaceCount"].number, 4);
  EXPECT_EQ(outcome.plan["keepCount"].number, 2);
}

// The install directory is never created: whatever goes into it first fails.
TEST(KitPlan, MissingInstallDirectoryFailsOnTheFirstEntry) {
  struct Case {
    const char* first;
    const char* second;
    int exitCode;
    const char* failure;
    const char* failed;
  };
  for (const Case& c : {Case{"a/page.html", "b.html", 3, "fail-folder", "a"},
                        Case{"a.html", "b/page.html", 4, "fail-file", "a.html"}}) {
    SCOPED_TRACE(c.first);
    KitScenario scenario;
    scenario.Settings("2.0", 0);
    scenario.AddSource(c.first, "first");
    scenario.AddSource(c.second, "second");
    fs::remove(scenario.install());
    const Outcome outcome = PlanThenInstall(scenario, {scenario.installArgument()});
    EXPECT_EQ(outcome.installerExit, c.exitCode);
    ASSERT_EQ(outcome.actions.size(), 1u);
    EXPECT_EQ(outcome.actions[0].first, c.failure);
    EXPECT_EQ(outcome.actions[0].second, c.failed);
    EXPECT_FALSE(fs::exists(scenario.install()));
    EXPECT_EQ(scenario.Recorded(), "(none)");
  }
}

// A file where a folder of the kit goes: a file to go into it fails with 4,
// a folder to be created in it with 3, and an empty folder asks for nothing.
// A folder where a file goes fails that file with 4.
TEST(KitPlan, FilesAndFoldersInTheWayFailTheCopy) {
  struct Case {
    const char* source;
    const char* inTheWay;
    bool folderInTheWay;
    int exitCode;
  };
  for (const Case& c : {Case{"guide/page.html", "guide", false, 4},
                        Case{"guide/images/main.svg", "guide", false, 3},
                        Case{"guide/", "guide", false, 0},
                        Case{"index.html", "index.html", true, 4}}) {
    SCOPED_TRACE(c.source);
    KitScenario scenario;
    scenario.Settings("2.0", 0);
    if (std::string(c.source).back() == '/') {
      fs::create_directories(scenario.kit().sourceFolder() / c.source);
    } else {
      scenario.AddSource(c.source, "kit");
    }
    if (c.folderInTheWay) {
      fs::create_directories(scenario.install() / c.inTheWay / "inside");
    } else {
      scenario.AddInstalled(c.inTheWay, "a file", kTime);
    }
    const Outcome outcome = PlanThenInstall(scenario, {scenario.installArgument()});
    EXPECT_EQ(outcome.installerExit, c.exitCode);
    EXPECT_EQ(outcome.Paths("create-folder").size(), 0u);
  }
}

// A failure deep in the tree ends the copy there: what came before it was
// copied, nothing after it.
TEST(KitPlan, NestedFailureEndsTheCopyWhereThePlanSays) {
  KitScenario scenario;
  scenario.Settings("2.0", 0);
  scenario.AddSource("a.html", "a");
  scenario.AddSource("b/c/d/e.html", "e");
  scenario.AddSource("b/c/f.html", "f");
  scenario.AddSource("b/a.html", "b/a");
  scenario.AddSource("z.html", "z");
  fs::create_directories(scenario.install() / "b");
  scenario.AddInstalled("b/c", "a file where a folder goes", kTime);

  const Outcome outcome = PlanThenInstall(scenario, {scenario.installArgument()});
  EXPECT_EQ(outcome.installerExit, 3);
  ASSERT_FALSE(outcome.actions.empty());
  EXPECT_EQ(outcome.actions.back(), std::make_pair(std::string("fail-folder"), Native("b/c/d")));
  EXPECT_EQ(outcome.Paths("copy"), NativePaths({"a.html", "b/a.html"}));
  EXPECT_FALSE(fs::exists(scenario.install() / "z.html"));
  EXPECT_EQ(scenario.Recorded(), "(none)");
}

#ifndef _WIN32
// A folder link that another account made: the plan says the copy fails
// there, and the installer writes nothing through it.
TEST(KitPlan, LinkOfAnotherAccountFailsTheCopy) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root, to give a link to another account (lchown)";
  KitScenario scenario;
  scenario.Settings("2.0", 0);
  scenario.AddSource("a.html", "a");
  scenario.AddSource("docs/guide.html", "g");
  testing_support::TempFolder elsewhere;
  fs::create_directory_symlink(elsewhere.path(), scenario.install() / "docs");
  ASSERT_EQ(lchown((scenario.install() / "docs").c_str(), 65534, 65534), 0);

  const Outcome outcome = PlanThenInstall(scenario, {scenario.installArgument()});
  EXPECT_EQ(outcome.installerExit, 4);
  ASSERT_FALSE(outcome.actions.empty());
  EXPECT_EQ(outcome.actions.back(), std::make_pair(std::string("fail-file"), Native("docs")));
  EXPECT_TRUE(fs::is_empty(elsewhere.path()));
}
#endif

// The version comparison: a later recorded version is refused (exit 0 when
// silent, 7 with messages), the same one is installed again only when
// silent, an earlier one is replaced.
TEST(KitPlan, VersionVerdictsWithAndWithoutMessages) {
  struct Case {
    const char* recorded;
    const char* kit;
    int messageDisplay;
    const char* verdict;
    int exitCode;
  };
  for (const Case& c : {Case{"3.0", "2.9.9", 0, "refused", 0}, Case{"3.0", "2.9.9", 1, "refused", 7},
                        Case{"2.0", "2.0.0", 0, "allowed", 0}, Case{"2.0", "2.0", 1, "refused", 7},
                        Case{"1.9", "1.10", 1, "allowed", 0}}) {
    SCOPED_TRACE(std::string(c.recorded) + " -> " + c.kit + ", MessageDisplay=" +
                 std::to_string(c.messageDisplay));
    if (c.messageDisplay && !BoxesReturnAtOnce()) continue;
    KitScenario scenario;
    scenario.Settings(c.kit, c.messageDisplay);
    scenario.WriteRecord(c.recorded);
    scenario.AddSource("index.html", "<index>");
    const Outcome outcome = PlanThenInstall(scenario, {scenario.installArgument()});
    EXPECT_EQ(outcome.plan["verdict"].text, c.verdict);
    EXPECT_EQ(outcome.plan["recordedVersion"].text, c.recorded);
    EXPECT_EQ(outcome.installerExit, c.exitCode);
    const bool allowed = std::string(c.verdict) == "allowed";
    EXPECT_EQ(outcome.plan["copyRuns"].boolean, allowed);
    EXPECT_EQ(outcome.Paths("copy"), allowed ? NativePaths({"index.html"}) : Paths{});
    EXPECT_EQ(scenario.Recorded(), allowed ? c.kit : c.recorded);
  }
}

// Without "/p" the install directory is the uninstall registration's; with
// neither, or an empty "/p", there is none (exit 5, nothing copied).
TEST(KitPlan, InstallDirectoryFromTheRegistrationOrNone) {
  KitScenario scenario;
  scenario.Settings("2.0", 0);
  scenario.AddSource("guide/index.html", "<index>");

  Outcome outcome = PlanThenInstall(scenario, {});
  EXPECT_EQ(outcome.installerExit, 5);
  EXPECT_EQ(outcome.plan["installDirectorySource"].text, "none");
  EXPECT_TRUE(outcome.actions.empty());

  scenario.RegisterInstallPath(testing_support::HostPath(scenario.install().string()));
  outcome = PlanThenInstall(scenario, {"/p"});
  EXPECT_EQ(outcome.installerExit, 5);

  outcome = PlanThenInstall(scenario, {});
  EXPECT_EQ(outcome.installerExit, 0);
  EXPECT_EQ(outcome.plan["installDirectorySource"].text, "registration");
  EXPECT_EQ(outcome.Paths("copy"), NativePaths({"guide/index.html"}));
  EXPECT_EQ(scenario.Recorded(), "2.0");
}

// An update over an installation that has drifted: every kind of entry at
// once, in a tree of nested folders.
TEST(KitPlan, UpdateOverADriftedInstallation) {
  KitScenario scenario;
  scenario.Settings("2.0", 0);
  std::vector<std::string> files;
  for (int n = 0; n < 60; ++n) {
    const std::string folder = n % 4 == 0 ? "" : "part" + std::to_string(n % 4) + "/" +
                                                   (n % 3 ? "" : "deep/");
    files.push_back(folder + "page" + std::to_string(n) + ".html");
    scenario.AddSource(files.back(), "page " + std::to_string(n), kTime + n * kSecond);
  }
  ASSERT_EQ(scenario.Install({scenario.installArgument()}).exitCode, 0);
  scenario.WriteRecord("1.0");
  for (int n = 0; n < 60; ++n) {
    const fs::path installed = scenario.install() / files[n];
    switch (n % 6) {
      case 0: testing_support::SetWriteTime(installed, kTime - kSecond); break;
      case 1: scenario.AddInstalled(files[n], "edited", kTime + 100 * kSecond); break;
      case 2: fs::remove(installed); break;
      case 3: testing_support::SetReadOnly(installed, true); break;
      default: break;
    }
  }
  fs::remove_all(scenario.install() / "part2" / "deep");
#ifdef _WIN32
  scenario.UseTestBuilds();  // to keep the edited pages, which Wine shows as the running account's
#endif

  const Outcome outcome = PlanThenInstall(scenario, {scenario.installArgument()});
  EXPECT_EQ(outcome.installerExit, 0);
  EXPECT_EQ(outcome.Paths("create-folder"), NativePaths({"part2/deep"}));
  EXPECT_EQ(outcome.Paths("keep").size(), 10u);
  EXPECT_EQ(outcome.actions.size() - outcome.Paths("create-folder").size(), files.size());
}

// A manual's life in a tree of some size, each step planned and then run:
// a fresh install, an identical rerun, an update in which one page changed
// (the rest holds the kit's bytes already), and one with RemoveOldFiles
// whose kit lacks a tree of old pages, one of them changed by hand, which
// stays with the folders that hold it.
TEST(KitPlan, EachStepOfAManualsLifeIsForetoldPageForPage) {
  KitScenario scenario;
  scenario.UseTestBuilds();  // Wine shows every folder as the running account's
  scenario.Settings("1.0", 0);
  const std::vector<std::string> folders{"", "guide/", "guide/images/", "old/", "old/deep/",
                                         "old/kept/"};
  for (size_t n = 0; n < 36; ++n) {
    scenario.AddSource(folders[n % folders.size()] + "page" + std::to_string(n) + ".html",
                       "page " + std::to_string(n));
  }
  const int pages = 36;

  Outcome outcome = PlanThenInstall(scenario, {scenario.installArgument()});
  EXPECT_EQ(outcome.installerExit, 0);
  EXPECT_EQ(outcome.plan["createFolderCount"].number, 5);
  EXPECT_EQ(outcome.plan["copyCount"].number, pages);

  outcome = PlanThenInstall(scenario, {scenario.installArgument()});
  EXPECT_EQ(outcome.installerExit, 0);
  EXPECT_EQ(outcome.after, outcome.before);
  EXPECT_EQ(outcome.plan["passOverCount"].number + outcome.plan["unchangedCount"].number, pages);

  scenario.Settings("1.1", 0);
  scenario.AddSource("guide/page1.html", "page 1, corrected", kTime + kSecond);
  outcome = PlanThenInstall(scenario, {scenario.installArgument()});
  EXPECT_EQ(outcome.installerExit, 0);
  EXPECT_EQ(outcome.Paths("replace"), NativePaths({"guide/page1.html"}));
  EXPECT_EQ(outcome.plan["unchangedCount"].number, pages - 1);

  scenario.Settings("1.2", 0, "RemoveOldFiles=1\n");
  fs::remove_all(scenario.kit().sourceFolder() / "old");
  scenario.AddInstalled("old/kept/page5.html", "edited by hand", kTime);
  outcome = PlanThenInstall(scenario, {scenario.installArgument()});
  EXPECT_EQ(outcome.installerExit, 0);
  EXPECT_EQ(outcome.plan["removeCount"].number, 17);
  EXPECT_EQ(outcome.Paths("keep-old"), NativePaths({"old/kept/page5.html"}));
  EXPECT_EQ(outcome.Paths("remove-folder"), NativePaths({"old/deep"}));
  EXPECT_EQ(outcome.Paths("keep-folder"), NativePaths({"old", "old/kept"}));
  EXPECT_EQ(outcome.plan["unchangedCount"].number, pages / 2);
}

// A copy that does not fit on the install directory's volume writes
// nothing at all, neither there nor in the lists' folder, and ends with 4,
// as the plan foretells; the log says how much it needs. One that fits
// installs.
TEST(KitPlan, ACopyThatCannotFitWritesNothing) {
  KitScenario scenario;
  scenario.Settings("2.0", 0);
  testing_support::SmallVolume volume(scenario.install(), 4);
  if (!volume.Failure().empty()) GTEST_SKIP() << "no tmpfs can be mounted: " << volume.Failure();
  scenario.AddSource("guide/start.html", "start");
  scenario.AddSource("figures/large.bmp", std::string(2 << 20, 'x'));
  const std::string install = "/p" + volume.Path();

  // 2 MB grown, 2 MB beside the old file, 1 MB margin, and a page.
  const std::string text = "not enough free space: 5.1 MB needed, 4.0 MB free";
  const Outcome refused = PlanThenInstall(scenario, {install});
  EXPECT_EQ(refused.installerExit, 4);
  EXPECT_TRUE(refused.actions.empty());
  ASSERT_EQ(refused.plan["findings"].items.size(), 1u);
  const Json& finding = refused.plan["findings"].items[0];
  EXPECT_EQ(finding["code"].text, "not-enough-space");
  EXPECT_EQ(finding["severity"].text, "error");
  EXPECT_EQ(finding["message"].text.find(text), 0u) << finding["message"].text;
  EXPECT_FALSE(scenario.AnyListFolder());

  const fs::path log = scenario.kit().folder() / "run.log";
  const std::string logSwitch = "/log=" + testing_support::HostPath(log.string());
  EXPECT_EQ(scenario.Install({install, logSwitch}).exitCode, 4);
  EXPECT_NE(ReadFile(log).find(": " + text + "; nothing was written\n"), std::string::npos)
      << ReadFile(log);
  EXPECT_TRUE(fs::is_empty(scenario.install()));
  EXPECT_FALSE(scenario.AnyListFolder());
  EXPECT_EQ(scenario.Recorded(), "(none)");
#ifndef _WIN32
  // A person who sees the run is told what is needed and what is free.
  scenario.Settings("2.0", 1);
  const std::string shown = scenario.Install({install}).errors;
  EXPECT_EQ(shown.find("[Quorvex] There is not enough free space on the disk of\n" + volume.Path() +
                       "\n"), 0u) << shown;
  EXPECT_NE(shown.find(" is free. Nothing was written.\n\nThe setup stopped with exit code 4."),
            std::string::npos) << shown;
  scenario.Settings("2.0", 0);
#endif

  scenario.AddSource("figures/large.bmp", std::string(1 << 20, 'y'));
  const Outcome installed = PlanThenInstall(scenario, {install});
  EXPECT_EQ(installed.installerExit, 0);
  EXPECT_TRUE(installed.plan["findings"].items.empty());
  EXPECT_EQ(scenario.Recorded(), "2.0");
}

#ifndef _WIN32
// Faults that root cannot make with permissions, made natively: a source
// that cannot be read (a dangling link), a folder of SRC whose listing
// breaks off, a hive that is not one (the record cannot be opened).
TEST(KitPlan, UnreadableSourcesAndRegistryFaults) {
  {
    KitScenario scenario;
    scenario.Settings("2.0", 0);
    scenario.AddSource("a.html", "a");
    fs::create_symlink(scenario.kit().folder() / "nowhere", scenario.kit().sourceFolder() / "b.html");
    scenario.AddSource("c.html", "c");
    const Outcome outcome = PlanThenInstall(scenario, {scenario.installArgument()});
    EXPECT_EQ(outcome.installerExit, 4);
    EXPECT_EQ(outcome.actions.back(), std::make_pair(std::string("fail-file"), std::string("b.html")));
  }
  {
    KitScenario scenario;
    scenario.Settings("2.0", 0);
    scenario.AddSource("a.html", "a");
    scenario.AddSource("broken/x.html", "x");
    scenario.AddSource("broken/y.html", "y");
    const Outcome outcome = PlanThenInstall(scenario, {scenario.installArgument()},
                                            {{"QUORVEX_FAULT_FINDNEXT", "broken"}});
    EXPECT_EQ(outcome.installerExit, 4);
    EXPECT_EQ(outcome.actions.back(), std::make_pair(std::string("fail-file"), std::string("broken")));
  }
  for (int messageDisplay : {0, 1}) {
    KitScenario scenario;
    scenario.Settings("2.0", messageDisplay);
    scenario.AddSource("a.html", "a");
    testing_support::WriteFile(scenario.kit().HivePath(), "not a hive\n");
    const Outcome outcome = PlanThenInstall(scenario, {scenario.installArgument()});
    EXPECT_EQ(outcome.installerExit, messageDisplay ? 7 : 0);
    EXPECT_EQ(outcome.plan["verdict"].text, "refused");
    EXPECT_TRUE(outcome.actions.empty());
  }
}
#endif

}  // namespace
