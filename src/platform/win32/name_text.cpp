#include "platform/name_text.h"

#include "platform/win32.h"

std::u16string NameAsText(const std::string& listedName) {
  if (listedName.empty()) return {};
  const int length = static_cast<int>(listedName.size());
  const int size =
      MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, listedName.data(), length, nullptr, 0);
  if (size <= 0) return {};
  std::u16string text(static_cast<size_t>(size), u'\0');
  MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, listedName.data(), length,
                      reinterpret_cast<WCHAR*>(&text[0]), size);
  return text;
}
