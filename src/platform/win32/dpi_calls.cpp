#include "platform/win32/dpi_calls.h"

#include "platform/win32/proc_lookup.h"

namespace {

const int kEffectiveDpi = 0;  // MDT_EFFECTIVE_DPI
const UINT kDefaultDpi = 96;

struct WindowDpiCalls {
  UINT(WINAPI* getDpiForWindow)(HWND) = nullptr;
  BOOL(WINAPI* adjustWindowRectExForDpi)(RECT*, DWORD, BOOL, DWORD, UINT) = nullptr;
  BOOL(WINAPI* systemParametersInfoForDpi)(UINT, UINT, void*, UINT, UINT) = nullptr;
};

WindowDpiCalls Resolve() {
  WindowDpiCalls calls;
  const HMODULE user32 = GetModuleHandleW(L"user32.dll");
  if (!user32 || TestBuildDpiLookupFault() != DpiLookupFault::None) return calls;
  calls.getDpiForWindow = LookupProc<decltype(calls.getDpiForWindow)>(user32, "GetDpiForWindow");
  calls.adjustWindowRectExForDpi =
      LookupProc<decltype(calls.adjustWindowRectExForDpi)>(user32, "AdjustWindowRectExForDpi");
  calls.systemParametersInfoForDpi =
      LookupProc<decltype(calls.systemParametersInfoForDpi)>(user32, "SystemParametersInfoForDpi");
  return calls;
}

const WindowDpiCalls& Calls() {
  static const WindowDpiCalls calls = Resolve();
  return calls;
}

UINT SystemDpi() {
  HDC screen = GetDC(nullptr);
  if (!screen) return kDefaultDpi;
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<UINT>(dpi) : kDefaultDpi;
}

// The DPI of window's monitor from shcore (Windows 8.1), or 0. Only the
// system's own copy is loaded, never one from the program's folder.
UINT MonitorDpi(HWND window) {
  if (TestBuildDpiLookupFault() == DpiLookupFault::NoMonitorDpi) return 0;
  const HMODULE shcore = LoadLibraryExW(L"shcore.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!shcore) return 0;
  using GetDpiForMonitorCall = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
  UINT x = 0, y = 0;
  HRESULT result = E_FAIL;
  if (auto get = LookupProc<GetDpiForMonitorCall>(shcore, "GetDpiForMonitor")) {
    result = get(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), kEffectiveDpi, &x, &y);
  }
  FreeLibrary(shcore);
  return SUCCEEDED(result) ? y : 0;
}

}  // namespace

UINT DpiForWindow(HWND window) {
  if (Calls().getDpiForWindow) {
    if (const UINT dpi = Calls().getDpiForWindow(window)) return dpi;
  }
  const UINT dpi = MonitorDpi(window);
  return dpi ? dpi : SystemDpi();
}

BOOL AdjustWindowRectForDpi(RECT* rect, DWORD style, DWORD exStyle, UINT dpi) {
  if (Calls().adjustWindowRectExForDpi) {
    return Calls().adjustWindowRectExForDpi(rect, style, FALSE, exStyle, dpi);
  }
  return AdjustWindowRectEx(rect, style, FALSE, exStyle);
}

bool MessageFontForDpi(UINT dpi, LOGFONTW& font) {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  if (Calls().systemParametersInfoForDpi) {
    if (!Calls().systemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0,
                                             dpi)) {
      return false;
    }
    font = metrics.lfMessageFont;
    return true;
  }
  // Without the Dpi form the font comes at the system's DPI.
  if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) return false;
  font = metrics.lfMessageFont;
  font.lfHeight = MulDiv(font.lfHeight, static_cast<int>(dpi), static_cast<int>(SystemDpi()));
  return true;
}
