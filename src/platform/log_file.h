// The installer's log file, when one is asked for.
#pragma once

#include <string>

#include "platform/win32.h"

// Appends text to the file at path (ANSI), creating it when absent; false
// when that cannot be done. Other runs may append to the same file at once:
// each text lands whole.
bool AppendToLogFile(const std::string& path, const std::string& text);

// The system's text of an error code, on one line; "" when it has none.
std::string SystemErrorMessage(DWORD error);
