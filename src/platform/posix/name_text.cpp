#include "platform/name_text.h"

#include <algorithm>

#include "platform/win32.h"

// Well-formed UTF-8 with at least one byte above 0x7F, decoded.
std::u16string NameAsText(const std::string& listedName) {
  const bool plain = std::all_of(listedName.begin(), listedName.end(),
                                 [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  return plain ? std::u16string() : DecodeName(listedName, CP_UTF8);
}

std::map<std::string, std::u16string> NamesListedOtherwise(const std::string&) { return {}; }
