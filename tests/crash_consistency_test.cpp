// The installer killed (SIGKILL) at random points of a large copy and of its
// registry write, then run again: after every kill no installed file is half
// written and the hive holds the old or the new record, and the rerun
// completes the install with nothing left over. The kill points come from a
// fixed seed; the runs themselves decide where each kill lands.
#include <gtest/gtest.h>
#include <signal.h>
#include <time.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/posix/hive.h"
#include "support/kit.h"
#include "support/trees.h"

using namespace testing_support;

namespace {

const char kRecordKey[] =
    "SOFTWARE\\Veltrane\\Orvinel\\Manual\\{5E1C7A20-3B9D-4C6F-A2E8-91D04B7F3C65}";
const char kOtherKey[] = "SOFTWARE\\Veltrane\\Other";

// A hive that records version 1 in English and 5 in Japanese, beside a value
// of otherBytes bytes under another key.
std::string SeededHive(size_t otherBytes) {
  std::string blob = "hex:";
  for (size_t i = 0; i < otherBytes; ++i) {
    static const char digits[] = "0123456789abcdef";
    if (i) blob += (i % 25 == 0) ? ",\\\n  " : ",";
    blob += digits[(i * 7) % 16];
    blob += digits[i % 16];
  }
  return std::string("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\") + kOtherKey + "]\n\"Blob\"=" + blob +
         "\n\"Name\"=\"kept\"\n\n[HKEY_LOCAL_MACHINE\\" + kRecordKey +
         "]\n\"en\"=\"1\"\n\"ja\"=\"5\"\n\n";
}

// The hive's English record; "" with a failure when the hive is torn or lost
// anything else.
std::string CheckHive(const fs::path& path, const std::string& seeded) {
  standin::Hive hive, expected;
  EXPECT_TRUE(standin::ParseHive(seeded, expected));
  if (!standin::ParseHive(ReadFile(path), hive)) {
    ADD_FAILURE() << "the hive does not parse:\n" << ReadFile(path).substr(0, 500);
    return "";
  }
  for (const char* name : {"Blob", "Name"}) {
    const auto* key = hive.FindKey(kOtherKey);
    const auto* value = key ? key->FindValue(name) : nullptr;
    EXPECT_TRUE(value && value->data == expected.FindKey(kOtherKey)->FindValue(name)->data)
        << name << " was lost";
  }
  const auto* record = hive.FindKey(kRecordKey);
  const auto* japanese = record ? record->FindValue("ja") : nullptr;
  EXPECT_TRUE(japanese && japanese->data == std::string("5", 2)) << "the Japanese record was lost";
  const auto* english = record ? record->FindValue("en") : nullptr;
  if (!english) {
    ADD_FAILURE() << "the English record was lost";
    return "";
  }
  return english->data.substr(0, english->data.find('\0'));
}

// Names in folder that a writer of the hive left behind.
std::vector<std::string> HiveLeftovers(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(".HKLM.reg", 0) == 0) names.push_back(name);
  }
  return names;
}

#ifdef QUORVEX_SANITIZED
// The sanitizer build repeats a few of the kills.
constexpr int kCopyRounds = 2, kRegistryKills = 5;
#else
constexpr int kCopyRounds = 6, kRegistryKills = 14;
#endif

