#include "platform/win32/plain_file.h"

#include "platform/win32/nt_files.h"

namespace {

bool SameFile(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
  return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
         a.nFileIndexLow == b.nFileIndexLow;
}

const DWORD kNotPlain = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;

// file, when it shows a plain file with one name (that expected describes).
ScopedHandle KeepIfPlain(ScopedHandle file, BY_HANDLE_FILE_INFORMATION& facts,
                         const BY_HANDLE_FILE_INFORMATION* expected) {
  if (!file.IsValid()) return file;
  if (GetFileInformationByHandle(file.Get(), &facts) && !(facts.dwFileAttributes & kNotPlain) &&
      facts.nNumberOfLinks == 1 && (!expected || SameFile(facts, *expected))) {
    return file;
  }
  SetLastError(ERROR_ACCESS_DENIED);
  return ScopedHandle();
}

bool NamedAsLink(const std::string& path) {
  const DWORD named = GetFileAttributesA(path.c_str());
  return named != INVALID_FILE_ATTRIBUTES && (named & kNotPlain);
}

}  // namespace

ScopedHandle OpenPlainFile(const HeldFolder& folder, const std::string& name, DWORD access,
                           DWORD share, BY_HANDLE_FILE_INFORMATION& facts,
                           const BY_HANDLE_FILE_INFORMATION* expected) {
  if (!folder.IsHeld()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return ScopedHandle();
  }
  if (NamedAsLink(folder.Path() + name)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return ScopedHandle();
  }
  return KeepIfPlain(OpenRelative(folder.Get(), name, access | FILE_READ_ATTRIBUTES, share,
                                  kOpenExisting, kFileOnly | kOpenReparsePoint),
                     facts, expected);
}

bool SetAttributes(HANDLE file, DWORD attributes) {
  FILE_BASIC_INFO basic{};  // times of zero are left as they are
  basic.FileAttributes = attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
  return SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic) != FALSE;
}

bool GiveCopiedAttributes(const HeldFolder& folder, const std::string& name,
                          DWORD sourceAttributes, const BY_HANDLE_FILE_INFORMATION* expected) {
  // Attributes take no part in sharing: this open disturbs no handle that
  // the caller or another program holds.
  BY_HANDLE_FILE_INFORMATION facts;
  const ScopedHandle file =
      OpenPlainFile(folder, name, FILE_WRITE_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, facts, expected);
  if (!file.IsValid()) return false;
  const DWORD wanted = sourceAttributes & kCopiedAttributes;
  return (facts.dwFileAttributes & kCopiedAttributes) == wanted || SetAttributes(file.Get(), wanted);
}

bool RemovePlainFile(const HeldFolder& folder, const std::string& name) {
  // Without sharing: a file that another run is writing is not taken.
  BY_HANDLE_FILE_INFORMATION facts;
  const ScopedHandle file = OpenPlainFile(folder, name, DELETE | FILE_WRITE_ATTRIBUTES, 0, facts);
  if (!file.IsValid()) return false;
  if ((facts.dwFileAttributes & FILE_ATTRIBUTE_READONLY) &&
      !SetAttributes(file.Get(), facts.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY & kCopiedAttributes)) {
    return false;
  }
  FILE_DISPOSITION_INFO disposition{TRUE};
  return SetFileInformationByHandle(file.Get(), FileDispositionInfo, &disposition,
                                    sizeof disposition) != FALSE;
}
