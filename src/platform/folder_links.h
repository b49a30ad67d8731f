// Whether a copy that runs elevated may write into a folder of the
// destination. A symbolic link or junction there is followed only when no
// other account could have made it or could swap it: natively when root or
// the running user owns it; on Windows when Administrators, SYSTEM or
// TrustedInstaller own it and no one else may change it or delete entries
// of its folder (platform/win32/link_trust.h). A link that any other
// account planted could send the copy's files anywhere. A folder that is
// there but cannot be opened is not walked through either.
#pragma once

#include <string>

#include "platform/scoped_handle.h"

enum class FolderEntry {
  Enter,          // a folder, or a link that may be followed
  Refused,  // a link that may not be followed, or what cannot be opened: nothing goes through it
  Absent,   // nothing there
};

// Looks at path as the copy enters it; parent is the folder that holds it,
// as held (INVALID_HANDLE_VALUE for none). On Windows held keeps the folder
// open, without delete sharing, while the copy is in it. Natively every
// file call resolves its path through descriptors instead, and held stays
// empty. A refusal sets why to a phrase that follows "a link" or "a
// folder" ("that another account made").
FolderEntry EnterFolder(const std::string& path, ScopedHandle& held,
                        HANDLE parent = INVALID_HANDLE_VALUE, std::string* why = nullptr);
