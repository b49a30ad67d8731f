// The log file of a run, opened in its held folder: an elevated run writes
// into no file that another account made or could have swapped.
#pragma once

#include <string>

#include "platform/held_folder.h"
#include "platform/scoped_handle.h"
#include "platform/win32.h"

// Opens the file name of folder for appending: created new where nothing
// has the name; where something has, only a plain file with one name that
// Administrators, SYSTEM, TrustedInstaller or the account the run runs as
// own (natively root or the running user), never through a link. Invalid
// otherwise, with why saying what is there, as a phrase ("a link").
ScopedHandle OpenLogIn(const HeldFolder& folder, const std::string& name, std::string& why);

// Appends text to log whole; false when that cannot be done. Other runs may
// append to the same file at once: each text lands whole.
bool AppendToLog(HANDLE log, const std::string& text);

// The system's text of an error code, on one line; "" when it has none.
std::string SystemErrorMessage(DWORD error);
