#include "platform/name_text.h"

// Well-formed UTF-8 with at least one byte above 0x7F, decoded.
std::u16string NameAsText(const std::string& listedName) {
  std::u16string text;
  bool wide = false;
  for (size_t i = 0; i < listedName.size();) {
    const auto lead = static_cast<unsigned char>(listedName[i]);
    int extra = 0;
    char32_t code = lead;
    if (lead >= 0xF0 && lead <= 0xF4) {
      extra = 3, code = lead & 0x07;
    } else if (lead >= 0xE0) {
      extra = 2, code = lead & 0x0F;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      extra = 1, code = lead & 0x1F;
    } else if (lead >= 0x80) {
      return {};
    }
    if (extra > 0 && i + extra >= listedName.size()) return {};
    for (int k = 1; k <= extra; ++k) {
      const auto next = static_cast<unsigned char>(listedName[i + k]);
      if ((next & 0xC0) != 0x80) return {};
      code = (code << 6) | (next & 0x3F);
    }
    const char32_t smallest[] = {0, 0x80, 0x800, 0x10000};
    if (code < smallest[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return {};
    wide = wide || extra > 0;
    if (code >= 0x10000) {
      text += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
      text += static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
    } else {
      text += static_cast<char16_t>(code);
    }
    i += static_cast<size_t>(extra) + 1;
  }
  return wide ? text : std::u16string();
}

std::map<std::string, std::u16string> NamesListedOtherwise(const std::string&) { return {}; }
