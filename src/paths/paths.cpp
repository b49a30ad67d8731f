#include "paths/paths.h"

#include "platform/win32.h"

bool GetProgramDirectory(std::string& directory) {
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  // A name that filled the whole buffer was cut: the folder taken from it
  // would be the wrong one.
  if (length == 0 || length >= MAX_PATH) return false;
  char drive[_MAX_DRIVE], dir[_MAX_DIR], name[_MAX_FNAME], ext[_MAX_EXT];
  _splitpath(path, drive, dir, name, ext);
  directory = std::string(drive) + dir;
  return true;
}

bool IsReadableFolder(const std::string& folder) {
  const DWORD attributes = GetFileAttributesA(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return false;
  }
  WIN32_FIND_DATAA entry;
  const HANDLE find = FindFirstFileA((folder + "*.*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return false;
  FindClose(find);
  return true;
}

uint16_t LastCharacter(const char* text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  uint16_t code = 0;
  while (*p) {
    if (_ismbblead(*p) && p[1] != '\0') {
      code = static_cast<uint16_t>(p[0] << 8 | p[1]);
      p += 2;
    } else {
      code = *p;
      p += 1;
    }
  }
  return code;
}

void EnsureTrailingSeparator(std::string& path) {
  uint16_t last = LastCharacter(path.c_str());
  if (last != '\\' && last != '/') path += '\\';
}
