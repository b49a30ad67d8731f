// A function of a module loaded at run time, under the type it is called as.
#pragma once

#include "platform/win32.h"

template <typename Function>
Function LookupProc(HMODULE module, const char* name) {
  // Through void (*)(void), which any function pointer converts to.
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}
