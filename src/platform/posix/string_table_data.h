// The message texts of resources/strings.rc, as the build generates them
// for the stand-in's string resources.
#pragma once

#include <stddef.h>

#include "win32_standin.h"

namespace standin {

struct StringTableEntry {
  WORD language;  // 0x0409 English (US), 0x0411 Japanese
  WORD id;
  const char16_t* text;
};

extern const StringTableEntry kStringTableEntries[];
extern const size_t kStringTableEntryCount;

}  // namespace standin
