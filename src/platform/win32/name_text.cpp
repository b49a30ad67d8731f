#include "platform/name_text.h"

#include "platform/win32.h"

std::u16string NameAsText(const std::string& listedName) {
  return DecodeName(listedName, CP_ACP);
}

std::map<std::string, std::u16string> NamesListedOtherwise(const std::string& folder) {
  std::map<std::string, std::u16string> names;
  const std::u16string pattern = NameAsText(folder + "*.*");
  if (pattern.empty()) return names;
  WIN32_FIND_DATAW entry;
  const HANDLE find = FindFirstFileW(reinterpret_cast<LPCWSTR>(pattern.c_str()), &entry);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    const std::u16string text(reinterpret_cast<const char16_t*>(entry.cFileName));
    // The name as the ANSI listing shows it: converted with best fit.
    char listed[MAX_PATH * 2];
    const int size = WideCharToMultiByte(CP_ACP, 0, entry.cFileName, -1, listed, sizeof listed,
                                         nullptr, nullptr);
    if (size <= 1) continue;
    const std::string name(listed, static_cast<size_t>(size - 1));
    if (NameAsText(name) != text) names.emplace(name, text);
  } while (FindNextFileW(find, &entry));
  FindClose(find);
  return names;
}
