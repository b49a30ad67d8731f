// The program's console window: the one the system gives the console, never
// a window looked up by its title, which any program on the desktop could
// copy.
#pragma once

#include "platform/win32.h"

// The console window, or null when the console has none.
HWND FindConsoleWindow();
