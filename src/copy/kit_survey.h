// What of a kit the install directory holds before a run writes anything.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "install_list/installed_files.h"

// Walks the kit's source root into installDirectory as the copy would,
// without writing: files and folders get the kit's paths (relative, "\"
// between folders) of what is there already. A file that listed names is
// not looked at.
void SurveyKit(const std::string& sourceRoot, const std::string& installDirectory,
               const std::deque<InstalledFile>& listed, std::vector<std::string>& files,
               std::vector<std::string>& folders);
