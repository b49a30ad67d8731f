#include "ui/console_window.h"

HWND FindConsoleWindow() {
  char savedTitle[1024];
  if (!GetConsoleTitleA(savedTitle, sizeof savedTitle)) savedTitle[0] = '\0';

  char temporaryTitle[64];
  wsprintfA(temporaryTitle, "%d/%d", static_cast<int>(GetTickCount()),
            static_cast<int>(GetCurrentProcessId()));
  SetConsoleTitleA(temporaryTitle);
  Sleep(40);  // let the title reach the window
  HWND window = FindWindowA(nullptr, temporaryTitle);
  SetConsoleTitleA(savedTitle);
  return window;
}
