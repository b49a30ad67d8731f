#include "paths/paths.h"

#include "platform/path_separator.h"
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

bool HoldsEntry(const std::string& folder, const std::string& name) {
  return GetFileAttributesA((folder + name).c_str()) != INVALID_FILE_ATTRIBUTES;
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

std::string DisplayPath(const std::string& relativePath) {
  std::string result = relativePath;
  for (size_t i = 0; i < result.size(); ++i) {
    const auto c = static_cast<unsigned char>(result[i]);
    if (_ismbblead(c) && i + 1 < result.size()) {
      ++i;
    } else if (c == '\\' || c == '/') {
      result[i] = kPlatformSeparator;
    }
  }
  return result;
}

std::vector<std::string> FoldersAlong(const std::string& path) {
  std::vector<std::string> folders;
  const bool unc = path.size() > 1 && (path[0] == '\\' || path[0] == '/') &&
                   (path[1] == '\\' || path[1] == '/');
  int skip = unc ? 4 : 0;  // the two leading separators, then server and share
  const auto* text = reinterpret_cast<const unsigned char*>(path.c_str());
  size_t i = 0;
  const auto take = [&](size_t end) {
    if (skip > 0) {
      --skip;
      return;
    }
    const std::string folder = path.substr(0, end);
    const bool drive = folder.size() == 2 && folder[1] == ':';
    if (!folder.empty() && !drive) folders.push_back(folder);
  };
  while (i < path.size()) {
    if (_ismbblead(text[i]) && i + 1 < path.size()) {
      i += 2;
      continue;
    }
    if (text[i] == '\\' || text[i] == '/') take(i);
    ++i;
  }
  const uint16_t last = LastCharacter(path.c_str());
  if (!path.empty() && last != '\\' && last != '/') take(path.size());
  return folders;
}

bool MakeFullPath(std::string& path) {
  const auto separator = [&](size_t i) { return path[i] == '\\' || path[i] == '/'; };
  if (path.size() >= 4 && separator(0) && separator(1) && (path[2] == '.' || path[2] == '?') &&
      separator(3)) {
    return false;
  }
  char full[MAX_PATH];
  const DWORD length = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
  if (path.empty() || length == 0 || length >= sizeof full) return false;
  path.assign(full, length);
  return true;
}
