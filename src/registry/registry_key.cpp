#include "registry/registry_key.h"

#include <string.h>

bool QueryTextValue(HKEY key, const char* name, std::string& value) {
  char buffer[260];
  DWORD size = sizeof buffer;
  if (RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size) !=
      ERROR_SUCCESS) {
    return false;
  }
  if (size > sizeof buffer) size = sizeof buffer;
  value.assign(buffer, strnlen(buffer, size));
  return true;
}
