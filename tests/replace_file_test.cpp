// Replacing a file with a complete copy, through the real Win32 calls under
// Wine and the stand-in natively: the destination's name shows the old file
// or the new one, never a part, and no temporary file stays behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

#include "platform/file_holders.h"
#include "platform/replace_file.h"
#include "platform/scoped_handle.h"
#include "platform/path_separator.h"
#include "support/kit.h"
#include "support/kit_scenario.h"

using testing_support::HostPath;
using testing_support::ReadFile;
using testing_support::TempFolder;
using testing_support::WriteFile;

namespace {

class FileReplace : public ::testing::Test {
 protected:
  fs::path Source(const std::string& name) const { return source_.path() / name; }
  fs::path Installed(const std::string& name) const { return installed_.path() / name; }
  bool Replace(const std::string& name) const {
    return ReplaceFileWithCopy(HostPath(source_.Text()), HeldFolder::Open(HostPath(installed_.Text())),
                               name);
  }
  DWORD Attributes(const fs::path& path) const {
    return GetFileAttributesA(HostPath(path.string()).c_str());
  }
  void SetAttributes(const fs::path& path, DWORD attributes) const {
    ASSERT_TRUE(SetFileAttributesA(HostPath(path.string()).c_str(), attributes)) << path;
  }
  // Names in the install folder.
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(installed_.path())) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  TempFolder source_, installed_;
};

TEST_F(FileReplace, WritesContentTimeAndReadOnlyAndLeavesNoTemporaryFile) {
  std::string content(3 << 20, '\0');
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 31 >> 7);
  WriteFile(Source("page.html"), content);
  SetAttributes(Source("page.html"), FILE_ATTRIBUTE_READONLY);
  WriteFile(Installed("page.html"), "old");

  ASSERT_TRUE(Replace("page.html"));
  EXPECT_EQ(ReadFile(Installed("page.html")), content);
  const DWORD attributes = Attributes(Installed("page.html"));
  EXPECT_TRUE(attributes & FILE_ATTRIBUTE_READONLY);
  EXPECT_FALSE(attributes & FILE_ATTRIBUTE_HIDDEN);
  EXPECT_EQ(fs::last_write_time(Installed("page.html")), fs::last_write_time(Source("page.html")));
  EXPECT_EQ(Names(), std::vector<std::string>{"page.html"});

  // A new file, and one into a folder that does not exist.
  WriteFile(Source("new.html"), "new");
  ASSERT_TRUE(Replace("new.html"));
  EXPECT_EQ(ReadFile(Installed("new.html")), "new");
  EXPECT_FALSE(ReplaceFileWithCopy(
      HostPath(source_.Text()),
      HeldFolder::Open(HostPath((installed_.path() / "missing").string())), "new.html"));
  SetAttributes(Source("page.html"), FILE_ATTRIBUTE_NORMAL);
}

// A run killed during a copy leaves its temporary file, under the name that
// the next run writing that file uses: that run takes it over, even when
// it is read-only and hidden.
TEST_F(FileReplace, TakesOverWhatAKilledRunLeft) {
  WriteFile(Source("page.html"), "complete");
  const std::string temporary = TemporaryCopyName(HostPath(source_.Text()), "page.html");
  EXPECT_EQ(temporary.size(), kTemporaryNameLength);
  EXPECT_EQ(temporary.substr(0, 2), "~q");
  EXPECT_EQ(temporary, FirstTemporaryCopyName("page.html"));
  WriteFile(Installed(temporary), "comp");
  SetAttributes(Installed(temporary), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);

  ASSERT_TRUE(Replace("page.html"));
  EXPECT_EQ(ReadFile(Installed("page.html")), "complete");
  EXPECT_EQ(Names(), std::vector<std::string>{"page.html"});

#ifndef _WIN32
  // What another account planted under that name is never written
  // through: a link to a file, a link to nothing, a second name of a file.
  // (The Windows program: wine64_link_in_install_folder.)
  testing_support::TempFolder elsewhere;
  const fs::path victim = elsewhere.path() / "victim.txt", nowhere = elsewhere.path() / "nowhere";
  WriteFile(victim, "victim");
  const auto plant = [&](int how) {
    fs::remove(Installed(temporary));
    if (how == 0) fs::create_symlink(victim, Installed(temporary));
    if (how == 1) fs::create_symlink(nowhere, Installed(temporary));
    if (how == 2) fs::create_hard_link(victim, Installed(temporary));
  };
  for (int how = 0; how < 3; ++how) {
    SCOPED_TRACE(how);
    plant(how);
    WriteFile(Source("page.html"), "complete " + std::to_string(how));
    ASSERT_TRUE(Replace("page.html"));
    EXPECT_EQ(ReadFile(Installed("page.html")), "complete " + std::to_string(how));
    EXPECT_EQ(ReadFile(victim), "victim");
    EXPECT_FALSE(fs::exists(nowhere));
  }
  fs::remove(Installed(temporary));
#endif
}

