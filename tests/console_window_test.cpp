// The console window: the console's own, never a window found by its
// title; on Windows, the progress window of a run that another program
// holds.
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

#else
// No console window natively: none is found, and hiding it does nothing.
TEST(FindConsoleWindow, NoneNativelyAndHidingItDoesNothing) {
  EXPECT_EQ(FindConsoleWindow(), nullptr);
  EXPECT_FALSE(ShowWindowAsync(FindConsoleWindow(), SW_HIDE));
}
#endif

}  // namespace
