// The DPI calls of Windows 10 1607 and later, looked up when first needed
// so that the programs start on earlier Windows too. There the window takes
// its monitor's DPI where Windows 8.1 tells it (GetDpiForMonitor), else the
// system's, and the frame and the font come from the calls without the Dpi
// forms.
#pragma once

#include "platform/win32.h"

// The DPI that window is laid out for.
UINT DpiForWindow(HWND window);

// AdjustWindowRectExForDpi, or AdjustWindowRectEx: where the system has no
// Dpi form, it draws the frame at the system's DPI on every monitor.
BOOL AdjustWindowRectForDpi(RECT* rect, DWORD style, DWORD exStyle, UINT dpi);

// The system's message font at dpi.
bool MessageFontForDpi(UINT dpi, LOGFONTW& font);

// Which calls the test-only build acts as if Windows lacked, from
// QUORVEX_FAULT_DPI_LOOKUP: 1 those of Windows 10 1607 (as on Windows 8.1),
// 2 GetDpiForMonitor too (as on Windows 7). The shipped programs never do.
enum class DpiLookupFault { None, NoWindowDpi, NoMonitorDpi };
DpiLookupFault TestBuildDpiLookupFault();
