// GetPrivateProfileStringA and GetPrivateProfileIntA over a plain file read,
// through the one reader of settings files as Windows reads them
// (platform/profile_text.h).
#include <stdio.h>
#include <string.h>

#include <string>
#include <string_view>

#include "platform/profile_text.h"
#include "standin_internal.h"

namespace {

bool ReadWholeFile(const char* fileName, std::string& content) {
  std::string path = standin::ToPosixPath(fileName);
  FILE* file = fopen(path.c_str(), "rb");
  if (!file) return false;
  char chunk[65536];
  for (size_t n; (n = fread(chunk, 1, sizeof chunk, file)) > 0;) content.append(chunk, n);
  fclose(file);
  return true;
}

// Copies what fits of value, never half of a double-byte character; a cut
// value sets ERROR_MORE_DATA, as on Windows.
DWORD CopyOut(std::string_view value, LPSTR returned, DWORD size) {
  if (!returned || size == 0) return 0;
  size_t length = value.size();
  if (length > size - 1) {
    length = 0;
    for (size_t width; length < size - 1; length += width) {
      width = _ismbblead(static_cast<unsigned char>(value[length])) ? 2 : 1;
      if (length + width > size - 1) break;
    }
    SetLastError(ERROR_MORE_DATA);
  }
  memcpy(returned, value.data(), length);
  returned[length] = '\0';
  return static_cast<DWORD>(length);
}

}  // namespace

DWORD WINAPI GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue,
                                      LPSTR returned, DWORD size, LPCSTR fileName) {
  std::string content, value;
  if (section && key && fileName && ReadWholeFile(fileName, content) &&
      FindProfileValue(ParseProfile(content), section, key, value)) {
    return CopyOut(value, returned, size);
  }
  // The default loses trailing blanks, as it does on Windows.
  std::string_view fallback = defaultValue ? defaultValue : "";
  while (!fallback.empty() && fallback.back() == ' ') fallback.remove_suffix(1);
  SetLastError(ERROR_FILE_NOT_FOUND);
  return CopyOut(fallback, returned, size);
}

UINT WINAPI GetPrivateProfileIntA(LPCSTR section, LPCSTR key, int defaultValue,
                                  LPCSTR fileName) {
  char text[32];
  DWORD length = GetPrivateProfileStringA(section, key, "", text, sizeof text, fileName);
  if (length == 0) return static_cast<UINT>(defaultValue);

  // Leading blanks, a sign, then digits in base 10, or 16, 8, 2 after a
  // 0x, 0o or 0b prefix; reading stops at the first other character.
  const char* p = text;
  while (*p && static_cast<unsigned char>(*p) <= ' ') ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  unsigned base = 10;
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
    base = 16;
    p += 2;
  } else if (p[0] == '0' && (p[1] == 'o' || p[1] == 'O')) {
    base = 8;
    p += 2;
  } else if (p[0] == '0' && (p[1] == 'b' || p[1] == 'B')) {
    base = 2;
    p += 2;
  }
  uint32_t value = 0;
  for (;; ++p) {
    unsigned digit;
    if (*p >= '0' && *p <= '9') {
      digit = static_cast<unsigned>(*p - '0');
    } else if (*p >= 'a' && *p <= 'f') {
      digit = static_cast<unsigned>(*p - 'a' + 10);
    } else if (*p >= 'A' && *p <= 'F') {
      digit = static_cast<unsigned>(*p - 'A' + 10);
    } else {
      break;
    }
    if (digit >= base) break;
    value = value * base + digit;
  }
  return negative ? 0u - value : value;
}
