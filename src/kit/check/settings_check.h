// The findings on a kit's settings file: values the installer cuts or reads
// otherwise than they are written.
#pragma once

#include <string>
#include <vector>

#include "kit/report/report.h"
#include "platform/profile_text.h"
#include "settings/settings.h"

namespace kit {

// A kit's Quorvex.ini as Windows reads it, in every build (under Wine too).
struct SettingsFile {
  bool present = false;
  ProfileText profile;
};

// kitDirectory ends in a separator.
SettingsFile ReadSettingsFile(const std::string& kitDirectory);

// The settings that the installer reads from that file on Windows.
InstallerSettings SettingsAsWindowsReadsThem(const SettingsFile& file);

// The findings on the file; settings are those the installer reads from
// it. Returns the file's encoding ("ANSI", "UTF-16 LE", ...; "none" without
// a file).
std::string CheckSettings(const SettingsFile& file, const InstallerSettings& settings,
                          std::vector<Finding>& findings);

// The error of a kit without Quorvex.ini.
void AddNoSettingsFinding(std::vector<Finding>& findings);

// The version as the installer's comparison sees it: its components, by the
// installer's own reading, joined by dots ("v2.1" gives "0.1", "" gives "0").
std::string VersionAsRead(const std::string& version);

}  // namespace kit
