// The programs that hold a file open, named where a replace or a removal
// fails because another program has the file: on Windows as the Restart
// Manager tells, natively from /proc. The names are other programs' text.
#pragma once

#include <string>
#include <vector>

#include "platform/win32.h"

struct FileHolder {
  DWORD processId = 0;
  std::string name;  // in UTF-8, as the system gives it
};

// Whether a call failed because another program holds the file.
inline bool IsHeldOpenError(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

// The other programs that hold the file path (full, in the ANSI code page)
// open, where the system can tell; empty when none or unknown.
std::vector<FileHolder> FindFileHolders(const std::string& path);

// The holders as one line of UTF-8 for a box, a log or a report: each name
// escaped and cut to a bounded length, with its process id
// ("hh.exe (process 4242)"), the process ownProcessId and repeats of one
// process left out, at most a few, then "and N more"; empty when none is
// left.
std::string DescribeFileHolders(const std::vector<FileHolder>& holders, DWORD ownProcessId);

// The other programs that hold path open, as DescribeFileHolders gives
// them without the running process; empty for an empty path.
std::string DescribeHoldersOf(const std::string& path);
