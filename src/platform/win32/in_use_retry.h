// Waiting out a file that another program holds for a moment: a help viewer
// showing the page, an indexer, a virus scanner, another installer in the
// same folder. An attempt that fails because the file is in use is made
// again every 50 ms for up to two seconds, as robocopy's /R and /W do in its
// own measure; any other failure, or the last one, is returned.
#pragma once

#include "platform/win32.h"

inline bool IsInUseError(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
         error == ERROR_ACCESS_DENIED;
}

// attempt() returns true on success, or false with the last error set.
template <typename Attempt>
bool RetryWhileInUse(Attempt attempt) {
  const int kAttempts = 41;
  const DWORD kPauseMilliseconds = 50;
  for (int made = 1;; ++made) {
    if (attempt()) return true;
    if (made == kAttempts || !IsInUseError(GetLastError())) return false;
    Sleep(kPauseMilliseconds);
  }
}
