// What a program that runs elevated sets up before anything else.
#pragma once

#include "platform/win32.h"

// On Windows: DLLs that the system loads on demand come from System32 only,
// never from the program's folder (a Downloads folder may hold anything),
// and, where the system has Redirection Guard (Windows 11 22H2 and later),
// junctions made by non-administrators are not followed. Both are looked up
// at run time, so that the program still starts on systems without them;
// one that cannot be turned on is done without. Nothing elsewhere.
void HardenProcess();

// What HardenProcess could turn on, for the run's log: for each, 0 when it
// took effect, otherwise the system's error code, or ERROR_PROC_NOT_FOUND
// where the system lacks it (and natively, where it has no counterpart).
struct ProcessHardening {
  DWORD dllSearchError = ERROR_PROC_NOT_FOUND;         // SetDefaultDllDirectories
  DWORD redirectionGuardError = ERROR_PROC_NOT_FOUND;  // SetProcessMitigationPolicy
};
ProcessHardening ProcessHardeningResult();
