// Feeds any two texts and a flag to the version comparison.
#include <stddef.h>
#include <stdint.h>

#include <string>

#include "version/version.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string input(reinterpret_cast<const char*>(data), size);
  size_t split = input.find('\n');
  std::string offered = input.substr(0, split);
  std::string installed = split == std::string::npos ? "" : input.substr(split + 1);
  const int flag = size % 2;

  bool first = IsUpdateAllowed(offered, installed, flag);
  // The callers' texts are not changed and the answer does not vary.
  if (IsUpdateAllowed(offered, installed, flag) != first) __builtin_trap();
  // A version never replaces itself while messages are enabled.
  if (IsUpdateAllowed(offered, offered, 1)) __builtin_trap();
  if (!IsUpdateAllowed(offered, offered, 0)) __builtin_trap();

  std::string rest = offered;
  while (!rest.empty()) {
    size_t before = rest.size();
    TakeVersionComponent(rest);
    if (rest.size() >= before) __builtin_trap();  // every step consumes text
  }
  return 0;
}
