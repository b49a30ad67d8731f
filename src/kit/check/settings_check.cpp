#include "kit/check/settings_check.h"

#include <ctype.h>

#include <algorithm>
#include <vector>

#include "kit/report/finding_list.h"
#include "kit/facts/windows_names.h"
#include "platform/profile_text.h"
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

// The value of key as the profile reader returns it, however long; found is
// false when the reader finds none (then each default comes back).
std::string ReadRawValue(const ProfileText& profile, const char* key, bool& found) {
  std::string value;
  found = FindProfileValue(profile, kSection, key, value);
  return value;
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

void CheckMessageDisplay(const ProfileText& profile, const InstallerSettings& settings,
                         std::vector<Finding>& findings) {
  bool found = false;
  const std::string raw = ReadRawValue(profile, "MessageDisplay", found);
  if (!found || raw == "0" || raw == "1") return;
  const std::string effect = settings.messageDisplay == 0
                                 ? "silent: no message boxes, and a refusal exits with 0"
                                 : "message boxes shown";
  AddWarning(findings, "message-display", kSettingsFileName,
             "MessageDisplay is \"" + Printable(raw) + "\", not 0 or 1; the installer reads it as " +
                 std::to_string(settings.messageDisplay) + " (" + effect + ")");
}

std::string ReadWholeFile(const std::string& file) {
  std::string content;
  ScopedHandle handle(CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  char chunk[4096];
  DWORD got = 0;
  while (handle.IsValid() && ReadFile(handle.Get(), chunk, sizeof chunk, &got, nullptr) && got > 0) {
    content.append(chunk, got);
    if (content.size() > kLargestValue) break;
  }
  return content;
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
                                        "MessageDisplay", "Product", "RemoveOldFiles"};
const char kWhatIsBlocked[] =
    "the installer records ManualVersion 100000, and every later kit of a lower version (2.0.2, "
    "say) is refused on that machine";

std::string Line(int number) { return "line " + std::to_string(number); }

// A UTF-8 mark on the line of a section header: Windows does not see the
// header.
bool MarkHidesFirstHeader(const ProfileText& profile) {
  return profile.encoding == ProfileEncoding::Utf8WithMark &&
         profile.markLine.compare(0, 1, "[") == 0;
}

// How the file is written where Windows reads it otherwise than a vendor's
// editor shows it.
void CheckEncoding(const ProfileText& profile, std::vector<Finding>& findings) {
  switch (profile.encoding) {
    case ProfileEncoding::Utf16BigEndian:
      AddError(findings, "settings-utf16-be", kSettingsFileName,
               "the file is UTF-16 BE, which Windows does not read: every setting takes its "
               "default, and " + std::string(kWhatIsBlocked) + "; save it as ANSI or as UTF-16 LE "
               "(\"Unicode\")");
      break;
    case ProfileEncoding::Utf8WithMark:
      if (MarkHidesFirstHeader(profile)) {
        AddError(findings, "settings-utf8-mark", kSettingsFileName,
                 "the file starts with a UTF-8 byte-order mark on the line of " +
                     Printable(profile.markLine) +
                     ": Windows does not understand the mark, so that section is not read and "
                     "its settings take their defaults; save the file as ANSI or as UTF-16 LE "
                     "(\"Unicode\")");
      } else {
        AddWarning(findings, "settings-utf8-mark", kSettingsFileName,
                   "the file starts with a UTF-8 byte-order mark: Windows reads its sections as "
                   "ANSI, so a value that is not ASCII changes; save it as ANSI or as UTF-16 LE "
                   "(\"Unicode\")");
      }
      break;
    default:
      break;
  }
  if (!profile.wellFormed) {
    AddError(findings, "settings-encoding-invalid", kSettingsFileName,
             std::string("the file is not valid ") + ProfileEncodingName(profile.encoding) +
                 " (an odd number of bytes, or half of a surrogate pair): Windows may read "
                 "other values than were written");
  }
  if (profile.unmappable) {
    AddWarning(findings, "settings-character-not-in-code-page", kSettingsFileName,
               "a character of the file is not in this machine's ANSI code page: Windows shows "
               "\"?\" or a look-alike in its place");
  }
}

// Keys and sections that the installer does not read, and the version it
// would record without being told.
void CheckLayout(const ProfileText& profile, std::vector<Finding>& findings) {
  bool product = false, version = false;
  for (const ProfileSection& section : profile.sections) {
    const std::string header = "[" + Printable(section.name) + "] (" + Line(section.line) + ")";
    if (!section.closed) {
      AddWarning(findings, "settings-header-unclosed", kSettingsFileName,
                 header + " has no closing \"]\": Windows still reads it as [" +
                     Printable(section.name) + "]");
    } else if (!section.afterClose.empty()) {
      const bool key = section.afterClose.find('=') != std::string::npos;
      AddWarning(findings, key ? "settings-key-on-header-line" : "settings-text-after-header",
                 kSettingsFileName,
                 header + " is followed on its line by \"" + Printable(section.afterClose) +
                     "\", which Windows ignores" +
                     (key ? std::string(": that key is not read; put it on a line of its own") : ""));
    }
    if (!SameNoCase(section.name, kSection)) {
      AddError(findings, "settings-unknown-section", kSettingsFileName,
               "section [" + Printable(section.name) + "] is not read by the installer" +
                   ProbablyMeant(section.name, {kSection}, "[", "]") +
                   "; its keys are not settings");
      continue;
    }
    if (product) {
      AddWarning(findings, "settings-second-section", kSettingsFileName,
                 "a second [Product] (" + Line(section.line) +
                     "): only the first is read, and the keys of this one are ignored");
      continue;
    }
    product = true;
    std::vector<std::string> seen;
    for (const ProfileEntry& entry : section.entries) {
      if (!entry.hasEquals) continue;
      bool known = false;
      for (const std::string& name : kKeys) known = known || SameNoCase(entry.key, name);
      version = version || SameNoCase(entry.key, "ManualVersion");
      if (!known) {
        AddError(findings, "settings-unknown-key", kSettingsFileName,
                 "[Product] sets \"" + Printable(entry.key) + "\", which the installer does not read" +
                     ProbablyMeant(entry.key, kKeys));
      }
      bool again = false;
      for (const std::string& earlier : seen) again = again || SameNoCase(earlier, entry.key);
      if (again) {
        AddWarning(findings, "settings-duplicate-key", kSettingsFileName,
                   Printable(entry.key) + " is set again on " + Line(entry.line) +
                       ": the first value counts");
      }
      seen.push_back(entry.key);
    }
  }
  if (!product && !MarkHidesFirstHeader(profile) &&
      profile.encoding != ProfileEncoding::Utf16BigEndian) {
    AddError(findings, "settings-no-product-section", kSettingsFileName,
             "there is no [Product] section: every setting takes its default, and " +
                 std::string(kWhatIsBlocked));
  } else if (product && !version) {
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

// The sample's version, left as shipped; false for any other.
bool CheckSampleVersion(const InstallerSettings& settings, std::vector<Finding>& findings) {
  const InstallerSettings sample;
  if (settings.manualVersion != sample.manualVersion) return false;
  AddError(findings, "sample-setting", kSettingsFileName,
           "ManualVersion is the sample's " + sample.manualVersion + ": " +
               std::string(kWhatIsBlocked) + "; set your manual's version");
  return true;
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

void AddNoSettingsFinding(std::vector<Finding>& findings) {
  AddError(findings, "no-settings", kSettingsFileName,
           "there is no Quorvex.ini: every setting takes its default, and " +
               std::string(kWhatIsBlocked));
}

SettingsFile ReadSettingsFile(const std::string& kitDirectory) {
  const std::string file = kitDirectory + kSettingsFileName;
  const DWORD attributes = GetFileAttributesA(file.c_str());
  SettingsFile read;
  read.present = attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
  if (read.present) read.profile = ParseProfile(ReadWholeFile(file));
  return read;
}

InstallerSettings SettingsAsWindowsReadsThem(const SettingsFile& file) {
  // Through buffers as the installer's: the number's text through 32 bytes.
  return ReadSettingsWith(
      [&](const char* key, const std::string& fallback, size_t size) {
        std::string value;
        return FindProfileValue(file.profile, kSection, key, value)
                   ? std::string(CutProfileValue(value, size))
                   : fallback;
      },
      [&](const char* key, int fallback) {
        std::string value;
        return FindProfileValue(file.profile, kSection, key, value) && !value.empty()
                   ? static_cast<int>(ProfileNumber(CutProfileValue(value, 32)))
                   : fallback;
      });
}

std::string CheckSettings(const SettingsFile& file, const InstallerSettings& settings,
                          std::vector<Finding>& findings) {
  const bool present = file.present;
  const ProfileText& profile = file.profile;
  if (!present) {
    AddNoSettingsFinding(findings);
  } else {
    CheckEncoding(profile, findings);
    for (const char* key : kTextKeys) {
      bool found = false;
      const std::string raw = ReadRawValue(profile, key, found);
      if (raw.size() > kKeptBytes) {
        AddWarning(findings, "value-cut", kSettingsFileName,
                   std::string(key) + " is " + std::to_string(raw.size()) +
                       " bytes long; the installer keeps only its first 254 bytes");
      }
    }
    CheckMessageDisplay(profile, settings, findings);
    CheckLayout(profile, findings);
  }
  CheckSampleProduct(settings, findings);
  // A version that the file does not set is reported above, not again as
  // one number.
  bool versionSet = false;
  ReadRawValue(profile, "ManualVersion", versionSet);
  if (versionSet && !CheckSampleVersion(settings, findings)) {
    CheckVersion(settings.manualVersion, findings);
  }
  return present ? ProfileEncodingName(profile.encoding) : "none";
}

}  // namespace kit
