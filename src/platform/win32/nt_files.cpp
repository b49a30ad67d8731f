#include "platform/win32/nt_files.h"

#include <winternl.h>

#include <string.h>

#include <vector>

namespace {

// The name as the A calls would take it, in wide characters; empty when
// it is no name those calls would take.
std::vector<WCHAR> Wide(const std::string& name) {
  std::vector<WCHAR> wide(name.size());  // a byte gives a character at most
  // Every ANSI and OEM code page takes ASCII as ASCII: most names need no call.
  bool ascii = true;
  for (size_t i = 0; i < name.size() && ascii; ++i) {
    ascii = static_cast<unsigned char>(name[i]) < 0x80;
    wide[i] = static_cast<WCHAR>(name[i]);
  }
  if (ascii) return wide;
  static const UINT codePage = AreFileApisANSI() ? CP_ACP : CP_OEMCP;
  const int length = name.empty() ? 0
                                  : MultiByteToWideChar(codePage, 0, name.data(),
                                                        static_cast<int>(name.size()), wide.data(),
                                                        static_cast<int>(wide.size()));
  wide.resize(length > 0 ? length : 0);
  return wide;
}

bool Succeeded(NTSTATUS status) {
  if (status >= 0) return true;
  SetLastError(RtlNtStatusToDosError(status));
  return false;
}

}  // namespace

ScopedHandle OpenRelative(HANDLE folder, const std::string& name, ACCESS_MASK access, ULONG share,
                          ULONG disposition, ULONG options, ULONG attributes, LONG* status) {
  std::vector<WCHAR> wide = Wide(name);
  const USHORT bytes = static_cast<USHORT>(wide.size() * sizeof(WCHAR));
  if (wide.empty() || wide.size() * sizeof(WCHAR) > 0xfffe) {
    SetLastError(ERROR_INVALID_NAME);
    return ScopedHandle();
  }
  UNICODE_STRING text{bytes, bytes, wide.data()};
  OBJECT_ATTRIBUTES object;
  InitializeObjectAttributes(&object, &text, OBJ_CASE_INSENSITIVE, folder, nullptr);
  IO_STATUS_BLOCK io{};
  HANDLE handle = INVALID_HANDLE_VALUE;
  const NTSTATUS result = NtCreateFile(&handle, access | SYNCHRONIZE, &object, &io, nullptr,
                                       attributes, share, disposition, options | kSynchronousIo,
                                       nullptr, 0);
  if (status) {
    *status = result;
    return result >= 0 ? ScopedHandle(handle) : ScopedHandle();
  }
  return Succeeded(result) ? ScopedHandle(handle) : ScopedHandle();
}

bool RenameRelative(HANDLE file, HANDLE folder, const std::string& name, bool replace) {
  const std::vector<WCHAR> wide = Wide(name);
  if (wide.empty()) {
    SetLastError(ERROR_INVALID_NAME);
    return false;
  }
  const size_t bytes = wide.size() * sizeof(WCHAR);
  std::vector<char> buffer(sizeof(FILE_RENAME_INFORMATION) + bytes);
  auto* rename = reinterpret_cast<FILE_RENAME_INFORMATION*>(buffer.data());
  rename->ReplaceIfExists = replace;
  rename->RootDirectory = folder;
  rename->FileNameLength = static_cast<ULONG>(bytes);
  memcpy(rename->FileName, wide.data(), bytes);
  IO_STATUS_BLOCK io{};
  return Succeeded(NtSetInformationFile(file, &io, rename, static_cast<ULONG>(buffer.size()),
                                        FileRenameInformation));
}
