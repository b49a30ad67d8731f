// The message boxes of the Linux build, which the stand-in writes to
// standard error: in-process for their exact form, and from the real
// program for what a run shows, the line of progress on a terminal
// included. (The Windows build's boxes are checked on a
// display by tests/wine/message_boxes.sh.)
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <stdlib.h>
#include <sys/wait.h>
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


// What a program writes to standard error when that is a pseudo-terminal
// (standard output goes nowhere); the terminal turns "\n" into "\r\n".
std::string ErrorsOnTerminal(const std::string& program, const std::vector<std::string>& arguments,
                             const testing_support::Environment& environment) {
  int terminal = -1;
  const pid_t child = forkpty(&terminal, nullptr, nullptr, nullptr);
  if (child == 0) {
    const int nowhere = open("/dev/null", O_RDWR);
    dup2(nowhere, STDIN_FILENO);
    dup2(nowhere, STDOUT_FILENO);
    for (const auto& [name, value] : environment) setenv(name.c_str(), value.c_str(), 1);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  std::string written;
  char buffer[4096];
  for (ssize_t got; (got = read(terminal, buffer, sizeof buffer)) > 0;) written.append(buffer, got);
  close(terminal);
  int status = 0;
  waitpid(child, &status, 0);
  return written;
}

// An interactive run on a terminal shows its progress on one line, and
// clears it before the completion box; redirected, or silent, nothing of
// it is written.
TEST(InstallerMessages, AnInteractiveRunOnATerminalShowsItsProgressLine) {
  Kit kit;
  kit.WriteSettings("[Product]\nProductGUID={00000000-0000-0000-0000-0000000000B6}\n"
                    "ManualVersion=2.0\nMessageDisplay=1\nProduct=Orvinel\n");
  kit.AddSourceFile("index.html", "<index>");
  kit.AddSourceFile("guide/start.html", "start");
  fs::create_directories(kit.installFolder());
  // The line is drawn at once rather than after a second.
  testing_support::Environment now = Locale("en_US.UTF-8");
  now.emplace_back("QUORVEX_FAULT_PROGRESS_AT", "0");
  now.emplace_back("QUORVEX_HKLM", kit.HivePath().string());
  const std::string install = "/p" + kit.installFolder().string();

  const std::string shown = ErrorsOnTerminal(kit.executable().string(), {install}, now);
  EXPECT_NE(shown.find("\rOrvinel: 0 of 2 files, 0.0 MB of 0.0 MB: guide/start.html"),
            std::string::npos)
      << shown;
  EXPECT_NE(shown.find("\rOrvinel: 1 of 2 files, 0.0 MB of 0.0 MB: index.html"), std::string::npos)
      << shown;
  const size_t box = shown.find("[Quorvex] The setup was completed.");
  ASSERT_NE(box, std::string::npos) << shown;
  // Blanked, as wide as the widest line, and the cursor back at the start
  // before the box.
  ASSERT_EQ(shown[box - 1], '\r');
  const size_t blank = shown.rfind('\r', box - 2);
  EXPECT_EQ(shown.find_first_not_of(' ', blank + 1), box - 1) << shown;
  EXPECT_GE(box - blank - 2, std::string("Orvinel: 0 of 2 files, 0.0 MB of 0.0 MB: guide/start.html").size());

  kit.WriteSettings("[Product]\nProductGUID={00000000-0000-0000-0000-0000000000B6}\n"
                    "ManualVersion=2.1\nMessageDisplay=1\nProduct=Orvinel\n");
  const auto redirected = kit.Run({install}, now);
  EXPECT_EQ(redirected.errors, "[Quorvex] The setup was completed. \n");

  kit.WriteSettings("[Product]\nProductGUID={00000000-0000-0000-0000-0000000000B6}\n"
                    "ManualVersion=2.2\nMessageDisplay=0\nProduct=Orvinel\n");
  EXPECT_EQ(ErrorsOnTerminal(kit.executable().string(), {install}, now), "");
}

// QuorvexKit shows such a line for its verbs too, and --quiet or JSON on
// the terminal turn it off.
TEST(InstallerMessages, QuorvexKitShowsItsProgressLineUnlessQuiet) {
  Kit kit;
  kit.WriteSettings("[Product]\nProductGUID={00000000-0000-0000-0000-0000000000B7}\n"
                    "ManualVersion=2.0\nMessageDisplay=0\n");
  kit.AddSourceFile("index.html", "<index>");
  testing_support::Environment now = Locale("en_US.UTF-8");
  now.emplace_back("QUORVEX_FAULT_PROGRESS_AT", "0");
  now.emplace_back("QUORVEX_HKLM", kit.HivePath().string());
  const std::string program = testing_support::QuorvexKitExecutable();
  const std::string folder = kit.kitFolder().string();
  for (const char* verb : {"check", "plan", "verify"}) {
    std::vector<std::string> arguments{verb, folder};
    if (std::string(verb) != "check") arguments.push_back("/p" + kit.installFolder().string());
    const std::string shown = ErrorsOnTerminal(program, arguments, now);
    EXPECT_NE(shown.find(std::string("\rQuorvexKit ") + verb + ": 1 files: index.html"),
              std::string::npos)
        << verb << ": " << shown;
    EXPECT_EQ(shown.find_first_not_of(" \r"), shown.find("QuorvexKit")) << shown;
    arguments.push_back("--quiet");
    EXPECT_EQ(ErrorsOnTerminal(program, arguments, now), "") << verb;
  }
}

}  // namespace
