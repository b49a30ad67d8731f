// The findings on a kit's SRC tree: names, path lengths and files that would
// make the installer fail or install something else on Windows.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "kit/report/report.h"

namespace kit {

struct SourceCheckInput {
  std::string kitDirectory;      // ends in a separator
  std::string installDirectory;  // ends in a separator
  std::vector<int> codePages;    // 932, 1252 or both
};

struct SourceSummary {
  uint64_t files = 0;
  uint64_t folders = 0;  // below SRC
  uint64_t bytes = 0;
  uint64_t links = 0;
  // The longest install directory and kit folder, in bytes without the
  // trailing separator, under which no path of the kit reaches MAX_PATH.
  long longestInstallDir = 0;
  long longestKitDir = 0;
};

SourceSummary CheckSource(const SourceCheckInput& input, std::vector<Finding>& findings);

}  // namespace kit
