#include "kit/check/source_check.h"
#include "kit/report/progress.h"

#include <algorithm>
#include <map>

#include "kit/report/finding_list.h"
#include "kit/check/name_check.h"
#include "paths/paths.h"
#include "platform/afx/file_find.h"
#include "platform/link_target.h"
#include "platform/name_text.h"
#include "platform/replace_file.h"
#include "platform/scoped_handle.h"
#include "platform/win32.h"

namespace kit {

namespace {

#ifdef _WIN32
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

const char kSourceFolderName[] = "SRC";
const char kListingPattern[] = "*.*";
const char kOverLimit[] = ", and the Windows ANSI calls take at most 259";
constexpr long kPatternLength = sizeof kListingPattern - 1;
// Windows creates no folder whose path leaves no room for an 8.3 name.
constexpr size_t kCreateFolderLimit = MAX_PATH - 12;
constexpr size_t kProgramNameLength = sizeof "Quorvex.exe" - 1;
constexpr size_t kSettingsNameLength = sizeof "Quorvex.ini" - 1;

std::string Bytes(size_t length) { return std::to_string(length) + " bytes"; }

uint64_t Intervals(const FILETIME& time) {
  return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

std::string Padded(int64_t value, size_t width) {
  std::string digits = std::to_string(value);
  if (digits.size() < width) digits.insert(0, width - digits.size(), '0');
  return digits;
}

// A FILETIME as "YYYY-MM-DD hh:mm:ss UTC".
std::string FormatUtc(const FILETIME& time) {
  const int64_t seconds = static_cast<int64_t>(Intervals(time) / 10000000) - 11644473600;
  int64_t days = seconds / 86400;
  int64_t rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  // Days since 1970-01-01 to a civil date (proleptic Gregorian).
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t dayOfEra = days - era * 146097;
  const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t monthIndex = (5 * dayOfYear + 2) / 153;
  const int64_t day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
  const int64_t month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
  const int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
  return Padded(year, 4) + "-" + Padded(month, 2) + "-" + Padded(day, 2) + " " +
         Padded(rest / 3600, 2) + ":" + Padded(rest / 60 % 60, 2) + ":" + Padded(rest % 60, 2) +
         " UTC";
}

class SourceWalk {
 public:
  SourceWalk(const SourceCheckInput& input, std::vector<Finding>& findings)
      : input_(input), findings_(findings) {
    GetSystemTimeAsFileTime(&now_);
  }

  // Walks SRC; false when SRC itself is missing or cannot be listed.
  bool Run(const std::string& sourceRoot) { return WalkFolder(sourceRoot, "", true); }

  const SourceSummary& summary() const { return summary_; }
  size_t longestFile() const { return longestFile_; }
  size_t longestFolder() const { return longestFolder_; }

 private:
  static std::string KitPath(const std::string& relative) {
    return relative.empty() ? kSourceFolderName : kSourceFolderName + (kSeparator + relative);
  }

  void Error(const char* code, const std::string& relative, const std::string& message) {
    AddError(findings_, code, KitPath(relative), message);
  }
  void Warning(const char* code, const std::string& relative, const std::string& message) {
    AddWarning(findings_, code, KitPath(relative), message);
  }

  // The path checks of a folder below SRC that the installer creates and lists.
  void CheckFolderPaths(const std::string& relative) {
    longestFolder_ = std::max(longestFolder_, relative.size());
    const size_t folder = input_.installDirectory.size() + relative.size();
    const size_t pattern = folder + 1 + kPatternLength;
    if (pattern >= MAX_PATH) {
      Error("path-too-long", relative,
            "installed, the folder's listing pattern (folder\\*.*) comes to " + Bytes(pattern) +
                kOverLimit);
    } else if (folder >= kCreateFolderLimit) {
      Warning("create-folder-limit", relative,
              "installed, the folder's path comes to " + Bytes(folder) +
                  "; Windows creates no folder of 248 bytes or more, so a first installation fails with 3");
    }
  }

  // A link of SRC: the installer copies what it leads to. One that leads
  // nowhere, or to a folder that holds it (the copy would go round until
  // its paths are too long), fails the installation. False for those.
  bool CheckLink(const std::string& sourceFolder, const std::string& name, const std::string& path,
                 bool folder) {
    std::string stated;
    const bool readable = ReadLinkText(sourceFolder + name, stated);
    const std::string target = readable ? " to " + stated : "";
    std::string leadsTo, holder;
    if (!FinalPath(sourceFolder + name, leadsTo)) {
      Error("broken-link", path,
            "a link" + target + ", which names nothing that can be opened: the installer fails with 4");
      return false;
    }
    if (folder && FinalPath(sourceFolder, holder) &&
        (holder == leadsTo ||
         (holder.compare(0, leadsTo.size(), leadsTo) == 0 && holder.size() > leadsTo.size() &&
          (holder[leadsTo.size()] == '\\' || holder[leadsTo.size()] == '/')))) {
      Error("link-loop", path,
            "a link" + target + ", a folder that holds the link itself: the installer copies the "
            "folder into itself again and again until its paths are too long, and fails with 4");
      return false;
    }
    Warning("link-in-src", path,
            std::string("a symbolic link or reparse point") + (folder ? " to a folder" : "") +
                (readable ? " (" + stated + ")" : "") +
                ": the installer copies what it leads to" +
                (folder ? ", which is not checked here" : ""));
    return true;
  }

  bool WalkFolder(const std::string& sourceFolder, const std::string& relative, bool list) {
    if (!relative.empty()) CheckFolderPaths(relative);
    const std::string pattern = sourceFolder + kListingPattern;
    if (pattern.size() >= MAX_PATH) {
      Error("path-too-long", relative,
            "where the kit is now, the folder's listing pattern comes to " + Bytes(pattern.size()) +
                kOverLimit + ": the installer fails with 4 (its content is not checked)");
      return false;
    }
    if (!list) return true;
    afx::CFileFind finder;
    if (!finder.FindFile(pattern.c_str())) {
      Error("unreadable-folder", relative, "the folder cannot be listed: the installer fails with 4");
      return false;
    }
    std::vector<std::string> names;
    const std::map<std::string, std::u16string> listedOtherwise = NamesListedOtherwise(sourceFolder);
    bool more = true;
    while (more) {
      more = finder.FindNextFile();
      if (finder.IsDots()) continue;
      const std::string name = finder.GetFileName();
      names.push_back(name);
      const std::string path = relative.empty() ? name : relative + kSeparator + name;
      const auto otherwise = listedOtherwise.find(name);
      CheckName(name, otherwise != listedOtherwise.end() ? otherwise->second : NameAsText(name),
                KitPath(path), input_.codePages, findings_);
      const bool link = (finder.GetAttributes() & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
      if (link) ++summary_.links;
      if (link && !CheckLink(sourceFolder, name, path, finder.IsDirectory())) continue;
      if (finder.IsDirectory()) {
        ++summary_.folders;
        std::string subfolder = sourceFolder + name;
        EnsureTrailingSeparator(subfolder);
        WalkFolder(subfolder, path, !link);
      } else {
        CheckFile(sourceFolder, name, path);
      }
    }
    if (finder.ListingFailed()) {
      Error("unreadable-folder", relative,
            "the folder's listing breaks off before its end: the installer fails with 4");
    }
    finder.Close();
    CheckCaseCollisions(names, KitPath(relative) + kSeparator, input_.codePages, findings_);
    return true;
  }

  void CheckFile(const std::string& sourceFolder, const std::string& name,
                 const std::string& relative) {
    ++summary_.files;
    ProgressFile(relative);
    longestFile_ = std::max(longestFile_, relative.size());
    const size_t installed = input_.installDirectory.size() + relative.size();
    if (installed >= MAX_PATH) {
      Error("path-too-long", relative,
            "installed, the file's path comes to " + Bytes(installed) + kOverLimit +
                ": the installer fails with 4");
    }
    const std::string source = sourceFolder + name;
    if (source.size() >= MAX_PATH) {
      Error("path-too-long", relative,
            "where the kit is now, the file's path comes to " + Bytes(source.size()) + kOverLimit +
                ": the installer fails with 4");
      return;
    }
    ScopedHandle file(CreateFileA(source.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid()) {
      Error("unreadable-file", relative,
            "the file cannot be opened for reading: the installer fails with 4");
      return;
    }
    DWORD sizeHigh = 0;
    SetLastError(ERROR_SUCCESS);
    const DWORD sizeLow = GetFileSize(file.Get(), &sizeHigh);
    if (sizeLow != INVALID_FILE_SIZE || GetLastError() == ERROR_SUCCESS) {
      summary_.bytes += (static_cast<uint64_t>(sizeHigh) << 32) | sizeLow;
    }
    FILETIME lastWrite{};
    if (GetFileTime(file.Get(), nullptr, nullptr, &lastWrite) &&
        CompareFileTime(&lastWrite, &now_) > 0) {
      Warning("future-time", relative,
              "last written " + FormatUtc(lastWrite) +
                  ", later than now: installed copies keep that time, so the file of a later kit "
                  "with an earlier time would not replace them");
    }
  }

  const SourceCheckInput& input_;
  std::vector<Finding>& findings_;
  FILETIME now_{};
  SourceSummary summary_;
  size_t longestFile_ = 0;
  size_t longestFolder_ = 0;
};

// The longest root (ending in a separator) under which relative paths of
// these lengths stay below MAX_PATH: files, and the listing patterns of the
// root and its folders.
long LongestRoot(size_t longestFile, size_t longestFolder, bool hasFolder) {
  long longest = MAX_PATH - 1 - kPatternLength;
  longest = std::min(longest, MAX_PATH - 1 - static_cast<long>(longestFile));
  if (hasFolder) {
    longest = std::min(longest, MAX_PATH - 1 - (static_cast<long>(longestFolder) + 1 + kPatternLength));
  }
  return longest;
}

}  // namespace

SourceSummary CheckSource(const SourceCheckInput& input, std::vector<Finding>& findings) {
  const std::string sourcePath = input.kitDirectory + kSourceFolderName;
  const DWORD attributes = GetFileAttributesA(sourcePath.c_str());
  SourceSummary summary;
  size_t longestFile = 0, longestFolder = 0;
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    AddError(findings, "no-src", kSourceFolderName,
             "there is no SRC folder: the installer would report success and copy nothing");
  } else if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    AddError(findings, "no-src", kSourceFolderName,
             "SRC is not a folder: the installer fails with 4");
  } else {
    std::string sourceRoot = sourcePath;
    EnsureTrailingSeparator(sourceRoot);
    SourceWalk walk(input, findings);
    const bool listed = walk.Run(sourceRoot);
    summary = walk.summary();
    longestFile = walk.longestFile();
    longestFolder = walk.longestFolder();
    if (listed && summary.files == 0) {
      AddError(findings, "empty-src", kSourceFolderName,
               "SRC holds no file: the installer would report success and copy nothing");
    }
  }
  const bool hasFolder = summary.folders > 0;
  const long installRoot = LongestRoot(longestFile, longestFolder, hasFolder);
  summary.longestInstallDir = std::max(0L, installRoot - 1);
  // The kit folder holds the program, its settings and SRC.
  const long kitRoot = std::min({installRoot - static_cast<long>(sizeof "SRC"),
                                 MAX_PATH - 1 - static_cast<long>(kProgramNameLength),
                                 MAX_PATH - 1 - static_cast<long>(kSettingsNameLength)});
  summary.longestKitDir = std::max(0L, kitRoot - 1);
  return summary;
}

}  // namespace kit
