#include "kit/check/check.h"

#include <vector>

#include "kit/facts/code_pages.h"
#include "kit/facts/kit_settings.h"
#include "kit/check/settings_check.h"
#include "kit/check/source_check.h"
#include "paths/paths.h"

namespace kit {

namespace {

std::vector<int> CodePagesToCheck(int codePage) {
  if (codePage == kJapaneseCodePage || codePage == kWesternCodePage) return {codePage};
  return {kJapaneseCodePage, kWesternCodePage};
}

Field Number(const char* name, uint64_t value) { return {name, std::to_string(value), true}; }
Field Number(const char* name, long value) { return {name, std::to_string(value), true}; }

}  // namespace

Report RunCheck(const std::string& kitFolder, const CheckOptions& options) {
  Report report;
  report.verb = "check";
  report.kit = kitFolder;
  const std::string kitDirectory = KitDirectory(kitFolder);
  const SettingsFile settingsFile = ReadSettingsFile(kitDirectory);
  const InstallerSettings settings = SettingsAsWindowsReadsThem(settingsFile);
  report.settings = SettingsFields(settings);
  report.settings.push_back(
      {"settingsEncoding", CheckSettings(settingsFile, settings, report.findings)});

  SourceCheckInput input;
  input.kitDirectory = kitDirectory;
  input.installDirectory = options.installDir.empty()
                               ? "C:\\Program Files (x86)\\" + settings.product + "\\"
                               : options.installDir;
  EnsureTrailingSeparator(input.installDirectory);
  input.codePages = CodePagesToCheck(options.codePage);
  const SourceSummary source = CheckSource(input, report.findings);

  uint64_t errors = 0, warnings = 0;
  for (const Finding& finding : report.findings) {
    (finding.severity == "error" ? errors : warnings) += 1;
  }
  std::string codePages;
  for (int codePage : input.codePages) {
    codePages += (codePages.empty() ? "" : ", ") + std::to_string(codePage);
  }
  report.summary = {
      Number("fileCount", source.files),
      Number("folderCount", source.folders),
      Number("byteCount", source.bytes),
      Number("linkCount", source.links),
      {"installDir", input.installDirectory},
      Number("longestInstallDir", source.longestInstallDir),
      Number("longestKitDir", source.longestKitDir),
      {"codePages", codePages},
      Number("errors", errors),
      Number("warnings", warnings),
  };
  report.exitCode = errors > 0 ? 1 : 0;
  return report;
}

}  // namespace kit
