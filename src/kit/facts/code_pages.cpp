#include "kit/facts/code_pages.h"

#include <stdio.h>

#include <array>

#include "platform/win32.h"

namespace kit {

namespace {

enum ByteClass : unsigned char { kInvalid, kSingle, kLead };

constexpr std::array<ByteClass, 256> JapaneseClasses() {
  std::array<ByteClass, 256> classes{};
  for (int b = 0; b < 256; ++b) {
    if (b <= 0x7F || (b >= 0xA1 && b <= 0xDF)) {
      classes[b] = kSingle;
    } else if ((b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC)) {
      classes[b] = kLead;
    } else {
      classes[b] = kInvalid;  // 0x80, 0xA0, 0xFD-0xFF
    }
  }
  return classes;
}

constexpr std::array<ByteClass, 256> WesternClasses() {
  std::array<ByteClass, 256> classes{};
  for (int b = 0; b < 256; ++b) {
    const bool undefined = b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D;
    classes[b] = undefined ? kInvalid : kSingle;
  }
  return classes;
}

constexpr std::array<ByteClass, 256> kJapanese = JapaneseClasses();
constexpr std::array<ByteClass, 256> kWestern = WesternClasses();

bool IsJapaneseTrail(unsigned char b) { return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC); }

ByteClass ClassOf(unsigned char b, int codePage) {
  return codePage == kJapaneseCodePage ? kJapanese[b] : kWestern[b];
}

unsigned char At(const std::string& text, size_t i) { return static_cast<unsigned char>(text[i]); }

}  // namespace

size_t CharacterLength(const std::string& text, size_t i, int codePage) {
  const bool pair = ClassOf(At(text, i), codePage) == kLead && i + 1 < text.size() &&
                    IsJapaneseTrail(At(text, i + 1));
  return pair ? 2 : 1;
}

size_t FindInvalidByte(const std::string& text, int codePage) {
  for (size_t i = 0; i < text.size();) {
    const ByteClass byteClass = ClassOf(At(text, i), codePage);
    if (byteClass == kInvalid) return i;
    if (byteClass == kLead) {
      if (i + 1 >= text.size() || !IsJapaneseTrail(At(text, i + 1))) return i;
      i += 2;
    } else {
      ++i;
    }
  }
  return std::string::npos;
}

bool IsNonAsciiUtf8(const std::string& text) {
  bool nonAscii = false;
  for (size_t i = 0; i < text.size();) {
    const unsigned char b = At(text, i);
    size_t length = 1;
    unsigned char secondMin = 0x80, secondMax = 0xBF;
    if (b <= 0x7F) {
      ++i;
      continue;
    } else if (b >= 0xC2 && b <= 0xDF) {
      length = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
      length = 3;
      if (b == 0xE0) secondMin = 0xA0;
      if (b == 0xED) secondMax = 0x9F;  // no UTF-16 surrogates
    } else if (b >= 0xF0 && b <= 0xF4) {
      length = 4;
      if (b == 0xF0) secondMin = 0x90;
      if (b == 0xF4) secondMax = 0x8F;
    } else {
      return false;
    }
    if (i + length > text.size()) return false;
    for (size_t k = 1; k < length; ++k) {
      const unsigned char c = At(text, i + k);
      const unsigned char low = k == 1 ? secondMin : 0x80, high = k == 1 ? secondMax : 0xBF;
      if (c < low || c > high) return false;
    }
    nonAscii = true;
    i += length;
  }
  return nonAscii;
}

namespace {

// The bytes of one character (one or two UTF-16 units) in codePage; false
// when the code page has no such character.
bool Convert(const char16_t* units, int count, int codePage, std::string& bytes) {
  char buffer[8];
  BOOL usedDefault = FALSE;
  const int size = WideCharToMultiByte(static_cast<UINT>(codePage), WC_NO_BEST_FIT_CHARS,
                                       reinterpret_cast<LPCWSTR>(units), count, buffer,
                                       sizeof buffer, nullptr, &usedDefault);
  if (size <= 0 || usedDefault) return false;
  bytes.assign(buffer, static_cast<size_t>(size));
  return true;
}

int UnitsAt(const std::u16string& text, size_t i) {
  const bool pair = text[i] >= 0xD800 && text[i] <= 0xDBFF && i + 1 < text.size() &&
                    text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF;
  return pair ? 2 : 1;
}

}  // namespace

std::string CharactersOutside(const std::u16string& text, int codePage) {
  std::string outside;
  std::string bytes;
  for (size_t i = 0; i < text.size();) {
    const int units = UnitsAt(text, i);
    if (!Convert(&text[i], units, codePage, bytes)) {
      char32_t code = text[i];
      if (units == 2) code = 0x10000 + ((code - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      char word[16];
      snprintf(word, sizeof word, "U+%04X", static_cast<unsigned>(code));
      if (outside.find(word) == std::string::npos) {
        outside += (outside.empty() ? "" : " ") + std::string(word);
      }
    }
    i += static_cast<size_t>(units);
  }
  return outside;
}

std::string InCodePage(const std::u16string& text, int codePage) {
  std::string converted, bytes;
  for (size_t i = 0; i < text.size();) {
    const int units = UnitsAt(text, i);
    converted += Convert(&text[i], units, codePage, bytes) ? bytes : std::string("?");
    i += static_cast<size_t>(units);
  }
  return converted;
}

}  // namespace kit
