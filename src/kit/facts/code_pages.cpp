#include "kit/facts/code_pages.h"

#include <array>

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

}  // namespace kit
