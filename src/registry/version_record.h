// The record of the manual version installed for a product, one value per
// language under HKLM\SOFTWARE\Veltrane\<Product>\Manual\<ProductGUID>.
#pragma once

#include <string>

#include "platform/win32.h"
#include "settings/settings.h"

// KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY
constexpr REGSAM kManualRecordAccess = 0x2001F;

std::string ManualRecordKey(const InstallerSettings& settings);

// Opens (creating when absent) the record key into *key, null when that
// fails, and decides whether the manual of the settings may be installed:
// refused when the key cannot be opened, allowed when no version is recorded
// for the language, otherwise as IsUpdateAllowed decides. The caller closes
// the key.
bool OpenManualVersionRecord(const InstallerSettings& settings, HKEY* key);

// What the open record key holds for the settings' language, and whether the
// manual of the settings may be installed over it (always when nothing is
// recorded).
struct RecordedManual {
  bool found = false;
  std::string version;
  bool updateAllowed = true;
};
RecordedManual JudgeRecordedVersion(HKEY key, const InstallerSettings& settings);
