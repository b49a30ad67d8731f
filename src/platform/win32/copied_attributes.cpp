#include "platform/win32/copied_attributes.h"

#include "platform/scoped_handle.h"

namespace {

bool SameFile(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
  return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
         a.nFileIndexLow == b.nFileIndexLow;
}

}  // namespace

bool GiveCopiedAttributes(const std::string& path, DWORD sourceAttributes,
                          const BY_HANDLE_FILE_INFORMATION* expected) {
  // Attributes take no part in sharing: this open does not disturb a
  // handle that the caller or another program holds.
  ScopedHandle file(CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  BY_HANDLE_FILE_INFORMATION facts;
  if (!file.IsValid() || !GetFileInformationByHandle(file.Get(), &facts)) return false;
  if ((facts.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ||
      (expected && !SameFile(facts, *expected))) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  const DWORD wanted = sourceAttributes & kCopiedAttributes;
  if ((facts.dwFileAttributes & kCopiedAttributes) == wanted) return true;
  FILE_BASIC_INFO basic{};  // times of zero are left as they are
  basic.FileAttributes = wanted ? wanted : FILE_ATTRIBUTE_NORMAL;
  return SetFileInformationByHandle(file.Get(), FileBasicInfo, &basic, sizeof basic) != FALSE;
}
