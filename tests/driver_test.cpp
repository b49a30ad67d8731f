#include <gtest/gtest.h>

#include "app/driver.h"
#include "support/kit.h"

using testing_support::Kit;

namespace {

const char kNoInstallDirectory[] = "Can not get the install directory!";

TEST(InstallDirectoryArgument, FirstLowerCasePSwitchWins) {
  char program[] = "Quorvex", a[] = "/Pupper", b[] = "x/pnot", c[] = "/pfirst", d[] = "/psecond";
  char* argv[] = {program, a, b, c, d};
  EXPECT_STREQ(FindInstallDirectoryArgument(5, argv), "first");
  EXPECT_EQ(FindInstallDirectoryArgument(3, argv), nullptr);
  char empty[] = "/p";
  char* alone[] = {program, empty};
  EXPECT_STREQ(FindInstallDirectoryArgument(2, alone), "");
  EXPECT_EQ(FindInstallDirectoryArgument(1, alone), nullptr);
}

TEST(Installer, WithoutInstallDirectoryExitsWithFive) {
  Kit kit;
  kit.WriteSettings("[Product]\nProductGUID={00000000-0000-0000-0000-0000000000A5}\nMessageDisplay=0\n");
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{}, {"/P" + kit.installFolder().string()}, {"/p"}, {"-p", "/x"}}) {
    auto result = kit.Run(arguments);
    EXPECT_EQ(result.exitCode, 5);
    EXPECT_EQ(result.output, kNoInstallDirectory);
  }
}

TEST(Installer, GetsPastTheInstallDirectoryWithSwitch) {
  Kit kit;
  kit.WriteSettings("[Product]\nProductGUID={00000000-0000-0000-0000-0000000000A6}\nMessageDisplay=0\n");
  auto result = kit.Run({"/p" + kit.installFolder().string(), "/pignored"});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.output, "");
}

#ifndef _WIN32
TEST(Installer, ProgramInAFolderTooLongForItsNameExitsWithSix) {
  Kit kit;
  fs::path deep = kit.folder();
  while (deep.string().size() < 300) deep /= std::string(40, 'd');
  fs::create_directories(deep);
  fs::copy_file(kit.executable(), deep / "Quorvex");
  auto result = testing_support::RunProgram((deep / "Quorvex").string(), {"/p/tmp"});
  EXPECT_EQ(result.exitCode, 6);
  EXPECT_EQ(result.output, "Can not get the work directory!");
}
#endif

}  // namespace
