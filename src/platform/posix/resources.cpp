// String resources and text conversion of the stand-in layer.
//
// The executable's string table is the one of resources/strings.rc, which
// the build turns into string_table_data.cpp. Its blocks are laid out as in
// a Windows executable: block id / 16 + 1 holds the 16 entries of its ids,
// each a length in UTF-16 characters followed by the characters. The
// language is the locale's (LC_ALL, LC_MESSAGES, LANG): Japanese for "ja...",
// English otherwise.
#include <errno.h>
#include <iconv.h>
#include <stdio.h>
#include <string.h>

#include <array>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "standin_internal.h"
#include "string_table_data.h"

namespace {

constexpr WORD kEnglish = 0x0409;
constexpr WORD kJapanese = 0x0411;
constexpr WORD kStringType = 6;  // RT_STRING

struct StringBlock {
  WORD language;
  WORD number;
  std::u16string data;
};

const std::vector<StringBlock>& StringBlocks() {
  static const std::vector<StringBlock> blocks = [] {
    std::map<std::pair<WORD, WORD>, std::array<std::u16string, 16>> texts;
    for (size_t i = 0; i < standin::kStringTableEntryCount; ++i) {
      const standin::StringTableEntry& entry = standin::kStringTableEntries[i];
      texts[{entry.language, static_cast<WORD>(entry.id / 16 + 1)}][entry.id % 16] = entry.text;
    }
    std::vector<StringBlock> result;
    for (const auto& [key, entries] : texts) {
      StringBlock block{key.first, key.second, {}};
      for (const std::u16string& text : entries) {
        block.data += static_cast<char16_t>(text.size());
        block.data += text;
      }
      result.push_back(std::move(block));
    }
    return result;
  }();
  return blocks;
}

const StringBlock* FindBlock(WORD language, WORD number) {
  for (const StringBlock& block : StringBlocks()) {
    if (block.language == language && block.number == number) return &block;
  }
  return nullptr;
}

// As the system's lookup without a named language: the locale's language,
// then English, then whichever language has the block.
const StringBlock* FindBlockForLocale(WORD number) {
  const WORD preferred = standin::LocaleIsJapanese() ? kJapanese : kEnglish;
  for (WORD language : {preferred, kEnglish}) {
    if (const StringBlock* block = FindBlock(language, number)) return block;
  }
  for (const StringBlock& block : StringBlocks()) {
    if (block.number == number) return &block;
  }
  return nullptr;
}

const StringBlock* AsBlock(HRSRC resource) {
  return reinterpret_cast<const StringBlock*>(resource);
}

// ---- WideCharToMultiByte ----------------------------------------------------

class ScopedIconv {
 public:
  explicit ScopedIconv(const char* toCode) : cd_(iconv_open(toCode, "UTF-32LE")) {}
  ~ScopedIconv() {
    if (valid()) iconv_close(cd_);
  }
  ScopedIconv(const ScopedIconv&) = delete;
  ScopedIconv& operator=(const ScopedIconv&) = delete;
  bool valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // Appends codePoint in the target encoding; false when it has no form there.
  bool Append(char32_t codePoint, std::string& out) {
    char in[4] = {static_cast<char>(codePoint & 0xFF), static_cast<char>((codePoint >> 8) & 0xFF),
                  static_cast<char>((codePoint >> 16) & 0xFF),
                  static_cast<char>((codePoint >> 24) & 0xFF)};
    char buffer[16];
    char* inPointer = in;
    size_t inLeft = sizeof in;
    char* outPointer = buffer;
    size_t outLeft = sizeof buffer;
    if (iconv(cd_, &inPointer, &inLeft, &outPointer, &outLeft) == static_cast<size_t>(-1)) {
      iconv(cd_, nullptr, nullptr, nullptr, nullptr);
      return false;
    }
    out.append(buffer, static_cast<size_t>(outPointer - buffer));
    return true;
  }

