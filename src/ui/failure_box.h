// What a run that cannot finish tells a person at the screen: what could
// not be done, to which file or folder, the system's word for it, who
// holds the file where that is known, and the exit code. The boxes are
// shown only where a person can see them; a run that no one sees ends as
// it always has, showing nothing.
#pragma once

#include <stdint.h>

#include <string>

#include "platform/win32.h"
#include "ui/string_table.h"

struct RunFailure {
  int exitCode = 0;
  StringId what = kFileNotWritten;
  std::string subject;          // the file, the folder or the product, in the ANSI code page
  DWORD error = ERROR_SUCCESS;  // the system's error, when one says what failed
  std::string holders;          // the programs that hold the file, in UTF-8; may be empty
  uint64_t spaceNeeded = 0;     // with kNoSpace
  uint64_t spaceFree = 0;
};

// Whether the process's window station has a display. A run as SYSTEM in
// session 0, or on a station of its own, has none: no one would see a box,
// and a box no one sees never closes.
bool WindowStationIsVisible();

// The box's text; retry: the file may be tried again.
std::string FailureText(const RunFailure& failure, bool retry);

// The failure, on top of other windows, owned as the completion box.
void ShowFailureBox(const RunFailure& failure);

// The failure of a file that another program holds, with Retry (the
// default) and Cancel; true for Retry.
bool AskRetry(const RunFailure& failure);
