#include "platform/afx/app.h"

namespace afx {
namespace {

std::string appName;

std::string ModuleBaseName() {
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (length == 0) return {};
  if (length >= MAX_PATH) path[MAX_PATH - 1] = '\0';
  char drive[_MAX_DRIVE], dir[_MAX_DIR], name[_MAX_FNAME], ext[_MAX_EXT];
  _splitpath(path, drive, dir, name, ext);
  return name;
}

}  // namespace

bool WinInit(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  if (!instance) return false;
  _setmbcp(_MB_CP_ANSI);
  SetErrorMode(SetErrorMode(0) | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  appName = ModuleBaseName();
  return true;
}

const std::string& AppName() { return appName; }

int AppMessageBox(const char* text, UINT type, UINT) {
  if ((type & MB_ICONMASK) == 0) {
    switch (type & MB_TYPEMASK) {
      case MB_OK:
      case MB_OKCANCEL:
      case MB_YESNO:
      case MB_YESNOCANCEL:
        type |= MB_ICONEXCLAMATION;
        break;
    }
  }
  return MessageBoxA(nullptr, text, appName.c_str(), type);
}

}  // namespace afx
