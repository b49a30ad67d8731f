#include "settings/settings.h"

#include <string.h>

#include "platform/win32.h"

namespace {

const char kSettingsFile[] = "Quorvex.ini";
const char kSection[] = "Product";

bool IsWhiteSpace(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

std::string ReadText(const std::string& path, const char* key, const std::string& fallback) {
  char buffer[255];
  GetPrivateProfileStringA(kSection, key, fallback.c_str(), buffer, sizeof buffer, path.c_str());
  return TrimWhiteSpace(buffer);
}

}  // namespace

std::string TrimWhiteSpace(const std::string& text) {
  size_t begin = 0;
  while (begin < text.size() && IsWhiteSpace(static_cast<unsigned char>(text[begin]))) ++begin;
  size_t end = begin;
  for (size_t i = begin; i < text.size();) {
    auto c = static_cast<unsigned char>(text[i]);
    size_t width = (_ismbblead(c) && i + 1 < text.size()) ? 2 : 1;
    i += width;
    if (width == 2 || !IsWhiteSpace(c)) end = i;
  }
  return text.substr(begin, end - begin);
}

std::string SettingsFilePath(const std::string& programDirectory) {
  return programDirectory + kSettingsFile;
}

// Read with two defaults: only a key that is there gives one value for both.
bool IsSettingSet(const std::string& settingsFile, const char* key) {
  char value[8];
  GetPrivateProfileStringA(kSection, key, "0", value, sizeof value, settingsFile.c_str());
  if (strcmp(value, "0") != 0) return true;
  GetPrivateProfileStringA(kSection, key, "1", value, sizeof value, settingsFile.c_str());
  return strcmp(value, "0") == 0;
}

InstallerSettings ReadInstallerSettings(const std::string& programDirectory) {
  const std::string path = SettingsFilePath(programDirectory);
  InstallerSettings settings;
  settings.productGuid = ReadText(path, "ProductGUID", settings.productGuid);
  settings.language = ReadText(path, "Language", settings.language);
  settings.manualVersion = ReadText(path, "ManualVersion", settings.manualVersion);
  settings.messageDisplay = static_cast<int>(
      GetPrivateProfileIntA(kSection, "MessageDisplay", settings.messageDisplay, path.c_str()));
  settings.product = ReadText(path, "Product", settings.product);
  return settings;
}
