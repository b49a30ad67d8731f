#include "kit/facts/kit_settings.h"

#include "paths/paths.h"

namespace kit {

std::string KitDirectory(std::string kitFolder) {
  EnsureTrailingSeparator(kitFolder);
  return kitFolder;
}

InstallerSettings ReadKitSettings(const std::string& kitFolder) {
  return ReadInstallerSettings(KitDirectory(kitFolder));
}

std::vector<Field> SettingsFields(const InstallerSettings& settings) {
  return {
      {"productGuid", settings.productGuid},
      {"language", settings.language},
      {"manualVersion", settings.manualVersion},
      {"messageDisplay", std::to_string(settings.messageDisplay), true},
      {"product", settings.product},
      {"removeOldFiles", std::to_string(settings.removeOldFiles), true},
  };
}

}  // namespace kit
