#include "registry/version_record.h"

#include "registry/registry_key.h"
#include "version/version.h"

std::string ManualRecordKey(const InstallerSettings& settings) {
  return "SOFTWARE\\Veltrane\\" + settings.product + "\\" + "Manual" + "\\" +
         settings.productGuid;
}

bool OpenManualVersionRecord(const InstallerSettings& settings, HKEY* key) {
  *key = nullptr;
  HKEY opened = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, ManualRecordKey(settings).c_str(), 0, nullptr,
                      REG_OPTION_NON_VOLATILE, kManualRecordAccess, nullptr, &opened,
                      nullptr) != ERROR_SUCCESS ||
      !opened) {
    return false;
  }
  *key = opened;
  return JudgeRecordedVersion(opened, settings).updateAllowed;
}

RecordedManual JudgeRecordedVersion(HKEY key, const InstallerSettings& settings) {
  RecordedManual record;
  record.found = QueryTextValue(key, settings.language.c_str(), record.version);
  if (record.found) {
    record.updateAllowed =
        IsUpdateAllowed(settings.manualVersion, record.version, settings.messageDisplay);
  }
  return record;
}
