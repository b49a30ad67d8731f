#include "kit/check/name_check.h"

#include <stdio.h>

#include <algorithm>
#include <utility>

#include "kit/facts/code_pages.h"
#include "kit/report/finding_list.h"
#include "kit/facts/windows_names.h"
#include "platform/held_folder.h"
#include "platform/name_text.h"
#include "platform/win32.h"

namespace kit {

namespace {

// "code page 932", "code pages 932 and 1252".
std::string CodePageWords(const std::vector<int>& codePages) {
  std::string text = codePages.size() == 1 ? "code page " : "code pages ";
  for (size_t i = 0; i < codePages.size(); ++i) {
    text += (i == 0 ? "" : " and ") + std::to_string(codePages[i]);
  }
  return text;
}

// Values with the code pages each came from, in the order first seen.
template <typename Value>
using ByCodePage = std::vector<std::pair<Value, std::vector<int>>>;

template <typename Value>
void Add(ByCodePage<Value>& values, const Value& value, int codePage) {
  auto known = std::find_if(values.begin(), values.end(),
                            [&](const auto& entry) { return entry.first == value; });
  if (known == values.end()) {
    values.push_back({value, {codePage}});
  } else {
    known->second.push_back(codePage);
  }
}

// "Japanese Windows (code page 932)".
std::string WindowsOf(int codePage) {
  return std::string(codePage == kJapaneseCodePage ? "Japanese" : "Western") +
         " Windows (code page " + std::to_string(codePage) + ")";
}

// A warning where another code page judged holds the name: the kit still
// installs on that Windows. error: no code page judged holds it.
void AddNotInCodePage(std::vector<Finding>& findings, const std::string& path, int codePage,
                      const std::string& what, bool error) {
  const std::string message =
      "the name " + what + ": it cannot be installed on " + WindowsOf(codePage);
  if (error) {
    AddError(findings, "not-in-code-page", path, message);
  } else {
    AddWarning(findings, "not-in-code-page", path, message);
  }
}

void CheckNameText(const std::u16string& text, const std::string& path,
                   const std::vector<int>& codePages, std::vector<Finding>& findings) {
  std::vector<std::string> outside;
  size_t lacking = 0;
  for (int codePage : codePages) {
    outside.push_back(CharactersOutside(text, codePage));
    lacking += !outside.back().empty();
  }
  ByCodePage<std::string> reasons;
  for (size_t i = 0; i < codePages.size(); ++i) {
    const int codePage = codePages[i];
    if (!outside[i].empty()) {
      AddNotInCodePage(findings, path, codePage, "holds " + outside[i],
                       lacking == codePages.size());
      continue;
    }
    const std::string reason = InvalidNameReason(InCodePage(text, codePage), codePage);
    if (!reason.empty()) Add(reasons, reason, codePage);
  }
  for (const auto& [reason, readers] : reasons) {
    AddError(findings, "invalid-name", path,
             "the name " + reason + " (read in " + CodePageWords(readers) + ")");
  }
}

}  // namespace

void CheckName(const std::string& name, const std::u16string& text, const std::string& path,
               const std::vector<int>& codePages, std::vector<Finding>& findings) {
  if (HasShortNameShape(name)) {
    AddWarning(findings, "short-name-shape", path,
               "the name has the shape of an 8.3 short name (NAME~1.EXT): on Windows it may be "
               "another file's short name, and the installer then does not write it");
  }
  const bool plainAscii =
      std::all_of(text.begin(), text.end(), [](char16_t c) { return c < 0x80; });
  if (!plainAscii) {
    CheckNameText(text, path, codePages, findings);
    // Bytes of UTF-8 that the system reads as other characters: a name that
    // a tool unpacked without converting it.
    if (IsNonAsciiUtf8(name) && DecodeName(name, CP_UTF8) != text) {
      AddWarning(findings, "utf8-name", path,
                 "the name's bytes are UTF-8 text, which Windows reads as other characters");
    }
    return;
  }
  std::vector<int> validIn;
  for (int codePage : codePages) {
    if (FindInvalidByte(name, codePage) == std::string::npos) validIn.push_back(codePage);
  }
  for (int codePage : codePages) {
    const size_t bad = FindInvalidByte(name, codePage);
    if (bad == std::string::npos) continue;
    char detail[64];
    snprintf(detail, sizeof detail, "from byte 0x%02X at offset %u",
             static_cast<unsigned char>(name[bad]), static_cast<unsigned>(bad));
    AddNotInCodePage(findings, path, codePage,
                     "is not valid text (" + std::string(detail) +
                         (IsNonAsciiUtf8(name) ? "; it is UTF-8" : "") + ")",
                     validIn.empty());
  }
  // A name that is text in no code page checked is still read byte by byte.
  const std::vector<int> readings = validIn.empty() ? std::vector<int>{kWesternCodePage} : validIn;
  ByCodePage<std::string> reasons;
  for (int codePage : readings) {
    const std::string reason = InvalidNameReason(name, codePage);
    if (!reason.empty()) Add(reasons, reason, codePage);
  }
  for (const auto& [reason, readers] : reasons) {
    const std::string where =
        readers.size() < readings.size() ? " (read in " + CodePageWords(readers) + ")" : "";
    AddError(findings, "invalid-name", path, "the name " + reason + where);
  }
  if (validIn.size() == codePages.size() && IsNonAsciiUtf8(name)) {
    AddWarning(findings, "utf8-name", path,
               "the name is UTF-8 text: Windows reads its bytes in " + CodePageWords(codePages) +
                   " as other characters");
  }
}

void CheckCaseCollisions(const std::vector<std::string>& names, const std::string& folderPath,
                         const std::vector<int>& codePages, std::vector<Finding>& findings) {
  // Pairs of names (the first of a key in listing order, another of it).
  ByCodePage<std::pair<std::string, std::string>> collisions;
  for (int codePage : codePages) {
    std::vector<std::pair<std::string, const std::string*>> keys;
    keys.reserve(names.size());
    for (const std::string& name : names) keys.push_back({CaseFoldKey(name, codePage), &name});
    std::stable_sort(keys.begin(), keys.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    size_t first = 0;
    for (size_t i = 1; i < keys.size(); ++i) {
      if (keys[i].first != keys[first].first) {
        first = i;
        continue;
      }
      Add(collisions, {*keys[first].second, *keys[i].second}, codePage);
    }
  }
  for (const auto& [pair, readers] : collisions) {
    const std::string where =
        readers.size() < codePages.size() ? " (in " + CodePageWords(readers) + ")" : "";
    AddError(findings, "case-collision", folderPath + pair.second,
             "the name differs only in case from \"" + Printable(pair.first) + "\"" + where +
                 ": on Windows both name one file");
  }
}

}  // namespace kit