// The temporary name never stands for a file of the manual: should the
// manual hold a file of that name, another one is taken.
TEST_F(FileReplace, TemporaryNameIsNoFileOfTheManual) {
  const std::string first = FirstTemporaryCopyName("a.html");
  WriteFile(Source("a.html"), "a");
  WriteFile(Source(first), "a page of the manual");
  const std::string temporary = TemporaryCopyName(HostPath(source_.Text()), "a.html");
  EXPECT_NE(temporary, first);
  EXPECT_EQ(temporary.size(), first.size());

  WriteFile(Installed(first), "a page of the manual");
  ASSERT_TRUE(Replace("a.html"));
  EXPECT_EQ(ReadFile(Installed(first)), "a page of the manual");
  EXPECT_EQ(Names(), (std::vector<std::string>{"a.html", first}));
}

// The temporary name fits wherever the file's own path fits: in a folder
// that leaves less room than its full length, it is cut down, never below
// the name's own length.
TEST(TemporaryName, FitsWhereverTheFileFits) {
  const struct {
    size_t folder;
    const char* name;
    size_t length;
  } cases[] = {
      {3, "index.html", kTemporaryNameLength},
      {3, "a-page-with-a-long-name.html", kTemporaryNameLength},
      {248, "a.htm", kTemporaryNameLength},
      {250, "a.htm", 9},
      {254, "a.htm", 5},
      {258, "a", 1},
      {250, "desktop.ini", kTemporaryNameLength},
  };
  for (const auto& c : cases) {
    const std::string temporary = FirstTemporaryCopyName(c.name, c.folder);
    EXPECT_EQ(temporary.size(), c.length) << c.folder << " " << c.name;
    EXPECT_EQ(temporary[0], '~') << c.name;
    EXPECT_NE(temporary, c.name);
  }
  EXPECT_NE(FirstTemporaryCopyName("a.html"), FirstTemporaryCopyName("b.html"));
}

