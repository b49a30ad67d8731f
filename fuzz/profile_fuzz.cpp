// Reads the settings from any file content.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "settings/settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string folder = [] {
    char pattern[] = "/tmp/quorvex-profile-fuzz-XXXXXX";
    return std::string(mkdtemp(pattern)) + "/";
  }();
  FILE* file = fopen((folder + "Quorvex.ini").c_str(), "wb");
  if (!file) abort();
  fwrite(data, 1, size, file);
  fclose(file);

  InstallerSettings settings = ReadInstallerSettings(folder);
  for (const std::string* value : {&settings.productGuid, &settings.language,
                                   &settings.manualVersion, &settings.product}) {
    if (value->size() > 254) __builtin_trap();
    if (!value->empty() && (value->front() == ' ' || value->back() == ' ')) __builtin_trap();
  }
  return 0;
}
