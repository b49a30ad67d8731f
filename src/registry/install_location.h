// The product's install directory, from its uninstall registration.
#pragma once

#include <string>

// Reads the value "InstallPath0" of the product's uninstall registration,
// HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\<productGuid>.
// Sets installPath only on success.
bool FindProductInstallPath(const std::string& productGuid, std::string& installPath);
