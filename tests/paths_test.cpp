#include <gtest/gtest.h>

#include "paths/paths.h"
#include "platform/win32.h"
#include "support/kit.h"

namespace {

// Switches the runtime to the Japanese code page for one test.
class Cp932 : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(_setmbcp(932), 0); }
  void TearDown() override { _setmbcp(_MB_CP_ANSI); }
};

std::string WithSeparator(std::string path) {
  EnsureTrailingSeparator(path);
  return path;
}

TEST(EnsureTrailingSeparator, AppendsOnlyWhenMissing) {
  EXPECT_EQ(WithSeparator(""), "\\");
  EXPECT_EQ(WithSeparator("C:\\Docs"), "C:\\Docs\\");
  EXPECT_EQ(WithSeparator("C:\\Docs\\"), "C:\\Docs\\");
  EXPECT_EQ(WithSeparator("C:/Docs/"), "C:/Docs/");
  EXPECT_EQ(WithSeparator("/opt/orvinel"), "/opt/orvinel\\");
}

TEST(LastCharacter, SingleByteTexts) {
  EXPECT_EQ(LastCharacter(""), 0);
  EXPECT_EQ(LastCharacter("a"), 'a');
  EXPECT_EQ(LastCharacter("C:\\"), '\\');
}

TEST_F(Cp932, SecondByteBackslashIsNotASeparator) {
  // "表" is 0x95 0x5C in code page 932.
  const std::string folder = "C:\\\x95\x5C";
  EXPECT_EQ(LastCharacter(folder.c_str()), 0x955C);
  EXPECT_EQ(WithSeparator(folder), folder + "\\");
  // A real separator after a double-byte character still counts.
  EXPECT_EQ(WithSeparator(folder + "\\"), folder + "\\");
  // A dangling lead byte before the end is never a separator.
  EXPECT_EQ(WithSeparator("abc\x81"), "abc\x81\\");
}

TEST_F(Cp932, WalkSkipsTrailBytesOfEveryCharacter) {
  // "ソ\" : 0x83 0x5C then a real backslash, then "ソ" again.
  EXPECT_EQ(LastCharacter("\x83\x5C\\\x83\x5C"), 0x835C);
  EXPECT_EQ(LastCharacter("\x83\x5C\\"), '\\');
}

TEST(FoldersAlong, EveryFolderFromTheTopWithoutRootsOrShares) {
  using Folders = std::vector<std::string>;
  EXPECT_EQ(FoldersAlong("C:\\Orvinel\\docs\\"), (Folders{"C:\\Orvinel", "C:\\Orvinel\\docs"}));
  EXPECT_EQ(FoldersAlong("C:\\Orvinel/docs"), (Folders{"C:\\Orvinel", "C:\\Orvinel/docs"}));
  EXPECT_EQ(FoldersAlong("C:\\"), Folders{});
  EXPECT_EQ(FoldersAlong("\\\\server\\share\\manual\\"), Folders{"\\\\server\\share\\manual"});
  EXPECT_EQ(FoldersAlong("/srv/public/manual"), (Folders{"/srv", "/srv/public", "/srv/public/manual"}));
  EXPECT_EQ(FoldersAlong("manual\\"), Folders{"manual"});
}

TEST_F(Cp932, FoldersAlongSkipTrailBytes) {
  // "表" is 0x95 0x5C: its second byte separates nothing.
  EXPECT_EQ(FoldersAlong("C:\\\x95\x5C\\a"),
            (std::vector<std::string>{"C:\\\x95\x5C", "C:\\\x95\x5C\\a"}));
}

TEST(GetProgramDirectory, IsTheExecutablesFolderWithSeparator) {
  std::string directory;
  ASSERT_TRUE(GetProgramDirectory(directory));
  ASSERT_FALSE(directory.empty());
  EXPECT_TRUE(directory.back() == '\\' || directory.back() == '/');
  EXPECT_TRUE(fs::exists(fs::path(directory) / fs::path(QUORVEX_EXE).filename()));
}

}  // namespace
