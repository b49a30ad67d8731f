// The Win32 API as the installer uses it: the real one on Windows, our
// stand-in over POSIX elsewhere. Code above this layer includes only this.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <mbctype.h>
#include <stdlib.h>
#else
#include "posix/win32_standin.h"
#endif
