#include "platform/name_text.h"

#include "platform/win32.h"

std::u16string DecodeName(const std::string& bytes, unsigned codePage) {
  if (bytes.empty()) return {};
  const int length = static_cast<int>(bytes.size());
  const int size =
      MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(), length, nullptr, 0);
  if (size <= 0) return {};
  std::u16string text(static_cast<size_t>(size), u'\0');
  MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(), length,
                      reinterpret_cast<WCHAR*>(&text[0]), size);
  return text;
}
