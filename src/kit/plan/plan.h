// QuorvexKit plan: what the installer would do with a kit, here and now,
// found by running the installer's own walk with steps that only look.
#pragma once

#include <string>
#include <vector>

#include "kit/report/report.h"

namespace kit {

// kitFolder exists; installerArguments are the "/p" arguments of the command
// line. The report's exit code is the installer's predicted one.
Report RunPlan(const std::string& kitFolder, const std::vector<std::string>& installerArguments);

}  // namespace kit
