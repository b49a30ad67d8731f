// The stand-in's hive file parser over any bytes, in a single-byte and in
// the Japanese code page: whatever it accepts formats into text that parses
// into the same hive, and formats the same again; so does the canonical
// form that a changed value is written in.
#include <stddef.h>
#include <stdint.h>

#include <string>

#include "platform/posix/hive.h"
#include "platform/win32.h"

namespace {

using standin::FormatHive;
using standin::Hive;
using standin::HiveKey;
using standin::HiveValue;
using standin::ParseHive;

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

// Both hives hold the same keys with the same values (types and bytes).
void CheckSameContent(const Hive& expected, const Hive& actual) {
  Check(expected.keys().size() == actual.keys().size());
  for (const HiveKey& key : expected.keys()) {
    const HiveKey* other = actual.FindKey(key.path);
    Check(other && other->values.size() == key.values.size());
    for (const HiveValue& value : key.values) {
      const HiveValue* found = other->FindValue(value.name);
      Check(found && found->type == value.type && found->data == value.data);
    }
  }
}

void CheckStable(const std::string& text) {
  Hive hive;
  if (!ParseHive(text, hive)) return;
  const std::string once = FormatHive(hive);
  Hive again;
  Check(ParseHive(once, again));
  Check(FormatHive(again) == once);
  CheckSameContent(hive, again);

  // Every value written afresh, as a change writes it.
  for (const HiveKey& key : hive.keys()) {
    HiveKey* changed = again.FindKey(key.path);
    for (HiveValue& value : changed->values) value.source.clear();
  }
  const std::string canonical = FormatHive(again);
  Hive reread;
  Check(ParseHive(canonical, reread));
  Check(FormatHive(reread) == canonical);
  CheckSameContent(hive, reread);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  for (int codePage : {1252, 932}) {
    if (_setmbcp(codePage) != 0) __builtin_trap();
    CheckStable(text);
  }
  return 0;
}
