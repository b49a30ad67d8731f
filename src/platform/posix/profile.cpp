// GetPrivateProfileStringA and GetPrivateProfileIntA over a plain file read,
// through the one reader of settings files as Windows reads them
// (platform/profile_text.h).
#include <stdio.h>
#include <string.h>

#include <string>
#include <string_view>

#include "platform/profile_text.h"
#include "standin_internal.h"

namespace {

bool ReadWholeFile(const char* fileName, std::string& content) {
  std::string path = standin::ToPosixPath(fileName);
  FILE* file = fopen(path.c_str(), "rb");
  if (!file) return false;
  char chunk[65536];
  for (size_t n; (n = fread(chunk, 1, sizeof chunk, file)) > 0;) content.append(chunk, n);
  fclose(file);
  return true;
}

// Copies what fits of value; a cut value sets ERROR_MORE_DATA, as on Windows.
DWORD CopyOut(std::string_view value, LPSTR returned, DWORD size) {
  if (!returned || size == 0) return 0;
  const std::string_view fits = CutProfileValue(value, size);
  if (fits.size() < value.size()) SetLastError(ERROR_MORE_DATA);
  memcpy(returned, fits.data(), fits.size());
  returned[fits.size()] = '\0';
  return static_cast<DWORD>(fits.size());
}

}  // namespace

DWORD WINAPI GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue,
                                      LPSTR returned, DWORD size, LPCSTR fileName) {
  std::string content, value;
  if (section && key && fileName && ReadWholeFile(fileName, content) &&
      FindProfileValue(ParseProfile(content), section, key, value)) {
    return CopyOut(value, returned, size);
  }
  // The default loses trailing blanks, as it does on Windows.
  std::string_view fallback = defaultValue ? defaultValue : "";
  while (!fallback.empty() && fallback.back() == ' ') fallback.remove_suffix(1);
  SetLastError(ERROR_FILE_NOT_FOUND);
  return CopyOut(fallback, returned, size);
}

UINT WINAPI GetPrivateProfileIntA(LPCSTR section, LPCSTR key, int defaultValue,
                                  LPCSTR fileName) {
  char text[32];
  const DWORD length = GetPrivateProfileStringA(section, key, "", text, sizeof text, fileName);
  return length == 0 ? static_cast<UINT>(defaultValue) : ProfileNumber(std::string_view(text, length));
}
