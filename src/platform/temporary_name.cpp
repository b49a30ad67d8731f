#include "platform/replace_file.h"

std::string FirstTemporaryCopyName(const std::string& name) {
  return "." + name + ".quorvex-partial";
}

std::string TemporaryCopyName(const std::string& sourceFolder, const std::string& name) {
  std::string temporary = FirstTemporaryCopyName(name);
  while (GetFileAttributesA((sourceFolder + temporary).c_str()) != INVALID_FILE_ATTRIBUTES) {
    temporary += '~';
  }
  return temporary;
}
