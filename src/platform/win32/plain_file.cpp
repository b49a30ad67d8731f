#include "platform/win32/plain_file.h"

namespace {

bool SameFile(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
  return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
         a.nFileIndexLow == b.nFileIndexLow;
}

const DWORD kNotPlain = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;

}  // namespace

ScopedHandle OpenPlainFile(const std::string& path, DWORD access, DWORD share,
                           BY_HANDLE_FILE_INFORMATION& facts,
                           const BY_HANDLE_FILE_INFORMATION* expected) {
  const DWORD named = GetFileAttributesA(path.c_str());
  if (named == INVALID_FILE_ATTRIBUTES) return ScopedHandle();
  ScopedHandle file;
  if (!(named & kNotPlain)) {
    file = ScopedHandle(CreateFileA(path.c_str(), access | FILE_READ_ATTRIBUTES, share, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  }
  if (file.IsValid() && GetFileInformationByHandle(file.Get(), &facts) &&
      !(facts.dwFileAttributes & kNotPlain) && facts.nNumberOfLinks == 1 &&
      (!expected || SameFile(facts, *expected))) {
    return file;
  }
  if (file.IsValid() || (named & kNotPlain)) SetLastError(ERROR_ACCESS_DENIED);
  return ScopedHandle();
}

bool SetAttributes(HANDLE file, DWORD attributes) {
  FILE_BASIC_INFO basic{};  // times of zero are left as they are
  basic.FileAttributes = attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
  return SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic) != FALSE;
}

bool GiveCopiedAttributes(const std::string& path, DWORD sourceAttributes,
                          const BY_HANDLE_FILE_INFORMATION* expected) {
  // Attributes take no part in sharing: this open disturbs no handle that
  // the caller or another program holds.
  BY_HANDLE_FILE_INFORMATION facts;
  const ScopedHandle file =
      OpenPlainFile(path, FILE_WRITE_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, facts, expected);
  if (!file.IsValid()) return false;
  const DWORD wanted = sourceAttributes & kCopiedAttributes;
  return (facts.dwFileAttributes & kCopiedAttributes) == wanted || SetAttributes(file.Get(), wanted);
}

bool RemovePlainFile(const std::string& path) {
  // Without sharing: a file that another run is writing is not taken.
  BY_HANDLE_FILE_INFORMATION facts;
  const ScopedHandle file = OpenPlainFile(path, DELETE | FILE_WRITE_ATTRIBUTES, 0, facts);
  if (!file.IsValid()) return false;
  if ((facts.dwFileAttributes & FILE_ATTRIBUTE_READONLY) &&
      !SetAttributes(file.Get(), facts.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY & kCopiedAttributes)) {
    return false;
  }
  FILE_DISPOSITION_INFO disposition{TRUE};
  return SetFileInformationByHandle(file.Get(), FileDispositionInfo, &disposition,
                                    sizeof disposition) != FALSE;
}
