#include "platform/replace_file.h"

#include <algorithm>

namespace {

// Room for the name in a folder of folderLength bytes, the terminating
// null included.
size_t RoomFor(const std::string& name, size_t folderLength) {
  const size_t left = folderLength + 1 < MAX_PATH ? MAX_PATH - 1 - folderLength : 0;
  return std::max(name.size(), std::min(left, kTemporaryNameLength));
}

// The choice-th name: the hash's low digits first, so that a shortened name
// still differs from one choice to the next.
std::string Candidate(const std::string& name, size_t length, uint64_t choice) {
  uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (char c : name) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  hash += choice;
  std::string temporary = "~q";
  for (size_t i = 0; i < kTemporaryNameLength - 2; ++i, hash >>= 4) {
    temporary += "0123456789abcdef"[hash & 15];
  }
  return temporary.substr(0, std::min(length, kTemporaryNameLength));
}

}  // namespace

std::string FirstTemporaryCopyName(const std::string& name, size_t destinationFolderLength) {
  return Candidate(name, RoomFor(name, destinationFolderLength), 0);
}

std::string NextTemporaryCopyName(const std::string& sourceFolder, const std::string& name,
                                  size_t destinationFolderLength, uint64_t& choice) {
  const size_t length = RoomFor(name, destinationFolderLength);
  const uint64_t choices = length <= 2 ? 1 : 64;
  for (; choice < choices; ++choice) {
    std::string temporary = Candidate(name, length, choice);
    if (GetFileAttributesA((sourceFolder + temporary).c_str()) == INVALID_FILE_ATTRIBUTES) {
      return temporary;
    }
  }
  return "";
}

std::string TemporaryCopyName(const std::string& sourceFolder, const std::string& name,
                              size_t destinationFolderLength) {
  uint64_t choice = 0;
  return NextTemporaryCopyName(sourceFolder, name, destinationFolderLength, choice);
}
