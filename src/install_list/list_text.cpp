#include <array>

#include "install_list/installed_files.h"
#include "platform/win32.h"
#include "text/text_encoding.h"

namespace {

bool PassesUnchanged(unsigned char byte) { return byte >= 0x20 && byte < 0x7F && byte != '%'; }

void AppendByte(unsigned char byte, std::string& out) {
  static const char kHex[] = "0123456789ABCDEF";
  if (PassesUnchanged(byte)) {
    out += static_cast<char>(byte);
    return;
  }
  out += '%';
  out += kHex[byte >> 4];
  out += kHex[byte & 0xF];
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// wide in the ANSI code page; false when a character has no exact form there.
bool ToAnsi(const std::u16string& wide, std::string& bytes) {
  if (wide.empty()) return true;
  // UTF-8 takes neither flags nor the question whether a default was used.
  const bool utf8 = GetACP() == CP_UTF8;
  BOOL usedDefault = FALSE;
  std::string converted(wide.size() * 3, '\0');
  const int size = WideCharToMultiByte(
      CP_ACP, utf8 ? 0 : WC_NO_BEST_FIT_CHARS, reinterpret_cast<const WCHAR*>(wide.data()),
      static_cast<int>(wide.size()), &converted[0], static_cast<int>(converted.size()), nullptr,
      utf8 ? nullptr : &usedDefault);
  if (size <= 0 || usedDefault) return false;
  bytes.append(converted, 0, static_cast<size_t>(size));
  return true;
}

// The text of bytes of the ANSI code page as UTF-8, appended to out; false
// when they are not text there or their text does not convert back to them.
bool AppendExactText(const char* bytes, size_t length, std::string& out) {
  std::u16string wide(length, u'\0');
  const int size =
      MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, bytes, static_cast<int>(length),
                          reinterpret_cast<WCHAR*>(&wide[0]), static_cast<int>(length));
  if (size <= 0) return false;
  wide.resize(static_cast<size_t>(size));
  std::string back;
  if (!ToAnsi(wide, back) || back.compare(0, back.size(), bytes, length) != 0) return false;

  std::string text;
  for (size_t i = 0; i < wide.size(); ++i) {
    char32_t unit = wide[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 &&
        wide[i + 1] <= 0xDFFF) {
      unit = 0x10000 + ((unit - 0xD800) << 10) + (wide[++i] - 0xDC00);
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      return false;
    }
    if (unit < 0x80) {
      AppendByte(static_cast<unsigned char>(unit), text);
    } else {
      AppendUtf8(unit, text);
    }
  }
  out += text;
  return true;
}

// The code point of the UTF-8 sequence at text[i], advancing i past it; 0
// when it is no valid sequence (overlong, a surrogate, beyond U+10FFFF).
char32_t TakeUtf8(const std::string& text, size_t& i) {
  const auto lead = static_cast<unsigned char>(text[i]);
  size_t length;
  char32_t codePoint;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    codePoint = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    codePoint = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    codePoint = lead & 0x07;
  } else {
    return 0;
  }
  if (text.size() - i < length) return 0;
  for (size_t n = 1; n < length; ++n) {
    const auto next = static_cast<unsigned char>(text[i + n]);
    if ((next & 0xC0) != 0x80) return 0;
    codePoint = (codePoint << 6) | (next & 0x3F);
  }
  static const char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (codePoint < kSmallest[length] || codePoint > 0x10FFFF ||
      (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
    return 0;
  }
  i += length;
  return codePoint;
}

void AppendUtf16(char32_t codePoint, std::u16string& wide) {
  if (codePoint < 0x10000) {
    wide += static_cast<char16_t>(codePoint);
  } else {
    wide += static_cast<char16_t>(0xD800 + ((codePoint - 0x10000) >> 10));
    wide += static_cast<char16_t>(0xDC00 + ((codePoint - 0x10000) & 0x3FF));
  }
}

}  // namespace

std::string ListText(const std::string& bytes) {
  std::string out;
  out.reserve(bytes.size());
  bool ascii = true;
  for (char c : bytes) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  if (!ascii && AppendExactText(bytes.data(), bytes.size(), out)) return out;

  // Character by character: an ASCII byte, or the shortest run of bytes (at
  // most four, the second of a double-byte character may be ASCII) that is
  // exact text, or else one escaped byte.
  for (size_t i = 0; i < bytes.size();) {
    const auto byte = static_cast<unsigned char>(bytes[i]);
    size_t width = 0;
    for (size_t n = 1; byte >= 0x80 && !width && n <= 4 && i + n <= bytes.size(); ++n) {
      if (AppendExactText(bytes.data() + i, n, out)) width = n;
    }
    if (!width) {
      AppendByte(byte, out);
      width = 1;
    }
    i += width;
  }
  return out;
}

ListTextRead ReadListText(const std::string& text, std::string& bytes) {
  bytes.clear();
  std::u16string wide;  // text not yet converted
  for (size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte >= 0x80) {
      const char32_t codePoint = TakeUtf8(text, i);
      if (codePoint == 0) return ListTextRead::Malformed;
      AppendUtf16(codePoint, wide);
      continue;
    }
    if (!ToAnsi(wide, bytes)) return ListTextRead::NotInCodePage;
    wide.clear();
    if (byte == '%') {
      const int high = i + 2 < text.size() ? HexDigit(text[i + 1]) : -1;
      const int low = high >= 0 ? HexDigit(text[i + 2]) : -1;
      if (low < 0) return ListTextRead::Malformed;
      bytes += static_cast<char>(high * 16 + low);
      i += 3;
    } else if (PassesUnchanged(byte)) {
      bytes += static_cast<char>(byte);
      ++i;
    } else {
      return ListTextRead::Malformed;
    }
  }
  if (!ToAnsi(wide, bytes)) return ListTextRead::NotInCodePage;
  // One way of writing each text: an escape of a byte that passes as it is,
  // or of bytes that are text, is no list's.
  return ListText(bytes) == text ? ListTextRead::Read : ListTextRead::Malformed;
}

uint32_t Crc32(std::string_view bytes, uint32_t previous) {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> entries{};
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      entries[n] = c;
    }
    return entries;
  }();
  uint32_t crc = previous ^ 0xFFFFFFFFu;
  for (char c : bytes) crc = table[(crc ^ static_cast<unsigned char>(c)) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}
