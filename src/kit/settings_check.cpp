#include "kit/settings_check.h"

#include <vector>

#include "kit/finding_list.h"
#include "kit/windows_names.h"
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
  const std::string value = ReadWithDefault(file, key, "0");
  found = value != "0" || ReadWithDefault(file, key, "1") == "0";
  return found ? value : std::string();
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
    add("it is one number, and a detection rule that compares versions needs two to four (" +
        version + ".0 reads the same to the installer)");
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
    AddWarning(findings, "no-settings", kSettingsFileName,
               "there is no Quorvex.ini: the installer uses the default of every setting");
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
  }
  CheckVersion(settings.manualVersion, findings);
}

}  // namespace kit
