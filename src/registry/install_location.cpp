#include "registry/install_location.h"

#include "registry/registry_key.h"

namespace {
const char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
}

bool FindProductInstallPath(const std::string& productGuid, std::string& installPath) {
  const std::string keyPath = kUninstallKey + productGuid;
  ScopedRegKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ, key.Receive()) !=
          ERROR_SUCCESS ||
      !key.Get()) {
    return false;
  }
  std::string value;
  if (!QueryTextValue(key.Get(), "InstallPath0", value)) return false;
  installPath = value;
  return true;
}
