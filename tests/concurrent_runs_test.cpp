// An English and a Japanese installer of one product, each from its own kit,
// started at the same moment against one stand-in hive, again and again:
// afterwards both records are there and both manuals are complete, whether
// they go into two install folders or into the same one.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "platform/posix/hive.h"
#include "platform/win32.h"
#include "support/kit.h"
#include "support/trees.h"

using namespace testing_support;

namespace {

const char kRecordKey[] =
    "SOFTWARE\\Veltrane\\Orvinel\\Manual\\{5E1C7A20-3B9D-4C6F-A2E8-91D04B7F3C65}";

std::map<std::string, std::string> Records(const fs::path& hivePath) {
  std::map<std::string, std::string> records;
  standin::Hive hive;
  if (!standin::ParseHive(ReadFile(hivePath), hive)) return {{"", "the hive does not parse"}};
  if (const auto* key = hive.FindKey(kRecordKey)) {
    for (const auto& value : key->values) {
      records[value.name] = value.data.substr(0, value.data.find('\0'));
    }
  }
  return records;
}

// Every file of both sources is in installed, equal to the one of them that
// holds that name (to either where both do), and nothing else is there.
std::string CheckSharedFolder(const fs::path& english, const fs::path& japanese,
                              const fs::path& installed) {
  for (const fs::path& source : {english, japanese}) {
    for (const auto& entry : fs::recursive_directory_iterator(source)) {
      const fs::path relative = entry.path().lexically_relative(source);
      if (!fs::exists(installed / relative)) return "missing: " + relative.string();
    }
  }
  for (const auto& entry : fs::recursive_directory_iterator(installed)) {
    const fs::path relative = entry.path().lexically_relative(installed);
    if (entry.is_directory()) continue;
    const std::string content = ReadFile(entry.path());
    const bool fromEnglish = fs::exists(english / relative) && ReadFile(english / relative) == content;
    const bool fromJapanese =
        fs::exists(japanese / relative) && ReadFile(japanese / relative) == content;
    if (!fromEnglish && !fromJapanese) return "from neither source: " + relative.string();
  }
  return "";
}

#ifdef QUORVEX_SANITIZED
constexpr int kRounds = 10;  // the sanitizer build repeats a few
#else
constexpr int kRounds = 50;
#endif

class ConcurrentRuns : public ::testing::Test {
 protected:
  ConcurrentRuns() {
    // Both manuals share some page names with different content, and the
    // Japanese one has names in code page 932.
    WriteManualTree(english_.sourceFolder(), {100, 50, 1 << 19}, 1);
    WriteManualTree(japanese_.sourceFolder(), {100, 50, 1 << 19}, 2);
    WriteManualTree(english_.sourceFolder() / "en", {40}, 3);
    WriteManualTree(japanese_.sourceFolder() / "\x93\xfa\x96\x7b\x8c\xea", {40}, 4);  // "日本語"
    WriteFile(japanese_.sourceFolder() / "\x95\x5c.html", "<table/>");  // "表": 0x5C second byte
    // Folders of the same names, which both runs create at the same moments.
    for (int n = 0; n < 80; ++n) {
      for (const Kit* kit : {&english_, &japanese_}) {
        fs::create_directories(kit->sourceFolder() / "topics" / ("t" + std::to_string(n)) / "img");
      }
    }
  }
  void Settings(const Kit& kit, const char* language, int version) const {
    kit.WriteSettings(std::string("[Product]\nLanguage=") + language + "\nManualVersion=" +
                      std::to_string(version) + "\nMessageDisplay=0\n");
  }
  static void Empty(const fs::path& folder) {
    fs::remove_all(folder);
    fs::create_directories(folder);
  }
  // Starts both installers at once; both must complete.
  void RunBoth(const fs::path& englishFolder, const fs::path& japaneseFolder) {
    int gate[2];
    ASSERT_EQ(pipe(gate), 0);
    const std::string hive = hive_.path() / "HKLM.reg";
    BackgroundRun english(english_.executable().string(), {"/p" + englishFolder.string()},
                          {{"QUORVEX_HKLM", hive}, {"LANG", "en_US.UTF-8"}}, gate[0]);
    BackgroundRun japanese(japanese_.executable().string(), {"/p" + japaneseFolder.string()},
                           {{"QUORVEX_HKLM", hive}, {"LANG", "ja_JP.SJIS"}, {"LC_ALL", ""}},
                           gate[0]);
    close(gate[0]);
    close(gate[1]);
    EXPECT_EQ(english.Wait(), 0);
    EXPECT_EQ(japanese.Wait(), 0);
  }

