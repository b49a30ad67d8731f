// What a symbolic link or junction leads to, for QuorvexKit's look at a kit.
#pragma once

#include <string>

// The target as the link itself states it; false when path is no link or
// its target cannot be read.
bool ReadLinkText(const std::string& path, std::string& target);

// The full path of what path names once every link is followed; false when
// it names nothing that can be opened.
bool FinalPath(const std::string& path, std::string& final);
