// GetPrivateProfileStringA and GetPrivateProfileIntA over a plain file read,
// following the Windows profile reader for what a settings file can hold:
// case-insensitive section and key names, the first section and key of a
// name win, white space around names and values is dropped, a value in
// matching quotes loses them, lines starting with ";" are comments, CRLF or
// LF line ends.
#include <ctype.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>

#include <string>
#include <string_view>

#include "standin_internal.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (tolower(static_cast<unsigned char>(a[i])) != tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

bool ReadWholeFile(const char* fileName, std::string& content) {
  std::string path = standin::ToPosixPath(fileName);
  FILE* file = fopen(path.c_str(), "rb");
  if (!file) return false;
  char chunk[65536];
  for (size_t n; (n = fread(chunk, 1, sizeof chunk, file)) > 0;) content.append(chunk, n);
  fclose(file);
  return true;
}

// Names and values end at a zero byte, as the Windows reader's strings do.
std::string_view UpToZero(std::string_view text) { return text.substr(0, text.find('\0')); }

// Finds the value of section/key in the profile text. Returns false when the
// section or the key does not exist; a key line without "=" has no value and
// counts as missing.
bool FindValue(std::string_view text, std::string_view section, std::string_view key,
               std::string_view& value) {
  if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  bool inSection = false;
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = Trim(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);

    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      // Only the first section of that name is searched.
      if (inSection) return false;
      size_t close = line.rfind(']');
      inSection = close != std::string_view::npos &&
                  EqualNoCase(Trim(UpToZero(line.substr(1, close - 1))), section);
      continue;
    }
    if (!inSection) continue;
    size_t equals = line.find('=');
    if (!EqualNoCase(Trim(UpToZero(line.substr(0, equals))), key)) continue;
    if (equals == std::string_view::npos) return false;
    value = Trim(line.substr(equals + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
      value = value.substr(1, value.size() - 2);
    }
    value = UpToZero(value);
    return true;
  }
  return false;
}

DWORD CopyOut(std::string_view value, LPSTR returned, DWORD size) {
  if (!returned || size == 0) return 0;
  DWORD length = static_cast<DWORD>(std::min<size_t>(value.size(), size - 1));
  memcpy(returned, value.data(), length);
  returned[length] = '\0';
  return length;
}

}  // namespace

DWORD WINAPI GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue,
                                      LPSTR returned, DWORD size, LPCSTR fileName) {
  std::string content;
  std::string_view value;
  if (section && key && fileName && ReadWholeFile(fileName, content) &&
      FindValue(content, section, key, value)) {
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
