// Where a symbolic link or junction leads, from its reparse data
// (FSCTL_GET_REPARSE_POINT), as a walk from the top of a volume: a drive
// (\??\D:\x), a volume named by its GUID (\??\Volume{...}\x), or, for a
// symbolic link with a relative name, the link's own folder. Only targets
// on this computer are walked to.
#pragma once

#include <stddef.h>

#include <string>
#include <vector>

#include "platform/win32.h"

struct ReparseTarget {
  std::string top;                 // D:\ or \\?\Volume{...}\, as CreateFileA opens it
  std::vector<std::string> names;  // the folders below it, in order
};

// The target of the link whose reparse data is data (size bytes) and whose
// folder's full path is linkFolder (D:\x\, \\?\D:\x\, \\?\Volume{...}\x\,
// \\server\share\x\, \\?\UNC\server\share\x\), with its names in the file
// calls' code page. False with why set, a phrase that follows "a link",
// when the data cannot be parsed, has a tag other than a junction's or a
// symbolic link's, leads to another computer or above the top of its
// volume, or has a name with no spelling in that code page.
bool ReadReparseTarget(const BYTE* data, size_t size, const std::wstring& linkFolder,
                       ReparseTarget& target, std::string& why);
