// QuorvexKit verify after the real installer: a complete installation
// verifies; faults planted in it afterwards (a torn file stamped with the
// kit's time, a file the installer kept because it was newer, a missing file
// or folder, a wrong record) are each found, and only they.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "support/kit_scenario.h"

using testing_support::Json;
using testing_support::KitReport;
using testing_support::KitScenario;
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
  // Newer than the kit's and different: the installer keeps it.
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
                              {"torn.html", kChangedSinceInstall}}));
  EXPECT_EQ(states.folders.at(Native("guide/images")), "missing");
  EXPECT_EQ(states.folders.at("guide"), "present");
  EXPECT_EQ(report.json["recordedVersion"].text, "4.0");
  EXPECT_FALSE(report.json["recordMatches"].boolean);
  EXPECT_EQ(report.json["keptNewerCount"].number, 1);
  const bool listed = std::string(kChangedSinceInstall) != "differs";
  EXPECT_EQ(report.json["differsCount"].number, listed ? 1 : 2);
  EXPECT_EQ(report.json["changedSinceInstallCount"].number, listed ? 1 : 0);
  EXPECT_EQ(report.json["missingCount"].number, 2);

  // The text report lists the kept file apart, after the others.
  const auto text = testing_support::RunProgram(
      testing_support::QuorvexKitExecutable(),
      {"verify", scenario_.installArgument(), scenario_.kit().kitFolder().string()}
#ifndef _WIN32
      , {{"QUORVEX_HKLM", scenario_.kit().HivePath().string()}}
#endif
  );
  EXPECT_EQ(text.exitCode, 1);
  const size_t apart = text.output.find("Kept by the installer");
  ASSERT_NE(apart, std::string::npos) << text.output;
  EXPECT_GT(text.output.find("kept-newer kept.html"), apart);
  EXPECT_LT(text.output.find(std::string(kChangedSinceInstall) + " torn.html"), apart);
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

}  // namespace
