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
  HGLOBAL data = LoadResource(module, block);
  const auto* entry = static_cast<const WCHAR*>(LockResource(data));
  if (!entry) return {};
  const WCHAR* end = entry + SizeofResource(module, block) / sizeof(WCHAR);

  // Each entry is a length in characters followed by that many characters.
  for (UINT skip = id % 16; skip > 0; --skip) {
    if (entry >= end) return {};
    entry += 1 + *entry;
  }
  if (entry >= end) return {};
  const int length = *entry;
  const WCHAR* text = entry + 1;
  if (length == 0 || length > end - text) return {};

  UINT codePage = StringConversionCodePage();
  int size = WideCharToMultiByte(codePage, 0, text, length, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  std::string result(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(codePage, 0, text, length, &result[0], size, nullptr, nullptr);
  return result;
}