  Kit english_, japanese_;
  TempFolder hive_, installs_;
};

// Odd rounds install into two folders, even rounds into one shared folder.
TEST_F(ConcurrentRuns, EnglishAndJapaneseInstallersKeepBothRecordsAndManuals) {
  const fs::path englishFolder = installs_.path() / "en", japaneseFolder = installs_.path() / "ja";
  const fs::path shared = installs_.path() / "shared";
  int rounds = 0;
  for (int round = 1; round <= kRounds && !HasFailure(); ++round, ++rounds) {
    SCOPED_TRACE("round " + std::to_string(round));
    Settings(english_, "en", round);
    Settings(japanese_, "ja", round);
    if (round % 2) {
      Empty(englishFolder);
      Empty(japaneseFolder);
      RunBoth(englishFolder, japaneseFolder);
      EXPECT_EQ(CompareTrees(english_.sourceFolder(), englishFolder), "");
      EXPECT_EQ(CompareTrees(japanese_.sourceFolder(), japaneseFolder), "");
    } else {
      Empty(shared);
      RunBoth(shared, shared);
      EXPECT_EQ(CheckSharedFolder(english_.sourceFolder(), japanese_.sourceFolder(), shared), "");
    }
    const auto records = Records(hive_.path() / "HKLM.reg");
    EXPECT_EQ(records, (std::map<std::string, std::string>{{"en", std::to_string(round)},
                                                           {"ja", std::to_string(round)}}));
  }
  RecordProperty("rounds", rounds);
  std::printf("%d rounds of two installers at once\n", rounds);
}

// A folder of the install swapped, while a copy goes into it, for a link
// that another account made (as a user could, in an install folder that
// users may write): nothing of the copy lands where the link leads, and
// the run ends with 4.
TEST_F(ConcurrentRuns, AFolderSwappedForAnotherAccountsLinkGetsNothingThroughIt) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root, to give a link to another account (lchown)";
  Settings(english_, "en", 1);
  WriteManualTree(english_.sourceFolder() / "docs", {1500}, 5);
  const fs::path installed = english_.installFolder(), target = hive_.path() / "elsewhere";
  Empty(installed);
  Empty(target);
  BackgroundRun run(english_.executable().string(), {"/p" + installed.string()},
                    {{"QUORVEX_HKLM", (hive_.path() / "HKLM.reg").string()}});
  const fs::path docs = installed / "docs";
  // Once the copy has begun to fill docs.
  std::error_code error;
  for (int polls = 0; polls < 200000 && (!fs::exists(docs) || fs::is_empty(docs, error)); ++polls) {
    usleep(50);
  }
  fs::rename(docs, installed / "docs-moved");
  fs::create_directory_symlink(target, docs);
  ASSERT_EQ(lchown(docs.c_str(), 65534, 65534), 0);
  const int code = run.Wait();
  EXPECT_TRUE(fs::is_empty(target)) << fs::begin(fs::directory_iterator(target))->path();
  const auto moved = std::distance(fs::recursive_directory_iterator(installed / "docs-moved"),
                                   fs::recursive_directory_iterator());
  std::printf("swapped after %ld entries of docs were written; exit code %d\n",
              static_cast<long>(moved), code);
  if (code == 0) std::printf("the copy had passed docs before the swap\n");
  else EXPECT_EQ(code, 4);
}

}  // namespace
