// QuorvexKit's "check": what in a kit would make the installation fail or go
// wrong on Windows, found without changing anything.
#pragma once

#include <string>

#include "kit/report/report.h"

namespace kit {

struct CheckOptions {
  std::string installDir;  // empty: "C:\Program Files (x86)\<Product>\"
  int codePage = 0;        // 932 or 1252; 0: check both
};

// Reads the kit folder (the one holding Quorvex.ini and SRC) and changes
// nothing. The summary holds files, folders, bytes and links (numbers),
// installDir, longestInstallDir and longestKitDir (bytes, without the
// trailing separator: the longest install directory and kit folder the
// kit's paths fit under), codePages, errors and warnings.
Report RunCheck(const std::string& kitFolder, const CheckOptions& options);

}  // namespace kit
