// QuorvexKit verify: whether an installed manual is the kit's, file by file
// in the installer's own walk, and whether the record holds the kit's version.
#pragma once

#include <string>
#include <vector>

#include "kit/report/report.h"

namespace kit {

// kitFolder exists; installerArguments are the "/p" arguments of the command
// line. Exit code 0 when every file and folder is there and the same and the
// record holds the kit's version, 1 otherwise.
Report RunVerify(const std::string& kitFolder, const std::vector<std::string>& installerArguments);

}  // namespace kit
