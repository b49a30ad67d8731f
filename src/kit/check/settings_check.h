// The findings on a kit's settings file: values the installer cuts or reads
// otherwise than they are written.
#pragma once

#include <string>
#include <vector>

#include "kit/report/report.h"
#include "settings/settings.h"

namespace kit {

// The settings that the installer reads from the kit on Windows, in every
// build (under Wine too): kitDirectory ends in a separator.
InstallerSettings SettingsAsWindowsReadsThem(const std::string& kitDirectory);

// kitDirectory ends in a separator; settings are those the installer reads
// there. The file is judged as Windows reads it, in every build. Returns the
// file's encoding ("ANSI", "UTF-16 LE", ...; "none" without a file).
std::string CheckSettings(const std::string& kitDirectory, const InstallerSettings& settings,
                          std::vector<Finding>& findings);

// The version as the installer's comparison sees it: its components, by the
// installer's own reading, joined by dots ("v2.1" gives "0.1", "" gives "0").
std::string VersionAsRead(const std::string& version);

}  // namespace kit
