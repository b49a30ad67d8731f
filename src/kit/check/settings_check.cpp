#include "kit/check/settings_check.h"

#include <ctype.h>

#include <algorithm>
#include <vector>

#include "kit/report/finding_list.h"
#include "kit/facts/windows_names.h"
#include "platform/scoped_handle.h"
#include "platform/win32.h"
#include "version/version.h"

namespace kit {

namespace {

const char kSettingsFileName[] = "Quorvex.ini";
const char kSection[] = "Product";
// The installer reads text values into 255 bytes.
constexpr size_t kKeptBytes = 254;
constexpr size_t kLargestValue = size_t{16} << 20;
const char* const kTextKeys[] = {"ProductGUID", "Language", "ManualVersion", "Product"};

std::string ReadWithDefault(const std::string& file, const char* key, const char* fallback) {
  std::vector<char> buffer(4096);
  DWORD length = 0;
  for (;;) {
    length = GetPrivateProfileStringA(kSection, key, fallback, buffer.data(),
                                      static_cast<DWORD>(buffer.size()), file.c_str());
    if (length + 1 < buffer.size() || buffer.size() >= kLargestValue) break;
    buffer.resize(buffer.size() * 2);
  }
  return std::string(buffer.data(), length);
}

// The value of key as the profile reader returns it, however long; found is
// false when the file has no such key (then each default comes back).
std::string ReadRawValue(const std::string& file, const char* key, bool& found) {
  found = IsSettingSet(file, key);
  return found ? ReadWithDefault(file, key, "") : std::string();
}

std::string NumberText(const VersionNumber& number) {
  if (number.digits.empty()) return "0";
  return (number.negative ? "-" : "") + number.digits;
}

bool IsDottedNumbers(const std::string& version) {
  if (version.empty() || version.front() == '.' || version.back() == '.') return false;
  for (size_t i = 0; i < version.size(); ++i) {
    const char c = version[i];
    if (c == '.' && version[i + 1] == '.') return false;
    if (c != '.' && (c < '0' || c > '9')) return false;
  }
  return true;
}

bool IsOverInt32(const VersionNumber& number) {
  const std::string& d = number.digits;
  return d.size() > 10 || (d.size() == 10 && d > "2147483647");
}

// Why a deployment tool's version comparison (System.Version: two to four
// numbers of at most 2147483647) would not read the version as the
// installer does; empty when it would.
std::string SystemVersionProblem(const std::string& version) {
  std::vector<VersionNumber> components;
  std::string rest = version;
  do {
    components.push_back(TakeVersionComponent(rest));
  } while (!rest.empty());
  std::string problem;
  auto add = [&problem](const std::string& text) { problem += (problem.empty() ? "" : "; ") + text; };
  if (components.size() == 1) {
    add("it is one number; a deployment tool's version comparison (a detection rule of Intune "
        "or Configuration Manager) takes two to four, so write " + version +
        ".0, which the installer reads the same");
  }
  if (components.size() > 4) {
    add("it has " + std::to_string(components.size()) +
        " components, and a detection rule that compares versions takes at most four");
  }
  for (const VersionNumber& component : components) {
    if (IsOverInt32(component)) {
      add("its component " + component.digits +
          " is over 2147483647, the largest a detection rule's version comparison takes");
      break;
    }
  }
  return problem;
}

void CheckVersion(const std::string& version, std::vector<Finding>& findings) {
  if (!IsDottedNumbers(version)) {
    const std::string shown = version.empty() ? "ManualVersion is empty"
                                              : "ManualVersion \"" + Printable(version) +
                                                    "\" is not dotted decimal numbers";
    AddError(findings, "version-not-dotted-numbers", kSettingsFileName,
             shown + "; the installer reads it as " + VersionAsRead(version));
    return;
  }
  const std::string problem = SystemVersionProblem(version);
  if (!problem.empty()) {
    AddWarning(findings, "version-not-system-version", kSettingsFileName,
               "ManualVersion " + version + ": " + problem);
  }
}

void CheckMessageDisplay(const std::string& file, const InstallerSettings& settings,
                         std::vector<Finding>& findings) {
  bool found = false;
  const std::string raw = ReadRawValue(file, "MessageDisplay", found);
  if (!found || raw == "0" || raw == "1") return;
  const std::string effect = settings.messageDisplay == 0
                                 ? "silent: no message boxes, and a refusal exits with 0"
                                 : "message boxes shown";
  AddWarning(findings, "message-display", kSettingsFileName,
             "MessageDisplay is \"" + Printable(raw) + "\", not 0 or 1; the installer reads it as " +
                 std::to_string(settings.messageDisplay) + " (" + effect + ")");
}

// The sections of a settings file and the keys of each, read as the
// profile reader reads them: names trimmed and compared in any case, ";"
// comment lines, a key line without "=" ignored.
struct IniSection {
  std::string name;
  std::vector<std::string> keys;
};

std::vector<IniSection> ReadIniLayout(const std::string& file) {
  std::string content;
  ScopedHandle handle(CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  char chunk[4096];
  DWORD got = 0;
  while (handle.IsValid() && ReadFile(handle.Get(), chunk, sizeof chunk, &got, nullptr) && got > 0) {
    content.append(chunk, got);
    if (content.size() > kLargestValue) break;
  }
  if (content.compare(0, 3, "\xEF\xBB\xBF") == 0) content.erase(0, 3);
  const auto trim = [](std::string text) {
    const char* blanks = " \t\r\v\f";
    text.erase(0, text.find_first_not_of(blanks));
    text.erase(text.find_last_not_of(blanks) + 1);
    return text.substr(0, text.find('\0'));
  };
  std::vector<IniSection> sections;
  for (size_t start = 0; start < content.size();) {
    size_t end = content.find('\n', start);
    if (end == std::string::npos) end = content.size();
    const std::string line = trim(content.substr(start, end - start));
    start = end + 1;
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      const size_t close = line.rfind(']');
      sections.push_back({trim(line.substr(1, close == std::string::npos ? 0 : close - 1)), {}});
    } else if (!sections.empty() && line.find('=') != std::string::npos) {
      sections.back().keys.push_back(trim(line.substr(0, line.find('='))));
    }
  }
  return sections;
}

bool SameNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (tolower(static_cast<unsigned char>(a[i])) != tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

// Edits (insert, delete, change, swap of neighbours) from a to b, in any case.
size_t Distance(const std::string& a, const std::string& b) {
  std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
  for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  const auto lower = [](char c) { return tolower(static_cast<unsigned char>(c)); };
  for (size_t i = 1; i <= a.size(); ++i) {
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t change = lower(a[i - 1]) == lower(b[j - 1]) ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + change});
      if (i > 1 && j > 1 && lower(a[i - 1]) == lower(b[j - 2]) && lower(a[i - 2]) == lower(b[j - 1])) {
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
    }
  }
  return d[a.size()][b.size()];
}

// ", probably meant as X" for the closest of candidates, when it is close.
std::string ProbablyMeant(const std::string& name, const std::vector<std::string>& candidates,
                          const char* open = "", const char* close = "") {
  std::string best;
  size_t bestDistance = 4;
  for (const std::string& candidate : candidates) {
    const size_t distance = Distance(name, candidate);
    if (distance < bestDistance) {
      best = candidate;
      bestDistance = distance;
    }
  }
  return best.empty() ? "" : std::string(", probably meant as ") + open + best + close;
}

const std::vector<std::string> kKeys = {"ProductGUID", "Language", "ManualVersion",
                                        "MessageDisplay", "Product"};
const char kWhatIsBlocked[] =
    "the installer records ManualVersion 100000, and every later kit of a lower version (2.0.2, "
    "say) is refused on that machine";

// Keys and sections that the installer does not read, and the version it
// would record without being told.
void CheckLayout(const std::string& file, std::vector<Finding>& findings) {
  const std::vector<IniSection> sections = ReadIniLayout(file);
  bool product = false, version = false;
  for (const IniSection& section : sections) {
    if (SameNoCase(section.name, kSection)) {
      // Only the first section of that name is read.
      if (product) continue;
      product = true;
      for (const std::string& key : section.keys) {
        bool known = false;
        for (const std::string& name : kKeys) known = known || SameNoCase(key, name);
        version = version || SameNoCase(key, "ManualVersion");
        if (!known) {
          AddError(findings, "settings-unknown-key", kSettingsFileName,
                   "[Product] sets \"" + Printable(key) + "\", which the installer does not read" +
                       ProbablyMeant(key, kKeys));
        }
      }
    } else {
      AddError(findings, "settings-unknown-section", kSettingsFileName,
               "section [" + Printable(section.name) + "] is not read by the installer" +
                   ProbablyMeant(section.name, {kSection}, "[", "]") +
                   "; its keys are not settings");
    }
  }
  if (!product) {
    AddError(findings, "settings-no-product-section", kSettingsFileName,
             "there is no [Product] section: every setting takes its default, and " +
                 std::string(kWhatIsBlocked));
  } else if (!version) {
    AddError(findings, "version-missing", kSettingsFileName,
             "[Product] does not set ManualVersion: " + std::string(kWhatIsBlocked));
  }
}

// The sample's product, left as shipped: the kit would install and record
// as that product, not the vendor's.
void CheckSampleProduct(const InstallerSettings& settings, std::vector<Finding>& findings) {
  const InstallerSettings sample;
  if (SameNoCase(settings.productGuid, sample.productGuid)) {
    AddWarning(findings, "sample-setting", kSettingsFileName,
               "ProductGUID is the sample's " + sample.productGuid +
                   ": the installer looks for that product's registration and records under it; "
                   "set your product's uninstall key");
  }
  if (SameNoCase(settings.product, sample.product)) {
    AddWarning(findings, "sample-setting", kSettingsFileName,
               "Product is the sample's \"" + sample.product +
                   "\": the version is recorded under HKLM\\SOFTWARE\\Veltrane\\" +
                   sample.product + "; set your product's name");
  }
}

}  // namespace

