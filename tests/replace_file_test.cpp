// Replacing a file with a complete copy, through the real Win32 calls under
// Wine and the stand-in natively: the destination's name shows the old file
// or the new one, never a part, and no temporary file stays behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "platform/replace_file.h"
#include "platform/scoped_handle.h"
#include "support/kit.h"

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
    return ReplaceFileWithCopy(HostPath(source_.Text()), HostPath(installed_.Text()), name);
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
  EXPECT_FALSE(ReplaceFileWithCopy(HostPath(source_.Text()),
                                   HostPath((installed_.path() / "missing").string()) + "\\",
                                   "new.html"));
  SetAttributes(Source("page.html"), FILE_ATTRIBUTE_NORMAL);
}

// A run killed during a copy leaves its temporary file, under the name that
// the next run writing that file uses: that run takes it over, even when
// it is read-only (and, on Windows, hidden).
TEST_F(FileReplace, TakesOverWhatAKilledRunLeft) {
  WriteFile(Source("page.html"), "complete");
  const std::string temporary = TemporaryCopyName(HostPath(source_.Text()), "page.html");
  EXPECT_EQ(temporary, ".page.html.quorvex-partial");
  WriteFile(Installed(temporary), "comp");
  SetAttributes(Installed(temporary), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);

  ASSERT_TRUE(Replace("page.html"));
  EXPECT_EQ(ReadFile(Installed("page.html")), "complete");
  EXPECT_EQ(Names(), std::vector<std::string>{"page.html"});
}

// The temporary name never stands for a file of the manual: should the
// manual hold a file of that name, another one is taken.
TEST_F(FileReplace, TemporaryNameIsNoFileOfTheManual) {
  WriteFile(Source("a.html"), "a");
  WriteFile(Source(".a.html.quorvex-partial"), "a page of the manual");
  const std::string temporary = TemporaryCopyName(HostPath(source_.Text()), "a.html");
  EXPECT_EQ(temporary, ".a.html.quorvex-partial~");
  EXPECT_NE(TemporaryCopyName(HostPath(source_.Text()), ".a.html.quorvex-partial"), temporary);

  WriteFile(Installed(".a.html.quorvex-partial"), "a page of the manual");
  ASSERT_TRUE(Replace("a.html"));
  EXPECT_EQ(ReadFile(Installed(".a.html.quorvex-partial")), "a page of the manual");
  EXPECT_EQ(Names(), (std::vector<std::string>{".a.html.quorvex-partial", "a.html"}));
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
}

#ifdef _WIN32
// Another program holding the installed file open without delete sharing
// keeps it from being replaced.
TEST_F(FileReplace, DestinationHeldOpenWithoutDeleteSharingFails) {
  WriteFile(Source("page.html"), "new");
  WriteFile(Installed("page.html"), "old");
  {
    ScopedHandle held(CreateFileA(HostPath(Installed("page.html").string()).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                  nullptr));
    ASSERT_TRUE(held.IsValid());
    EXPECT_FALSE(Replace("page.html"));
  }
  EXPECT_EQ(ReadFile(Installed("page.html")), "old");
  EXPECT_EQ(Names(), std::vector<std::string>{"page.html"});
  ASSERT_TRUE(Replace("page.html"));
  EXPECT_EQ(ReadFile(Installed("page.html")), "new");
}
#endif

}  // namespace
