#include "settings/settings.h"

#include <string.h>

#include "platform/win32.h"

namespace {

const char kSettingsFile[] = "Quorvex.ini";
const char kSection[] = "Product";

bool IsWhiteSpace(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The installer reads text values into 255 bytes.
constexpr size_t kTextBuffer = 255;

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

InstallerSettings ReadSettingsWith(const SettingText& text, const SettingNumber& number) {
  InstallerSettings settings;
  settings.productGuid = TrimWhiteSpace(text("ProductGUID", settings.productGuid, kTextBuffer));
  settings.language = TrimWhiteSpace(text("Language", settings.language, kTextBuffer));
  settings.manualVersion = TrimWhiteSpace(text("ManualVersion", settings.manualVersion, kTextBuffer));
  settings.messageDisplay = number("MessageDisplay", settings.messageDisplay);
  settings.product = TrimWhiteSpace(text("Product", settings.product, kTextBuffer));
  settings.removeOldFiles = number("RemoveOldFiles", settings.removeOldFiles);
  return settings;
}

InstallerSettings ReadInstallerSettings(const std::string& programDirectory) {
  const std::string path = SettingsFilePath(programDirectory);
  return ReadSettingsWith(
      [&](const char* key, const std::string& fallback, size_t size) {
        char buffer[kTextBuffer];
        GetPrivateProfileStringA(kSection, key, fallback.c_str(), buffer,
                                 static_cast<DWORD>(size), path.c_str());
        return std::string(buffer);
      },
      [&](const char* key, int fallback) {
        return static_cast<int>(GetPrivateProfileIntA(kSection, key, fallback, path.c_str()));
      });
}
