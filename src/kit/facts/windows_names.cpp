#include "kit/facts/windows_names.h"

#include <stdio.h>
#include <string.h>

#include "kit/facts/code_pages.h"

namespace kit {

namespace {

const char kReservedCharacters[] = "<>:\"/\\|?*";
const char* const kDeviceNames[] = {"CON", "PRN", "AUX", "NUL"};
const char* const kNumberedDeviceNames[] = {"COM", "LPT"};

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

std::string Hex(unsigned char b) {
  char text[8];
  snprintf(text, sizeof text, "0x%02X", b);
  return text;
}

// The device that name stands for ("NUL" for "nul.txt"), or empty. The part
// before the first dot counts, without trailing blanks.
std::string DeviceName(const std::string& name) {
  std::string base = name.substr(0, name.find('.'));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  for (char& c : base) c = Upper(c);
  for (const char* device : kDeviceNames) {
    if (base == device) return base;
  }
  for (const char* prefix : kNumberedDeviceNames) {
    if (base.size() == 4 && base.compare(0, 3, prefix) == 0 && base[3] >= '1' && base[3] <= '9') {
      return base;
    }
  }
  return {};
}

// Folds the double-byte letters of code page 932 that have two cases.
void FoldJapaneseLetter(unsigned char lead, unsigned char& trail) {
  if (lead == 0x82 && trail >= 0x81 && trail <= 0x9A) {
    trail = static_cast<unsigned char>(trail - 0x21);  // full-width a-z
  } else if (lead == 0x83 && trail >= 0xBF && trail <= 0xD6) {
    trail = static_cast<unsigned char>(trail - 0x20);  // Greek
  } else if (lead == 0x84 && trail >= 0x70 && trail <= 0x7E) {
    trail = static_cast<unsigned char>(trail - 0x30);  // Cyrillic, first part
  } else if (lead == 0x84 && trail >= 0x80 && trail <= 0x91) {
    trail = static_cast<unsigned char>(trail - 0x31);  // Cyrillic, after the gap at 0x7F
  }
}

unsigned char FoldWesternLetter(unsigned char b) {
  if (b >= 'a' && b <= 'z') return static_cast<unsigned char>(b - 0x20);
  if (b >= 0xE0 && b <= 0xFE && b != 0xF7) return static_cast<unsigned char>(b - 0x20);
  switch (b) {
    case 0x9A: return 0x8A;  // s with caron
    case 0x9C: return 0x8C;  // oe
    case 0x9E: return 0x8E;  // z with caron
    case 0xFF: return 0x9F;  // y with diaeresis
    default: return b;
  }
}

}  // namespace

std::string InvalidNameReason(const std::string& name, int codePage) {
  if (name.empty()) return "is empty, which Windows does not allow";
  size_t last = 0;
  for (size_t i = 0; i < name.size(); i += CharacterLength(name, i, codePage)) {
    last = i;
    if (CharacterLength(name, i, codePage) == 2) continue;
    const unsigned char c = static_cast<unsigned char>(name[i]);
    if (c < 0x20) return "holds the control byte " + Hex(c) + ", which Windows does not allow in names";
    if (strchr(kReservedCharacters, c)) {
      return std::string("holds the character \"") + name[i] + "\", which Windows does not allow in names";
    }
  }
  if (CharacterLength(name, last, codePage) == 1) {
    if (name[last] == '.') return "ends in a dot, which Windows drops from names";
    if (name[last] == ' ') return "ends in a blank, which Windows drops from names";
  }
  const std::string device = DeviceName(name);
  if (!device.empty()) return "stands for the device " + device + " on Windows";
  return {};
}

std::string CaseFoldKey(const std::string& name, int codePage) {
  std::string key = name;
  for (size_t i = 0; i < key.size();) {
    auto* bytes = reinterpret_cast<unsigned char*>(&key[i]);
    if (codePage == kJapaneseCodePage) {
      if (CharacterLength(key, i, codePage) == 2) {
        FoldJapaneseLetter(bytes[0], bytes[1]);
        i += 2;
        continue;
      }
      bytes[0] = static_cast<unsigned char>(Upper(static_cast<char>(bytes[0])));
    } else {
      bytes[0] = FoldWesternLetter(bytes[0]);
    }
    ++i;
  }
  return key;
}

std::string Printable(const std::string& name) {
  std::string text;
  for (char c : name) {
    const unsigned char b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7F) {
      char escaped[8];
      snprintf(escaped, sizeof escaped, "\\x%02X", b);
      text += escaped;
    } else {
      text += c;
    }
  }
  return text;
}

}  // namespace kit