std::string VersionAsRead(const std::string& version) {
  std::string rest = version;
  std::string read;
  do {
    read += (read.empty() ? "" : ".") + NumberText(TakeVersionComponent(rest));
  } while (!rest.empty());
  return read;
}

void CheckSettings(const std::string& kitDirectory, const InstallerSettings& settings,
                   std::vector<Finding>& findings) {
  const std::string file = kitDirectory + kSettingsFileName;
  const DWORD attributes = GetFileAttributesA(file.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    AddError(findings, "no-settings", kSettingsFileName,
             "there is no Quorvex.ini: every setting takes its default, and " +
                 std::string(kWhatIsBlocked));
  } else {
    for (const char* key : kTextKeys) {
      bool found = false;
      const std::string raw = ReadRawValue(file, key, found);
      if (raw.size() > kKeptBytes) {
        AddWarning(findings, "value-cut", kSettingsFileName,
                   std::string(key) + " is " + std::to_string(raw.size()) +
                       " bytes long; the installer keeps only its first 254 bytes");
      }
    }
    CheckMessageDisplay(file, settings, findings);
    CheckLayout(file, findings);
  }
  CheckSampleProduct(settings, findings);
  // A version that the file does not set is reported above, not again as
  // one number.
  bool versionSet = false;
  if (attributes != INVALID_FILE_ATTRIBUTES) ReadRawValue(file, "ManualVersion", versionSet);
  if (versionSet) CheckVersion(settings.manualVersion, findings);
}

}  // namespace kit
