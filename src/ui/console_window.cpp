#include "ui/console_window.h"

HWND FindConsoleWindow() { return GetConsoleWindow(); }
