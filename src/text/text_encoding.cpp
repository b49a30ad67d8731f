#include "text/text_encoding.h"

#include <stdio.h>

#include "platform/win32.h"

namespace {

void AppendEscapedByte(unsigned char byte, std::string& out) {
  char escaped[5];
  snprintf(escaped, sizeof escaped, "\\x%02X", byte);
  out += escaped;
}

// Appends the UTF-8 form of bytes of the ANSI code page; false when they are
// not valid text there.
bool AppendConverted(const char* bytes, int length, std::string& out) {
  const int size = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, bytes, length, nullptr, 0);
  if (size <= 0) return false;
  std::u16string wide(static_cast<size_t>(size), u'\0');
  if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, bytes, length,
                          reinterpret_cast<WCHAR*>(&wide[0]), size) != size) {
    return false;
  }
  for (size_t i = 0; i < wide.size(); ++i) {
    char32_t unit = wide[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 &&
        wide[i + 1] <= 0xDFFF) {
      unit = 0x10000 + ((unit - 0xD800) << 10) + (wide[i + 1] - 0xDC00);
      ++i;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      unit = 0xFFFD;
    }
    AppendUtf8(unit, out);
  }
  return true;
}

}  // namespace

void AppendUtf8(char32_t codePoint, std::string& out) {
  if (codePoint < 0x80) {
    out += static_cast<char>(codePoint);
  } else if (codePoint < 0x800) {
    out += static_cast<char>(0xC0 | (codePoint >> 6));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  } else if (codePoint < 0x10000) {
    out += static_cast<char>(0xE0 | (codePoint >> 12));
    out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (codePoint >> 18));
    out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  }
}

std::string AnsiToUtf8(const std::string& text) {
  std::string out;
  if (text.empty() || AppendConverted(text.data(), static_cast<int>(text.size()), out)) {
    return out;
  }
  // Character by character: the shortest run of bytes (at most four) that
  // is valid text, or else one escaped byte.
  out.clear();
  for (size_t i = 0; i < text.size();) {
    size_t width = 0;
    for (size_t n = 1; n <= 4 && i + n <= text.size(); ++n) {
      if (AppendConverted(text.data() + i, static_cast<int>(n), out)) {
        width = n;
        break;
      }
    }
    if (width == 0) {
      AppendEscapedByte(static_cast<unsigned char>(text[i]), out);
      width = 1;
    }
    i += width;
  }
  return out;
}

std::string VisibleUtf8(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
    if (byte < 0x20 || byte == 0x7F) {
      AppendEscapedByte(byte, out);
    } else if (byte == 0xC2 && next >= 0x80 && next <= 0x9F) {  // U+0080 to U+009F
      char escaped[8];
      snprintf(escaped, sizeof escaped, "\\u%04X", next);
      out += escaped;
      ++i;
    } else if (byte == 0xE2 && next == 0x80 && i + 2 < text.size() &&
               (text[i + 2] == '\xA8' || text[i + 2] == '\xA9')) {  // U+2028, U+2029
      out += text[i + 2] == '\xA8' ? "\\u2028" : "\\u2029";
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string VisibleText(const std::string& text) {
  // Where the code page is UTF-8, its control characters beyond ASCII break
  // lines too; in a double-byte code page their bytes are parts of others.
  if (GetACP() == CP_UTF8) return VisibleUtf8(text);
  std::string out;
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      AppendEscapedByte(byte, out);
    } else {
      out += c;
    }
  }
  return out;
}