 private:
  iconv_t cd_;
};

std::string IconvName(UINT codePage) {
  if (codePage == CP_UTF8) return "UTF-8";
  char name[16];
  snprintf(name, sizeof name, "CP%u", codePage);
  return name;
}

// Converts text of a code page to UTF-16, one call of iconv per run of valid
// text. An invalid or cut sequence fails the conversion when strict, and is
// otherwise one byte that becomes U+FFFD.
bool ConvertToUtf16(UINT codePage, const char* text, size_t length, bool strict,
                    std::u16string& out) {
  iconv_t cd = iconv_open("UTF-16LE", IconvName(codePage).c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  bool ok = true;
  char* in = const_cast<char*>(text);
  size_t inLeft = length;
  std::vector<char> buffer(4 * length + 8);
  while (inLeft > 0) {
    char* outPointer = buffer.data();
    size_t outLeft = buffer.size();
    const size_t result = iconv(cd, &in, &inLeft, &outPointer, &outLeft);
    for (const char* p = buffer.data(); p + 1 < outPointer; p += 2) {
      out += static_cast<char16_t>(static_cast<unsigned char>(p[0]) |
                                   static_cast<unsigned char>(p[1]) << 8);
    }
    if (result != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) continue;
    if (strict) {
      ok = false;
      break;
    }
    out += u'\uFFFD';
    ++in;
    --inLeft;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  iconv_close(cd);
  return ok;
}

// The code points of UTF-16 text; a lone surrogate becomes U+FFFD.
std::vector<char32_t> CodePoints(LPCWSTR wide, size_t length) {
  std::vector<char32_t> result;
  for (size_t i = 0; i < length; ++i) {
    char32_t unit = wide[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < length && wide[i + 1] >= 0xDC00 &&
        wide[i + 1] <= 0xDFFF) {
      result.push_back(0x10000 + ((unit - 0xD800) << 10) + (wide[i + 1] - 0xDC00));
      ++i;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      result.push_back(0xFFFD);
    } else {
      result.push_back(unit);
    }
  }
  return result;
}

}  // namespace

HRSRC WINAPI FindResourceA(HMODULE module, LPCSTR name, LPCSTR type) {
  if (module && module != GetModuleHandleA(nullptr)) {
    SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return nullptr;
  }
  if (!IS_INTRESOURCE(type) || reinterpret_cast<uintptr_t>(type) != kStringType) {
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return nullptr;
  }
  const StringBlock* block = nullptr;
  if (IS_INTRESOURCE(name)) {
    block = FindBlockForLocale(static_cast<WORD>(reinterpret_cast<uintptr_t>(name)));
  }
  if (!block) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<HRSRC>(const_cast<StringBlock*>(block));
}

HGLOBAL WINAPI LoadResource(HMODULE, HRSRC resource) {
  if (!resource) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return const_cast<char16_t*>(AsBlock(resource)->data.data());
}

LPVOID WINAPI LockResource(HGLOBAL data) { return data; }

DWORD WINAPI SizeofResource(HMODULE, HRSRC resource) {
  if (!resource) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  return static_cast<DWORD>(AsBlock(resource)->data.size() * sizeof(char16_t));
}

int WINAPI WideCharToMultiByte(UINT codePage, DWORD, LPCWSTR wide, int wideLength,
                               LPSTR multiByte, int multiByteSize, LPCSTR defaultChar,
                               LPBOOL usedDefaultChar) {
  if (codePage == CP_ACP || codePage == CP_THREAD_ACP) codePage = standin::LocaleCodePage();
  const bool utf8 = codePage == CP_UTF8;
  if (!wide || wideLength == 0 || wideLength < -1 || multiByteSize < 0 ||
      (multiByteSize > 0 && !multiByte) || (utf8 && (defaultChar || usedDefaultChar))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  ScopedIconv converter(IconvName(codePage).c_str());
  if (!converter.valid()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }

  // A length of -1 means "up to and with the terminating zero".
  size_t length = static_cast<size_t>(wideLength);
  if (wideLength == -1) length = std::char_traits<char16_t>::length(wide) + 1;

  std::string converted;
  bool usedDefault = false;
  for (char32_t codePoint : CodePoints(wide, length)) {
    if (!converter.Append(codePoint, converted)) {
      // One default for each UTF-16 unit that has no form.
      converted.append(codePoint > 0xFFFF ? 2 : 1, defaultChar ? *defaultChar : '?');
      usedDefault = true;
    }
  }
  if (usedDefaultChar) *usedDefaultChar = usedDefault ? TRUE : FALSE;

  const int size = static_cast<int>(converted.size());
  if (multiByteSize == 0) return size;  // the size query
  if (size > multiByteSize) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  memcpy(multiByte, converted.data(), converted.size());
  return size;
}

int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR multiByte, int multiByteLength,
                               WCHAR* wide, int wideSize) {
  if (codePage == CP_ACP || codePage == CP_THREAD_ACP) codePage = standin::LocaleCodePage();
  if (!multiByte || multiByteLength == 0 || multiByteLength < -1 || wideSize < 0 ||
      (wideSize > 0 && !wide)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  // A length of -1 means "up to and with the terminating zero".
  const size_t length = multiByteLength == -1 ? strlen(multiByte) + 1
                                              : static_cast<size_t>(multiByteLength);
  std::u16string converted;
  if (!ConvertToUtf16(codePage, multiByte, length, (flags & MB_ERR_INVALID_CHARS) != 0,
                      converted)) {
    SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return 0;
  }
  const int size = static_cast<int>(converted.size());
  if (wideSize == 0) return size;  // the size query
  if (size > wideSize) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  memcpy(wide, converted.data(), converted.size() * sizeof(char16_t));
  return size;
}
