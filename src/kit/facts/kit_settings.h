// A kit folder seen as the installer sees its own folder.
#pragma once

#include <string>
#include <vector>

#include "kit/report/report.h"
#include "settings/settings.h"

namespace kit {

// The kit folder as the installer's program directory: ending in a separator.
std::string KitDirectory(std::string kitFolder);

// The settings as the installer reads them from the kit, defaults included.
InstallerSettings ReadKitSettings(const std::string& kitFolder);

// The settings as report fields: productGuid, language, manualVersion,
// messageDisplay (a number), product.
std::vector<Field> SettingsFields(const InstallerSettings& settings);

}  // namespace kit
