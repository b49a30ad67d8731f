#include "platform/replace_file.h"

std::string TemporaryCopyName(const std::string& sourceFolder, const std::string& name) {
  std::string temporary = "." + name + ".quorvex-partial";
  while (GetFileAttributesA((sourceFolder + temporary).c_str()) != INVALID_FILE_ATTRIBUTES) {
    temporary += '~';
  }
  return temporary;
}
