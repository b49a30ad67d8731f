// The installer's settings, read from "Quorvex.ini" beside the executable.
#pragma once

#include <functional>
#include <string>

struct InstallerSettings {
  std::string productGuid = "{5E1C7A20-3B9D-4C6F-A2E8-91D04B7F3C65}";
  std::string language = "en";
  std::string manualVersion = "100000";
  int messageDisplay = 1;
  std::string product = "Orvinel";
  // Not 0: after a copy of a different version, the files of the previous
  // version that the kit no longer has, and that an uninstall would
  // remove, are removed.
  int removeOldFiles = 0;
};

// Reads the six settings of section "Product" from programDirectory +
// "Quorvex.ini". Never fails: what is missing keeps its default. Text values
// are trimmed and keep at most their first 254 bytes.
InstallerSettings ReadInstallerSettings(const std::string& programDirectory);

// The six settings as the installer takes them from values of section
// "Product": text(key, fallback, size) gives what a buffer of size bytes
// receives of key's value (the fallback when it has none), which is then
// trimmed; number(key, fallback) gives key's number. ReadInstallerSettings
// reads through the profile functions; QuorvexKit through its own reader.
using SettingText = std::function<std::string(const char* key, const std::string& fallback, size_t size)>;
using SettingNumber = std::function<int(const char* key, int fallback)>;
InstallerSettings ReadSettingsWith(const SettingText& text, const SettingNumber& number);

// The settings file of the program in programDirectory.
std::string SettingsFilePath(const std::string& programDirectory);

// Whether the settings file sets key in its section (to any value, empty
// too), rather than leaving it to its default.
bool IsSettingSet(const std::string& settingsFile, const char* key);

// Removes white space (space, \t, \n, \v, \f, \r) at both ends, stepping over
// double-byte characters whole.
std::string TrimWhiteSpace(const std::string& text);
