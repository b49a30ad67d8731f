// The installer's message texts as the user must see them (UTF-8 here), and
// conversion of such texts into a code page with the platform's own tools.
#pragma once

#include <string>
#include <vector>

namespace testing_support {

struct MessageText {
  unsigned id;
  const char* english;
  const char* japanese;
};

inline constexpr MessageText kMessageTexts[] = {
    {103, "Quorvex", "Quorvex"},
    {104, "file %s is already exist.\nMay the file be overwrited?",
     "ファイル %s は既に存在します\n上書きしてよろしいですか？"},
    {105, "A later version is already installed on the this machine.\nThe setup cannot continue.",
     "このマシンには、より新しいバージョンがインストールされています。\n"
     "セットアップを続行することはできません。"},
    {106, "The setup was completed. ", "セットアップが完了しました。"},
    {107, "Installing the manual of %s", "%s のマニュアルをインストールしています"},
    {108, "Do not interrupt the setup: what it has copied cannot be undone.",
     "セットアップを中断しないでください。コピーしたファイルは元に戻せません。"},
    {109, "%s of %s files, %s of %s", "%s / %s ファイル、%s / %s"},
    {110, "Counting the files of the manual...", "マニュアルのファイルを数えています..."},
    {111, "The manual of %s is being installed.", "%s のマニュアルをインストールしています。"},
    {112, "Could not create the folder\n%s",
     "フォルダーを作成できませんでした:\n%s"},
    {113, "Could not write the file\n%s",
     "ファイルを書き込めませんでした:\n%s"},
    {114, "%s is not installed on this machine: there is no folder to install its manual into.",
     "このマシンに %s がインストールされていません。マニュアルをインストールするフォルダーがありません。"},
    {115, "Could not read or record what the setup installs:\n%s",
     "セットアップがインストールする内容を読み取るか記録することができませんでした:\n%s"},
    {116, "It is held open by: %s",
     "このファイルを開いているプログラム: %s"},
    {117, "There is not enough free space on the disk of\n%s\n%s is needed, %s is free. Nothing was written.",
     "次のディスクの空き領域が足りません:\n%s\n必要: %s、空き: %s。何も書き込んでいません。"},
    {118, "The setup stopped with exit code %s.",
     "セットアップは終了コード %s で停止しました。"},
    {119, "Close the program that holds the file, then choose Retry. Cancel stops the setup with exit code %s.",
     "ファイルを開いているプログラムを閉じてから [再試行] を選んでください。[キャンセル] を選ぶと、セットアップは終了コード %s で停止します。"},
    {120, "Neither Quorvex.ini nor SRC is beside this program: it installs nothing.",
     "このプログラムと同じフォルダーに Quorvex.ini も SRC もありません。何もインストールしません。"},
};

// utf8 converted into codePage (932, 1252, 65001) by the system's own
// converter (the Win32 API on Windows, iconv elsewhere).
std::string ToCodePage(const std::string& utf8, unsigned codePage);

#ifndef _WIN32
// Sets LANG, LC_MESSAGES and LC_ALL (an empty value counts as unset) and
// clears LC_CTYPE for the life of the object; the stand-in reads them on
// every call.
class ScopedLocaleVariables {
 public:
  explicit ScopedLocaleVariables(const char* lang, const char* messages = "",
                                 const char* all = "");
  ~ScopedLocaleVariables();
  ScopedLocaleVariables(const ScopedLocaleVariables&) = delete;
  ScopedLocaleVariables& operator=(const ScopedLocaleVariables&) = delete;

 private:
  struct Saved {
    const char* name;
    bool set;
    std::string value;
  };
  std::vector<Saved> saved_;
};
#endif

}  // namespace testing_support
