// The message boxes of the Linux build, which the stand-in writes to
// standard error: in-process for their exact form, and from the real
// program for what a run shows. (The Windows build's boxes are checked on a
// display by tests/wine/message_boxes.sh.)
#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "platform/afx/app.h"
#include "platform/win32.h"
#include "support/kit.h"
#include "support/messages.h"
#include "ui/message_boxes.h"

using testing_support::Kit;
using testing_support::ReadFile;
using testing_support::ScopedLocaleVariables;
using testing_support::TempFolder;

namespace {

// Sends a file descriptor to a file (or reads it from one) for the life of
// the object.
class ScopedRedirect {
 public:
  ScopedRedirect(int fd, const std::string& path, int flags)
      : fd_(fd), saved_(dup(fd)) {
    fflush(nullptr);
    int file = open(path.c_str(), flags, 0644);
    dup2(file, fd_);
    close(file);
  }
  ~ScopedRedirect() {
    fflush(nullptr);
    dup2(saved_, fd_);
    close(saved_);
  }

 private:
  int fd_;
  int saved_;
};

// What the boxes shown by show() wrote to standard error; standard input is
// not a terminal meanwhile.
template <typename Show>
std::string BoxOutput(Show show) {
  TempFolder folder;
  const std::string path = (folder.path() / "stderr").string();
  {
    ScopedRedirect input(STDIN_FILENO, "/dev/null", O_RDONLY);
    ScopedRedirect errors(STDERR_FILENO, path, O_WRONLY | O_CREAT | O_TRUNC);
    show();
  }
  return ReadFile(path);
}

TEST(MessageBoxes, CompletionBox) {
  ScopedLocaleVariables english("en_US.UTF-8");
  EXPECT_EQ(BoxOutput(ShowCompletionBox), "[Quorvex] The setup was completed. \n");
  ScopedLocaleVariables japanese("ja_JP.UTF-8");
  EXPECT_EQ(BoxOutput(ShowCompletionBox), "[Quorvex] セットアップが完了しました。\n");
}

TEST(MessageBoxes, RefusalBoxIsCaptionedWithTheProgramName) {
  ASSERT_TRUE(afx::WinInit(GetModuleHandleA(nullptr), nullptr, GetCommandLineA(), 0));
  ScopedLocaleVariables english("en_US.UTF-8");
  EXPECT_EQ(BoxOutput(ShowRefusalBox),
            "[message_boxes_test] A later version is already installed on the this machine.\n"
            "The setup cannot continue.\n");
}

TEST(MessageBoxes, OverwritePromptNamesThePathAndAnswersNoWithoutATerminal) {
  ScopedLocaleVariables english("en_US.UTF-8");
  bool answer = true;
  // The path is text, never a format, even where it looks like one.
  const std::string path = "/srv/manual/100%s %d.html";
  EXPECT_EQ(BoxOutput([&] { answer = AskOverwrite(path); }),
            "[] file " + path + " is already exist.\nMay the file be overwrited?\n");
  EXPECT_FALSE(answer);

  ScopedLocaleVariables japanese("ja_JP.UTF-8");
  EXPECT_EQ(BoxOutput([&] { answer = AskOverwrite("/srv/a.html"); }),
            "[] ファイル /srv/a.html は既に存在します\n上書きしてよろしいですか？\n");
  EXPECT_FALSE(answer);
}

const char kRefusedEnglish[] =
    "A later version is already installed on the this machine.\nThe setup cannot continue.";
const char kRefusedJapanese[] =
    "このマシンには、より新しいバージョンがインストールされています。\n"
    "セットアップを続行することはできません。";

testing_support::Environment Locale(const char* lang) {
  return {{"LANG", lang}, {"LC_ALL", ""}, {"LC_MESSAGES", ""}, {"LC_CTYPE", ""}};
}

// The second run of the same version is refused whatever the registry held.
TEST(InstallerMessages, RefusalBoxOnStandardErrorWithExitCodeSeven) {
  Kit kit;
  kit.WriteSettings("[Product]\nProductGUID={00000000-0000-0000-0000-0000000000B1}\n"
                    "ManualVersion=2.0\nMessageDisplay=1\n");
  const std::string install = "/p" + kit.installFolder().string();
  kit.Run({install}, Locale("en_US.UTF-8"));

  auto english = kit.Run({install}, Locale("en_US.UTF-8"));
  EXPECT_EQ(english.exitCode, 7);
  EXPECT_EQ(english.output, "");
  EXPECT_EQ(english.errors, std::string("[Quorvex] ") + kRefusedEnglish + "\n");

  auto japanese = kit.Run({install}, Locale("ja_JP.UTF-8"));
  EXPECT_EQ(japanese.exitCode, 7);
  EXPECT_EQ(japanese.errors, std::string("[Quorvex] ") + kRefusedJapanese + "\n");

  // In a Shift_JIS locale the text comes in code page 932.
  auto shiftJis = kit.Run({install}, Locale("ja_JP.SJIS"));
  EXPECT_EQ(shiftJis.exitCode, 7);
  EXPECT_EQ(shiftJis.errors,
            "[Quorvex] " + testing_support::ToCodePage(kRefusedJapanese, 932) + "\n");
}

TEST(InstallerMessages, RenamedProgramCaptionsTheRefusalBoxWithItsName) {
  Kit kit;
  kit.WriteSettings("[Product]\nProductGUID={00000000-0000-0000-0000-0000000000B2}\n"
                    "ManualVersion=2.0\nMessageDisplay=1\n");
  kit.RenameProgram("ManualSetup.bin");
  const std::string install = "/p" + kit.installFolder().string();
  kit.Run({install}, Locale("en_US.UTF-8"));
  auto result = kit.Run({install}, Locale("en_US.UTF-8"));
  EXPECT_EQ(result.exitCode, 7);
  EXPECT_EQ(result.errors, std::string("[ManualSetup] ") + kRefusedEnglish + "\n");
}

TEST(InstallerMessages, MessageDisplayZeroShowsNothing) {
  Kit kit;
  kit.WriteSettings("[Product]\nProductGUID={00000000-0000-0000-0000-0000000000B3}\n"
                    "ManualVersion=2.0\nMessageDisplay=0\n");
  const std::string install = "/p" + kit.installFolder().string();
  for (int run = 0; run < 2; ++run) {
    auto result = kit.Run({install}, Locale("en_US.UTF-8"));
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.errors, "");
  }
}

