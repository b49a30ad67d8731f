// Whether a copy that runs elevated may write into a folder of the
// destination. A symbolic link or junction there is followed only when an
// administrator or the running account made it (natively root or the
// running user; on Windows Administrators, SYSTEM, TrustedInstaller or the
// running account): a link that any other account planted could send the
// copy's files anywhere.
#pragma once

#include <string>

#include "platform/scoped_handle.h"

enum class FolderEntry {
  Enter,          // a folder, or a link that may be followed
  UntrustedLink,  // a link made by another account: nothing goes through it
  Absent,         // nothing there (or nothing that can be opened)
};

// Looks at path as the copy enters it. On Windows held keeps the folder
// open, without delete sharing, while the copy is in it: it can then be
// neither renamed away nor replaced by a link. Natively every file call
// resolves its path through descriptors instead, and held stays empty.
FolderEntry EnterFolder(const std::string& path, ScopedHandle& held);
