// Finds the program's console window without any console-specific window
// query: the console gets a temporary title for a moment, and the top-level
// window carrying that title is the console.
#pragma once

#include "platform/win32.h"

// The console window, or null when no window carries the temporary title.
HWND FindConsoleWindow();