// A long path: the temporary copy goes beside the file all the same, and a
// hidden file there is replaced by a hidden one (CopyFileA over it would
// be refused on Windows).
TEST_F(FileReplace, LongPathWithAHiddenFileIsReplaced) {
  fs::path deep = installed_.path();
  // As deep as CreateDirectoryA goes: 248 bytes less one.
  while (HostPath(deep.string()).size() + 11 < MAX_PATH - 12) deep /= "dddddddddd";
  fs::create_directories(deep);
  const std::string folder = HostPath(deep.string()) + kPlatformSeparator;
  ASSERT_GT(folder.size(), 236u);
  WriteFile(Source("desktop.ini"), "[.ShellClassInfo]");
  SetAttributes(Source("desktop.ini"), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  WriteFile(deep / "desktop.ini", "old");
  SetAttributes(deep / "desktop.ini", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);

  ASSERT_TRUE(ReplaceFileWithCopy(HostPath(source_.Text()), HeldFolder::Open(folder), "desktop.ini"));
  EXPECT_EQ(ReadFile(deep / "desktop.ini"), "[.ShellClassInfo]");
#ifdef _WIN32
  EXPECT_TRUE(Attributes(deep / "desktop.ini") & FILE_ATTRIBUTE_HIDDEN);
#endif
  EXPECT_EQ(std::distance(fs::directory_iterator(deep), fs::directory_iterator()), 1);
}

// An installed file that already is a copy of the source is kept: only
// the attributes a copy would have are given to it. Equal size and time
// with other bytes, or a file with another name, is no copy.
TEST_F(FileReplace, AnIdenticalCopyIsKept) {
  const std::string page(300000, 'p');
  std::string changed = page;
  changed[250000] = 'q';
  const auto plant = [&](const std::string& name, const std::string& installed) {
    WriteFile(Source(name), page);
    WriteFile(Installed(name), installed);
    testing_support::SetWriteTime(Source(name), testing_support::kTime);
    testing_support::SetWriteTime(Installed(name), testing_support::kTime);
  };
  plant("same.html", page);
  plant("changed.html", changed);
  plant("longer.html", page + "!");
  plant("linked.html", page);
  fs::create_hard_link(Installed("linked.html"), Installed("other-name.html"));
  SetAttributes(Source("same.html"), FILE_ATTRIBUTE_READONLY);

  const auto keep = [&](const std::string& name) {
    ListedFile listed;
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA(HostPath(Source(name).string()).c_str(), &found);
    EXPECT_NE(find, INVALID_HANDLE_VALUE) << name;
    FindClose(find);
    listed.attributes = found.dwFileAttributes;
    listed.size = (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
    listed.lastWriteTime = found.ftLastWriteTime;
    return KeepIdenticalCopy(HostPath(Source(name).string()),
                             HeldFolder::Open(HostPath(installed_.Text())), name, listed);
  };
  EXPECT_TRUE(keep("same.html"));
  EXPECT_TRUE(Attributes(Installed("same.html")) & FILE_ATTRIBUTE_READONLY);
  for (const char* name : {"changed.html", "longer.html", "linked.html"}) {
    EXPECT_FALSE(keep(name)) << name;
    ASSERT_TRUE(Replace(name)) << name;
    EXPECT_EQ(ReadFile(Installed(name)), page) << name;
  }
  EXPECT_EQ(ReadFile(Installed("other-name.html")), page);
  EXPECT_EQ(ReadFile(Installed("same.html")), page);
  SetAttributes(Installed("same.html"), FILE_ATTRIBUTE_NORMAL);
  SetAttributes(Source("same.html"), FILE_ATTRIBUTE_NORMAL);
}

// A replace that fails leaves the old file as it was and no temporary file.
TEST_F(FileReplace, FailureKeepsTheOldFile) {
  WriteFile(Source("page.html"), "new");
  WriteFile(Installed("page.html"), "old");
  SetAttributes(Installed("page.html"), FILE_ATTRIBUTE_READONLY);
  EXPECT_FALSE(Replace("page.html"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(ReadFile(Installed("page.html")), "old");
  SetAttributes(Installed("page.html"), FILE_ATTRIBUTE_NORMAL);

  fs::create_directory(Installed("folder.html"));
  WriteFile(Source("folder.html"), "new");
  EXPECT_FALSE(Replace("folder.html"));
  EXPECT_TRUE(fs::is_directory(Installed("folder.html")));
  EXPECT_FALSE(Replace("no-such-source.html"));
  EXPECT_EQ(Names(), (std::vector<std::string>{"folder.html", "page.html"}));

  // A call relative to a held folder takes one name of it: a separator
  // would look the rest up through whatever the first part is, and on
  // Windows a colon names a stream.
  fs::create_directory(Installed("sub"));
  WriteFile(Installed("sub") / "page.html", "inner");
  const HeldFolder folder = HeldFolder::Open(HostPath(installed_.Text()));
  EXPECT_TRUE(folder.OpenForReading("page.html").IsValid());
  for (const char* name : {"sub\\page.html", "sub/page.html"
#ifdef _WIN32
                           , "page.html:stream", "page.html::$DATA"
#endif
       }) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(folder.OpenForReading(name).IsValid());
  }
}

// The programs that hold a file, as a box or a report names them: the run
// itself and repeats left out, other programs' text on one line and cut
// short, the rest counted.
TEST(FileHolders, DescribedOnOneLineWithoutTheRunItself) {
  const DWORD own = 100;
  const std::string n64(64, 'n');
  const std::string accented = [] {
    std::string text = "x";
    for (int i = 0; i < 40; ++i) text += "\xC3\xA9";  // é
    return text;
  }();
  const struct {
    const char* name;
    std::vector<FileHolder> holders;
    std::string described;
  } cases[] = {
      {"none", {}, ""},
      {"only the run itself", {{own, "Quorvex.exe"}}, ""},
      {"one", {{4242, "hh.exe"}}, "hh.exe (process 4242)"},
      {"repeats and the run", {{7, "a"}, {own, "self"}, {7, "a"}, {8, "b"}},
       "a (process 7), b (process 8)"},
      {"no name", {{5, ""}}, "process 5"},
      {"line breaks and controls",
       {{9, "vi\r\nrm\t\xC2\x85x\xE2\x80\xA8y\xE2\x80\xA9"}},
       "vi\\x0D\\x0Arm\\x09\\u0085x\\u2028y\\u2029 (process 9)"},
      {"no UTF-8", {{3, "a\xFF\xC3" "b"}}, "a\\xFF\\xC3b (process 3)"},
      {"long", {{6, n64 + "tail"}}, n64 + "... (process 6)"},
      {"long, cut between characters",
       {{6, accented}},
       accented.substr(0, 63) + "... (process 6)"},
      {"more than are shown",
       {{1, "a"}, {2, "b"}, {own, "self"}, {3, "c"}, {4, "d"}, {4, "d"}, {5, "e"}},
       "a (process 1), b (process 2), c (process 3) and 2 more"},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    EXPECT_EQ(DescribeFileHolders(test.holders, own), test.described);
  }
}

// Another program holding a file is found with its name and process:
// natively from /proc; on Windows by the Restart Manager, which Wine only
// stubs (no one is named there). The run's own handle is never described.
TEST(FileHolders, AnotherProgramHoldingTheFileIsFound) {
  TempFolder folder;
  const fs::path page = folder.path() / "page.html";
  WriteFile(page, "page");
  ScopedHandle own(CreateFileA(HostPath(page.string()).c_str(), GENERIC_READ, FILE_SHARE_READ,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(own.IsValid());
  const std::string ownProcess = "process " + std::to_string(GetCurrentProcessId());
#ifdef _WIN32
  const std::vector<FileHolder> holders = FindFileHolders(HostPath(page.string()));
  EXPECT_EQ(DescribeFileHolders(holders, GetCurrentProcessId()).find(ownProcess),
            std::string::npos);
#else
  const testing_support::HoldingProcess viewer(page, "manual viewer");
  ASSERT_TRUE(viewer.holding());
  std::string windowsPath = page.string();
  std::replace(windowsPath.begin(), windowsPath.end(), '/', '\\');
  const std::vector<FileHolder> holders = FindFileHolders(windowsPath);
  ASSERT_EQ(holders.size(), 1u);
  EXPECT_EQ(holders[0].processId, static_cast<DWORD>(viewer.id()));
  EXPECT_EQ(holders[0].name, "manual viewer");
  const std::string described = DescribeFileHolders(holders, GetCurrentProcessId());
  EXPECT_EQ(described, "manual viewer (process " + std::to_string(viewer.id()) + ")");
  EXPECT_EQ(described.find(ownProcess), std::string::npos);
  EXPECT_TRUE(FindFileHolders((folder.path() / "other.html").string()).empty());
#endif
}

#ifdef _WIN32
// Another program holding the installed file open without delete sharing
// keeps it from being replaced: the replace waits for it a little, and
// gives up when it is held for longer.
TEST_F(FileReplace, DestinationHeldOpenIsWaitedForThenGivenUp) {
  WriteFile(Source("page.html"), "new");
  WriteFile(Installed("page.html"), "old");
  const auto hold = [&] {
    return ScopedHandle(CreateFileA(HostPath(Installed("page.html").string()).c_str(),
                                    GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
  };
  {
    ScopedHandle held = hold();
    ASSERT_TRUE(held.IsValid());
    EXPECT_FALSE(Replace("page.html"));
  }
  EXPECT_EQ(ReadFile(Installed("page.html")), "old");
  EXPECT_EQ(Names(), std::vector<std::string>{"page.html"});

  ScopedHandle held = hold();
  ASSERT_TRUE(held.IsValid());
  std::thread viewer([&] {
    Sleep(300);
    held.Reset();
  });
  EXPECT_TRUE(Replace("page.html"));
  viewer.join();
  EXPECT_EQ(ReadFile(Installed("page.html")), "new");
  EXPECT_EQ(Names(), std::vector<std::string>{"page.html"});
}
#endif

}  // namespace