// Whether the stand-in registry can record a version in a hive file.
bool RegistryCanRecordVersions() {
  TempFolder folder;
  const std::string hive = (folder.path() / "HKLM.reg").string();
  const char* saved = getenv("QUORVEX_HKLM");
  const std::string savedValue = saved ? saved : "";
  setenv("QUORVEX_HKLM", hive.c_str(), 1);
  HKEY key = nullptr;
  DWORD disposition = 0;
  const LONG result = RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\QuorvexProbe", 0, nullptr,
                                      REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                                      &disposition);
  if (result == ERROR_SUCCESS) RegCloseKey(key);
  if (saved) {
    setenv("QUORVEX_HKLM", savedValue.c_str(), 1);
  } else {
    unsetenv("QUORVEX_HKLM");
  }
  return result == ERROR_SUCCESS;
}

TEST(InstallerMessages, CompletionBoxAfterACompleteCopy) {
  if (!RegistryCanRecordVersions()) {
    GTEST_SKIP() << "the stand-in registry cannot create keys yet";
  }
  Kit kit;
  kit.WriteSettings("[Product]\nProductGUID={00000000-0000-0000-0000-0000000000B4}\n"
                    "ManualVersion=2.0\nMessageDisplay=1\n");
  // No SRC: nothing to copy, which completes.
  const std::string install = "/p" + kit.installFolder().string();
  auto english = kit.Run({install}, Locale("en_US.UTF-8"));
  EXPECT_EQ(english.exitCode, 0);
  EXPECT_EQ(english.errors, "[Quorvex] The setup was completed. \n");

  Kit renamed;
  renamed.WriteSettings("[Product]\nProductGUID={00000000-0000-0000-0000-0000000000B5}\n"
                        "ManualVersion=2.0\nMessageDisplay=1\n");
  renamed.RenameProgram("ManualSetup.bin");
  auto japanese = renamed.Run({"/p" + renamed.installFolder().string()}, Locale("ja_JP.UTF-8"));
  EXPECT_EQ(japanese.exitCode, 0);
  EXPECT_EQ(japanese.errors, "[Quorvex] セットアップが完了しました。\n");
}

}  // namespace
