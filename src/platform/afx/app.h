// The small part of an application framework that a console program needs:
// the start-up, the application's name, and the application message box.
#pragma once

#include <string>

#include "platform/win32.h"

namespace afx {

// The framework's start-up for a console program: records the instance and
// the application name (the executable's base name), adds
// SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX to the process error mode
// and sets the runtime's multibyte code page to the system's ANSI code page.
// Returns false when the program's own module cannot be identified.
bool WinInit(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand);

// The executable's file name without folder and extension; empty before WinInit.
const std::string& AppName();

// Shows text in a box captioned with the application name and no owner.
// A box of type MB_OK, MB_OKCANCEL, MB_YESNOCANCEL or MB_YESNO that names no
// icon gets the exclamation icon.
int AppMessageBox(const char* text, UINT type, UINT helpContext);

}  // namespace afx
