// The findings on the names of SRC: text in the code pages the kit is
// installed under, names Windows refuses, and names that Windows takes for
// one file.
#pragma once

#include <string>
#include <vector>

#include "kit/report/report.h"

namespace kit {

// One entry's name; path is the entry relative to the kit folder. A name
// whose text is known (platform/name_text.h) and is not plain ASCII is
// judged as that text: whether each code page can hold it; any other name
// by its bytes. A name that only some of codePages cannot hold is a warning,
// one that none holds an error. A name shaped like an 8.3 short name is
// warned of.
void CheckName(const std::string& name, const std::u16string& text, const std::string& path,
               const std::vector<int>& codePages, std::vector<Finding>& findings);

// The names of one folder; folderPath is that folder relative to the kit
// folder, ending in a separator.
void CheckCaseCollisions(const std::vector<std::string>& names, const std::string& folderPath,
                         const std::vector<int>& codePages, std::vector<Finding>& findings);

}  // namespace kit
