#include "ui/string_table.h"

#include <stdlib.h>

namespace {

volatile LONG conversionCodePage = -1;

UINT ChooseConversionCodePage() {
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof version;
  if (GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_NT &&
      version.dwMajorVersion > 4) {
    return CP_THREAD_ACP;
  }
  char text[7];
  UINT codePage = 0;
  if (GetLocaleInfoA(GetThreadLocale(), LOCALE_IDEFAULTANSICODEPAGE, text, sizeof text)) {
    codePage = static_cast<UINT>(atoi(text));
  }
  return codePage != 0 ? codePage : GetACP();
}

}  // namespace

UINT StringConversionCodePage() {
  if (conversionCodePage == -1) {
    InterlockedExchange(&conversionCodePage, static_cast<LONG>(ChooseConversionCodePage()));
  }
  return static_cast<UINT>(conversionCodePage);
}

std::string LoadStringText(UINT id) {
  HMODULE module = GetModuleHandleA(nullptr);
  HRSRC block = FindResourceA(module, MAKEINTRESOURCEA(id / 16 + 1), MAKEINTRESOURCEA(6));
  if (!block) return {};
  const auto* units = static_cast<const WCHAR*>(LockResource(LoadResource(module, block)));
  if (!units) return {};
  const size_t unitCount = SizeofResource(module, block) / sizeof(WCHAR);

  // Each entry is a length in characters followed by that many characters;
  // the walk never reads past the block.
  size_t position = 0;
  for (UINT skip = id % 16; skip > 0 && position < unitCount; --skip) {
    position += 1 + units[position];
  }
  if (position >= unitCount) return {};
  const size_t length = units[position];
  const WCHAR* text = units + position + 1;
  if (length == 0 || length > unitCount - position - 1) return {};

  const UINT codePage = StringConversionCodePage();
  const int wideLength = static_cast<int>(length);
  int size = WideCharToMultiByte(codePage, 0, text, wideLength, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  std::string result(static_cast<size_t>(size), '\0');
  size = WideCharToMultiByte(codePage, 0, text, wideLength, &result[0], size, nullptr, nullptr);
  if (size <= 0) return {};
  result.resize(static_cast<size_t>(size));
  return result;
}

std::string FillInText(std::string text, std::initializer_list<std::string> values) {
  size_t at = 0;
  for (const std::string& value : values) {
    at = text.find("%s", at);
    if (at == std::string::npos) break;
    text.replace(at, 2, value);
    at += value.size();
  }
  return text;
}
