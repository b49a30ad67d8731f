// What a symbolic link or junction leads to, for QuorvexKit's look at a kit.
#pragma once

#include <string>

#include "platform/win32.h"

// The target as the link itself states it; false when path is no link or
// its target cannot be read.
bool ReadLinkText(const std::string& path, std::string& target);
#ifdef _WIN32
// The same, through a handle of the link itself.
bool ReadLinkTextOf(HANDLE link, std::string& target);
#endif

// The full path of what path names once every link is followed; false when
// it names nothing that can be opened.
bool FinalPath(const std::string& path, std::string& final);
