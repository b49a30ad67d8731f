// Removing what an install left, relative to a held folder, decided from
// the handle that removes it: a file is removed only while it is still the
// very file an install left (its identity as a listing shows it), a folder
// only while it is empty and no link. A name swapped meanwhile for another
// file or a link is not what the handle holds, so nothing else goes.
#pragma once

#include <string>

#include "platform/file_identity.h"
#include "platform/held_folder.h"

enum class Removal {
  Removed,
  Absent,   // nothing of that name (the folder's path may be gone too)
  Kept,     // not what was expected: another file, a folder, a link; a folder not empty
  Failed,   // the last error says why; in use even after the waits among them
};

// Removes the plain file name of folder if it is the file expected.
Removal RemoveFileIfUnchanged(const HeldFolder& folder, const std::string& name,
                              const FileIdentity& expected);

// Removes the folder name of parent if it is an empty folder and no link.
// The caller holds no handle of its own on it.
Removal RemoveEmptyFolder(const HeldFolder& parent, const std::string& name);

// Whether the program runs with administrators' rights: on Windows an
// elevated administrator or SYSTEM (a member of Administrators whose token
// has the group enabled); natively root.
bool RunsAsAdministrator();
