// The console window lookup over the platform's real console title.
#include <gtest/gtest.h>

#include <string>

#include "platform/win32.h"
#include "ui/console_window.h"

namespace {

std::string ConsoleTitle() {
  char title[1024] = {};
  GetConsoleTitleA(title, sizeof title);
  return title;
}

#ifdef _WIN32
// A console with a window of its own (Wine gives one only on a display;
// tests/wine/message_boxes.sh runs this test there).
bool OpenWindowedConsole() {
  if (GetConsoleWindow()) return true;
  FreeConsole();
  return AllocConsole() && GetConsoleWindow() && SetConsoleTitleA("probe");
}
#endif

TEST(FindConsoleWindow, LeavesTheConsoleTitleAsItWas) {
#ifdef _WIN32
  if (!OpenWindowedConsole()) GTEST_SKIP() << "no console window without a display";
#endif
  for (const char* title : {"Quorvex console test", "a/b 12/34", ""}) {
    ASSERT_TRUE(SetConsoleTitleA(title));
    HWND window = FindConsoleWindow();
#ifdef _WIN32
    EXPECT_EQ(window, GetConsoleWindow());
#else
    EXPECT_EQ(window, nullptr);
#endif
    EXPECT_EQ(ConsoleTitle(), title);
  }
}

#ifndef _WIN32
TEST(FindConsoleWindow, HidingTheMissingWindowDoesNothing) {
  EXPECT_FALSE(ShowWindow(FindConsoleWindow(), SW_HIDE));
}
#endif

}  // namespace