class KilledInstall : public ::testing::Test {
 protected:
  void SetUp() override {
    kit_.WriteSettings("[Product]\nLanguage=en\nManualVersion=2\nMessageDisplay=0\n");
  }
  void Reset(size_t otherBytes) {
    fs::remove_all(kit_.installFolder());
    fs::create_directory(kit_.installFolder());
    seeded_ = SeededHive(otherBytes);
    WriteFile(kit_.HivePath(), seeded_);
  }
  Environment RunEnvironment() const { return {{"QUORVEX_HKLM", kit_.HivePath().string()}}; }
  std::unique_ptr<BackgroundRun> Start() const {
    return std::make_unique<BackgroundRun>(kit_.executable().string(),
                                           std::vector<std::string>{"/p" + kit_.installFolder().string()},
                                           RunEnvironment());
  }
  // How long an uninterrupted run takes, in microseconds; it must complete.
  long TimeOneRun() {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Start()->Wait(), 0);
    return static_cast<long>(std::chrono::duration_cast<std::chrono::microseconds>(
                                 std::chrono::steady_clock::now() - start)
                                 .count());
  }
  // Starts a run and kills it after delay microseconds, counted from the
  // moment the hive's temporary file appears when afterTemporary. True when
  // the kill ended it; a run that finished first must have completed.
  bool RunAndKill(long delay, bool afterTemporary = false) {
    auto run = Start();
    const fs::path temporary = kit_.folder() / ".HKLM.reg.new";
    for (int polls = 0; afterTemporary && polls < 200000 && !fs::exists(temporary); ++polls) {
      Pause(50);
    }
    Pause(delay);
    run->Kill();
    const int status = run->Wait();
    EXPECT_TRUE(status == 128 + SIGKILL || status == 0) << "exit status " << status;
    return status == 128 + SIGKILL;
  }
  static void Pause(long microseconds) {
    const timespec pause{microseconds / 1000000, (microseconds % 1000000) * 1000};
    nanosleep(&pause, nullptr);
  }
  void ExpectConsistent() {
    const std::string recorded = CheckHive(kit_.HivePath(), seeded_);
    EXPECT_TRUE(recorded == "1" || recorded == "2") << "record " << recorded;
    // The version is recorded only after a complete copy; a later run may
    // have been killed while replacing files since.
    EXPECT_EQ(CheckNothingHalfWritten(kit_.sourceFolder(), kit_.installFolder(), recorded == "2"),
              "");
  }
  void ExpectRerunCompletes() {
    EXPECT_EQ(Start()->Wait(), 0);
    EXPECT_EQ(CompareTrees(kit_.sourceFolder(), kit_.installFolder()), "");
    EXPECT_EQ(CheckHive(kit_.HivePath(), seeded_), "2");
    EXPECT_EQ(HiveLeftovers(kit_.folder()), std::vector<std::string>{});
  }

  Kit kit_;
  std::string seeded_;
  std::mt19937 random_{20240607};
  int killed_ = 0;
  int finished_ = 0;
};

// Installs of 1200 files in 40 folders (about 14 MB, six files of 1.5 MB),
// each killed six times before it is run to its end; every run after the
// first starts from what the killed one left.
TEST_F(KilledInstall, KillsDuringALargeCopyLoseNothing) {
  WriteManualTree(kit_.sourceFolder(), {1200, 200, 3 << 19}, 7);
  Reset(16);
  const long runTime = TimeOneRun();
  for (int round = 0; round < kCopyRounds && !HasFailure(); ++round) {
    Reset(16);
    for (int kill = 0; kill < 6 && !HasFailure(); ++kill) {
      (RunAndKill(static_cast<long>(random_() % runTime)) ? killed_ : finished_)++;
      ExpectConsistent();
    }
    ExpectRerunCompletes();
  }
  RecordProperty("killed", killed_);
  RecordProperty("finished_before_the_kill", finished_);
  std::printf("copy: %d runs killed, %d finished before their kill\n", killed_, finished_);
}

// A small manual and a hive of about 1.5 MB. Half of the kills come at any
// point of the run (or after its end), half within 3 ms of the moment the
// run starts to write the new hive.
TEST_F(KilledInstall, KillsDuringTheRegistryWriteLeaveTheOldOrTheNewRecord) {
  kit_.AddSourceFile("index.html", "<index>");
  kit_.AddSourceFile("guide/start.html", "<start>");
  Reset(1 << 19);
  const long runTime = TimeOneRun();
  int old = 0, recordedNew = 0, midWrite = 0;
  for (int kill = 0; kill < kRegistryKills && !HasFailure(); ++kill) {
    Reset(1 << 19);
    const bool duringWrite = kill % 2 == 1;
    const long delay = static_cast<long>(random_() % (duringWrite ? 3000 : runTime * 5 / 4));
    (RunAndKill(delay, duringWrite) ? killed_ : finished_)++;
    ExpectConsistent();
    (CheckHive(kit_.HivePath(), seeded_) == "2" ? recordedNew : old)++;
    midWrite += !HiveLeftovers(kit_.folder()).empty();
    ExpectRerunCompletes();
  }
  RecordProperty("killed", killed_);
  RecordProperty("killed_while_replacing_the_hive", midWrite);
  std::printf("registry: %d runs killed (%d while replacing the hive), %d finished first; "
              "%d old and %d new records\n",
              killed_, midWrite, finished_, old, recordedNew);
}

}  // namespace
