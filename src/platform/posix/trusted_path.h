// Resolving paths as an elevated process must: a symbolic link is followed
// only when root or the running user made it (owns it), as Windows'
// Redirection Guard follows only the junctions that administrators made. A
// link of any other account gets EACCES. Resolution goes folder by folder
// through open descriptors (openat with O_NOFOLLOW), so a folder swapped for
// a link between two steps is seen, never followed.
#pragma once

#include <sys/types.h>

#include <string>

#include "file_copy.h"

namespace standin {

bool IsTrustedOwner(uid_t owner);

// Opens the folder that holds path's last component (O_PATH) and sets name
// to that component. False with errno set.
bool OpenParent(const std::string& path, UniqueFd& folder, std::string& name);

// Opens path with flags, following a trusted link in its last component
// too; -1 with errno set.
int OpenTrusted(const std::string& path, int flags, mode_t mode = 0);

// The same, for a path relative to the open folder at (an absolute target
// starts again from the root).
int OpenTrustedAt(int at, const std::string& path, int flags, mode_t mode = 0);

}  // namespace standin
