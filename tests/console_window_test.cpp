// The console window: the console's own, never a window found by its
// title; on Windows, the progress window of a run that another program
// holds, and the programs that message_boxes.sh needs beside a run: a
// viewer holding a page, a window station without a display.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <string>

#include "platform/win32.h"
#include "ui/console_window.h"

namespace {

#ifdef _WIN32
std::string ConsoleTitle() {
  char title[1024] = {};
  GetConsoleTitleA(title, sizeof title);
  return title;
}

// A console with a window of its own (Wine gives one only on a display;
// tests/wine/message_boxes.sh runs this test there).
bool OpenWindowedConsole() {
  if (GetConsoleWindow()) return true;
  FreeConsole();
  return AllocConsole() && GetConsoleWindow() && SetConsoleTitleA("probe");
}

// Another top-level window that carries the console's title is never taken
// for the console, and the title stays as it was.
TEST(FindConsoleWindow, IsTheConsolesOwnWindowWhateverElseHasItsTitle) {
  if (!OpenWindowedConsole()) GTEST_SKIP() << "no console window without a display";
  for (const char* title : {"Quorvex console test", "a/b 12/34", ""}) {
    ASSERT_TRUE(SetConsoleTitleA(title));
    HWND decoy = CreateWindowExA(0, "STATIC", title, WS_OVERLAPPED, 0, 0, 10, 10, nullptr,
                                 nullptr, GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(decoy, nullptr);
    EXPECT_EQ(FindConsoleWindow(), GetConsoleWindow()) << title;
    EXPECT_EQ(ConsoleTitle(), title);
    DestroyWindow(decoy);
  }
}

// While a run that tests/wine/message_boxes.sh holds at a harness point
// shows its progress window, the window answers within Windows' hung
// threshold: its thread is not the copy's, which is busy.
TEST(ProgressWindow, AnswersWhileTheRunIsBusy) {
  const char* caption = getenv("QUORVEX_PROGRESS_WINDOW");
  if (!caption) GTEST_SKIP() << "no held run shows a progress window (message_boxes.sh holds one)";
  HWND window = FindWindowW(L"QuorvexProgress", nullptr);
  ASSERT_NE(window, nullptr);
  DWORD_PTR answer = 0;
  EXPECT_NE(SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &answer), 0);
  char text[256] = {};
  ASSERT_NE(SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                                SMTO_ABORTIFHUNG, 5000, &answer),
            0);
  EXPECT_EQ(std::string(text), caption);
}

// A viewer that holds a page open without sharing it for writing or
// deleting, until the file QUORVEX_RELEASE appears: the program that the
// failure box's Retry waits for (message_boxes.sh).
TEST(HeldPage, IsHeldUntilReleased) {
  const char* page = getenv("QUORVEX_HOLD_PAGE");
  const char* release = getenv("QUORVEX_RELEASE");
  if (!page || !release) GTEST_SKIP() << "no page to hold (message_boxes.sh names one)";
  HANDLE held = CreateFileA(page, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE) << GetLastError();
  const std::string heldMark = std::string(release) + ".held";
  CloseHandle(CreateFileA(heldMark.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr));
  for (int polls = 0; polls < 1200 && GetFileAttributesA(release) == INVALID_FILE_ATTRIBUTES;
       ++polls) {
    Sleep(100);
  }
  CloseHandle(held);
}

// Runs the command QUORVEX_HIDDEN_RUN on a window station of its own,
// which has no display, as a run in session 0 has none; its exit code goes
// to the file QUORVEX_HIDDEN_EXIT.
TEST(HiddenStation, RunsTheCommandThere) {
  const char* command = getenv("QUORVEX_HIDDEN_RUN");
  const char* exitFile = getenv("QUORVEX_HIDDEN_EXIT");
  if (!command || !exitFile) GTEST_SKIP() << "no command to run (message_boxes.sh gives one)";
  HWINSTA station = CreateWindowStationA("QuorvexHidden", 0, WINSTA_ALL_ACCESS, nullptr);
  ASSERT_NE(station, nullptr) << GetLastError();
  USEROBJECTFLAGS flags{};
  DWORD needed = 0;
  ASSERT_TRUE(GetUserObjectInformationA(station, UOI_FLAGS, &flags, sizeof flags, &needed));
  EXPECT_EQ(flags.dwFlags & WSF_VISIBLE, 0u);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  char desktop[] = "QuorvexHidden\\Default";
  startup.lpDesktop = desktop;
  std::string line = command;
  PROCESS_INFORMATION process{};
  ASSERT_TRUE(CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             &startup, &process))
      << GetLastError();
  ASSERT_EQ(WaitForSingleObject(process.hProcess, 120000), WAIT_OBJECT_0);
  DWORD exitCode = 0;
  GetExitCodeProcess(process.hProcess, &exitCode);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  CloseWindowStation(station);
  const std::string text = std::to_string(exitCode);
  HANDLE file = CreateFileA(exitFile, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
}

#else
// No console window natively: none is found, and hiding it does nothing.
TEST(FindConsoleWindow, NoneNativelyAndHidingItDoesNothing) {
  EXPECT_EQ(FindConsoleWindow(), nullptr);
  EXPECT_FALSE(ShowWindowAsync(FindConsoleWindow(), SW_HIDE));
}
#endif

}  // namespace
