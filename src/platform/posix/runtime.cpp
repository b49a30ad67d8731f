// The C runtime's multibyte code page and path splitting, as the Microsoft
// runtime provides them.
#include <string.h>

#include "standin_internal.h"

namespace {

int currentCodePage = -1;
bool leadBytes[256];

bool SetLeadBytes(int codePage) {
  memset(leadBytes, 0, sizeof leadBytes);
  auto mark = [](int first, int last) {
    for (int c = first; c <= last; ++c) leadBytes[c] = true;
  };
  switch (codePage) {
    case 932:
      mark(0x81, 0x9F);
      mark(0xE0, 0xFC);
      return true;
    case 936:
    case 949:
    case 950:
      mark(0x81, 0xFE);
      return true;
    case 0:
    case 437:
    case 850:
    case 1250:
    case 1251:
    case 1252:
    case 1253:
    case 1254:
    case CP_UTF8:
      // Single-byte code pages, and UTF-8, which the runtime does not treat
      // as a double-byte code page: no lead bytes.
      return true;
    default:
      return false;
  }
}

void EnsureInitialised() {
  if (currentCodePage == -1) _setmbcp(_MB_CP_ANSI);
}

// Index just past the drive ("C:") of a path, or 0.
size_t DriveLength(const char* path) {
  return (path[0] && path[1] == ':') ? 2 : 0;
}

void CopyPart(char* out, size_t capacity, const char* from, size_t length) {
  if (!out) return;
  if (length >= capacity) length = capacity - 1;
  memcpy(out, from, length);
  out[length] = '\0';
}

}  // namespace

int _setmbcp(int codePage) {
  if (codePage == _MB_CP_ANSI || codePage == _MB_CP_LOCALE) codePage = static_cast<int>(GetACP());
  if (codePage == _MB_CP_OEM) codePage = 437;
  if (!SetLeadBytes(codePage)) {
    if (currentCodePage != -1) SetLeadBytes(currentCodePage);
    return -1;
  }
  currentCodePage = codePage;
  return 0;
}

int _getmbcp() {
  EnsureInitialised();
  return currentCodePage;
}

int _ismbblead(unsigned int c) {
  EnsureInitialised();
  return c < 256 && leadBytes[c];
}

void _splitpath(const char* path, char* drive, char* dir, char* fname, char* ext) {
  size_t driveLength = DriveLength(path);
  CopyPart(drive, _MAX_DRIVE, path, driveLength);
  const char* rest = path + driveLength;

  // The last separator and the last dot, scanning whole characters.
  const char* lastSeparator = nullptr;
  const char* lastDot = nullptr;
  for (const char* p = rest; *p;) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (_ismbblead(c) && p[1]) {
      p += 2;
      continue;
    }
    if (c == '\\' || c == '/') lastSeparator = p;
    if (c == '.') lastDot = p;
    ++p;
  }
  const char* name = lastSeparator ? lastSeparator + 1 : rest;
  CopyPart(dir, _MAX_DIR, rest, static_cast<size_t>(name - rest));
  const char* end = rest + strlen(rest);
  const char* extension = (lastDot && lastDot >= name) ? lastDot : end;
  CopyPart(fname, _MAX_FNAME, name, static_cast<size_t>(extension - name));
  CopyPart(ext, _MAX_EXT, extension, static_cast<size_t>(end - extension));
}

namespace standin {

std::string ToPosixPath(const char* path) {
  std::string result(path);
  for (size_t i = 0; i < result.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(result[i]);
    if (_ismbblead(c) && i + 1 < result.size()) {
      ++i;
    } else if (c == '\\') {
      result[i] = '/';
    }
  }
  return result;
}

}  // namespace standin
