// Who owns a file that an elevated run holds open: what another account
// owns, it could have planted and may change at will.
#pragma once

#include "platform/win32.h"

// Whether Administrators, SYSTEM or TrustedInstaller own the file, or, with
// runningAccountToo, the account the run runs as; natively root or the
// running user. Read from the handle, which needs READ_CONTROL on Windows
// (GENERIC_READ has it). False when the owner cannot be read.
bool HasTrustedOwner(HANDLE file, bool runningAccountToo);
