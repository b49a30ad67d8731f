// Path and text scanning over any bytes, in the Japanese code page, where
// the second byte of a character may look like a separator or a dot.
#include <stddef.h>
#include <stdint.h>

#include <string>

#include "paths/paths.h"
#include "platform/win32.h"
#include "settings/settings.h"
#include "version/version.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool codePageSet = _setmbcp(932) == 0;
  if (!codePageSet) __builtin_trap();
  std::string text(reinterpret_cast<const char*>(data), size);
  text = text.substr(0, text.find('\0'));

  // A text that ends in a lead byte without its second byte is no valid
  // name; the separator appended to it pairs with that lead byte.
  bool danglingLead = false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (_ismbblead(static_cast<unsigned char>(text[i]))) {
      if (i + 1 == text.size()) danglingLead = true;
      ++i;
    }
  }

  std::string path = text;
  EnsureTrailingSeparator(path);
  // Only ever one separator is added, and only when there was none.
  if (path.size() > text.size() + 1) __builtin_trap();
  if (!danglingLead) {
    const uint16_t last = LastCharacter(path.c_str());
    if (last != '\\' && last != '/') __builtin_trap();
    std::string again = path;
    EnsureTrailingSeparator(again);
    if (again != path) __builtin_trap();
  }

  std::string trimmed = TrimWhiteSpace(text);
  if (trimmed.size() > text.size() || text.find(trimmed) == std::string::npos) __builtin_trap();

  std::string version = text;
  while (!version.empty()) TakeVersionComponent(version);
  return 0;
}
