#include "kit/facts/file_facts.h"

#include <string.h>

#include <vector>

#include "paths/paths.h"
#include "platform/scoped_handle.h"
#include "platform/win32.h"

namespace kit {

namespace {

HANDLE OpenForReading(const std::string& path) {
  return CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool ReadTime(HANDLE file, uint64_t& time) {
  FILETIME writeTime;
  if (!GetFileTime(file, nullptr, nullptr, &writeTime)) return false;
  time = (static_cast<uint64_t>(writeTime.dwHighDateTime) << 32) | writeTime.dwLowDateTime;
  return true;
}

// Index of the last separator of path, stepping over double-byte characters;
// npos when there is none.
size_t LastSeparator(const std::string& path) {
  size_t last = std::string::npos;
  for (size_t i = 0; i < path.size(); ++i) {
    const auto c = static_cast<unsigned char>(path[i]);
    if (_ismbblead(c) && i + 1 < path.size()) {
      ++i;
    } else if (c == '\\' || c == '/') {
      last = i;
    }
  }
  return last;
}

bool IsRoot(const std::string& folder) {
  return folder.empty() || folder == "/" || folder == "\\" ||
         (folder.size() <= 3 && folder.size() >= 2 && folder[1] == ':');
}

// Reads up to size bytes, as many as there are.
bool ReadChunk(HANDLE file, std::vector<char>& buffer, DWORD& read) {
  return ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr) != FALSE;
}

}  // namespace

EntryKind KindOf(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return EntryKind::Absent;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? EntryKind::Folder : EntryKind::File;
}

std::string ParentFolder(const std::string& path) {
  const size_t separator = LastSeparator(WithoutTrailingSeparator(path));
  if (separator == std::string::npos) return ".";
  const std::string parent = path.substr(0, separator);
  return IsRoot(parent) ? path.substr(0, separator + 1) : parent;
}

std::string WithoutTrailingSeparator(const std::string& path) {
  const uint16_t last = LastCharacter(path.c_str());
  if (last != '\\' && last != '/') return path;
  const std::string shorter = path.substr(0, path.size() - 1);
  return IsRoot(shorter) ? path : shorter;
}

bool CanOpenForReading(const std::string& path) {
  return ScopedHandle(OpenForReading(path)).IsValid();
}

std::string ReplaceReason(const std::string& installed, const std::string& source) {
  ScopedHandle installedFile(OpenForReading(installed));
  if (!installedFile.IsValid()) return "the installed file cannot be opened";
  ScopedHandle sourceFile(OpenForReading(source));
  uint64_t installedTime = 0, sourceTime = 0;
  std::string reason;
  if (!sourceFile.IsValid() || !ReadTime(sourceFile.Get(), sourceTime)) {
    reason = "the kit's file time cannot be read";
  } else if (!ReadTime(installedFile.Get(), installedTime)) {
    reason = "the installed file's time cannot be read";
  } else {
    reason = installedTime < sourceTime ? "older" : installedTime == sourceTime ? "equal time" : "newer";
  }
  const DWORD attributes = GetFileAttributesA(installed.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
    reason += ", read-only";
  }
  return reason;
}

bool SameContent(const std::string& first, const std::string& second) {
  ScopedHandle a(OpenForReading(first));
  ScopedHandle b(OpenForReading(second));
  if (!a.IsValid() || !b.IsValid()) return false;
  std::vector<char> bufferA(64 * 1024), bufferB(64 * 1024);
  for (;;) {
    DWORD readA = 0, readB = 0;
    if (!ReadChunk(a.Get(), bufferA, readA) || !ReadChunk(b.Get(), bufferB, readB)) return false;
    // A read of a file on disk returns all that was asked for until its end.
    if (readA != readB || memcmp(bufferA.data(), bufferB.data(), readA) != 0) return false;
    if (readA == 0) return true;
  }
}

bool ReadWriteTime(const std::string& path, uint64_t& time) {
  ScopedHandle file(OpenForReading(path));
  return file.IsValid() && ReadTime(file.Get(), time);
}

}  // namespace kit
