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

// One name of one folder: a separator would look the rest up through
// whatever the first part is, a link included, and a colon names a stream.
// Judged in wide characters, where a double-byte character's trail byte is
// no separator.
bool IsOneName(const std::vector<WCHAR>& wide) {
  for (WCHAR c : wide) {
    if (c == L'\\' || c == L'/' || c == L':') return false;
  }
  return !wide.empty();
}

const ULONG_PTR kFileCreated = 2;  // FILE_CREATED
const NTSTATUS kOplockBreakInProgress = 0x00000108;  // STATUS_OPLOCK_BREAK_IN_PROGRESS
const NTSTATUS kSharingViolation = static_cast<NTSTATUS>(0xC0000043);  // STATUS_SHARING_VIOLATION
const ACCESS_MASK kAccessThatBreaksNoOplock =
    FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE;

bool Succeeded(NTSTATUS status) {
  if (status >= 0) return true;
  SetLastError(RtlNtStatusToDosError(status));
  return false;
}

}  // namespace

namespace {

ScopedHandle OpenWide(HANDLE folder, std::vector<WCHAR>& wide, ACCESS_MASK access, ULONG share,
                      ULONG disposition, ULONG options, ULONG attributes, LONG* status,
                      bool* created = nullptr, PSECURITY_DESCRIPTOR security = nullptr) {
  const USHORT bytes = static_cast<USHORT>(wide.size() * sizeof(WCHAR));
  if (wide.empty() || wide.size() * sizeof(WCHAR) > 0xfffe) {
    SetLastError(ERROR_INVALID_NAME);
    if (status) *status = static_cast<LONG>(0xC0000033);  // STATUS_OBJECT_NAME_INVALID
    return ScopedHandle();
  }
  UNICODE_STRING text{bytes, bytes, wide.data()};
  OBJECT_ATTRIBUTES object;
  InitializeObjectAttributes(&object, &text, OBJ_CASE_INSENSITIVE, folder, security);
  IO_STATUS_BLOCK io{};
  HANDLE handle = INVALID_HANDLE_VALUE;
  // An open that would wait for another program's oplock to be let go
  // returns at once instead: that program holds the file, for as long as it
  // likes. Opens for attributes and permissions alone break no oplock.
  const bool breaksOplocks = (access & ~kAccessThatBreaksNoOplock) != 0;
  NTSTATUS result = NtCreateFile(&handle, access | SYNCHRONIZE, &object, &io, nullptr, attributes,
                                 share, disposition,
                                 options | kSynchronousIo | (breaksOplocks ? kCompleteIfOplocked : 0),
                                 nullptr, 0);
  if (result == kOplockBreakInProgress) {
    CloseHandle(handle);
    result = kSharingViolation;
  }
  if (created) *created = result >= 0 && io.Information == kFileCreated;
  if (status) {
    *status = result;
    return result >= 0 ? ScopedHandle(handle) : ScopedHandle();
  }
  return Succeeded(result) ? ScopedHandle(handle) : ScopedHandle();
}

}  // namespace

ScopedHandle OpenRelative(HANDLE folder, const std::string& name, ACCESS_MASK access, ULONG share,
                          ULONG disposition, ULONG options, ULONG attributes, LONG* status,
                          bool* created) {
  std::vector<WCHAR> wide = Wide(name);
  if (!IsOneName(wide)) wide.clear();
  return OpenWide(folder, wide, access, share, disposition, options, attributes, status, created);
}

ScopedHandle CreateFolderRelative(HANDLE folder, const std::string& name,
                                  PSECURITY_DESCRIPTOR security) {
  std::vector<WCHAR> wide = Wide(name);
  if (!IsOneName(wide)) wide.clear();
  return OpenWide(folder, wide, FILE_LIST_DIRECTORY | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  kCreateNew, kFolderOnly | kOpenReparsePoint, FILE_ATTRIBUTE_NORMAL, nullptr,
                  nullptr, security);
}

ScopedHandle OpenStreamRelative(HANDLE folder, const std::string& name, const std::string& stream,
                                ACCESS_MASK access, ULONG share, ULONG disposition, ULONG options,
                                LONG* status) {
  std::vector<WCHAR> wide = Wide(name);
  const std::vector<WCHAR> streamName = Wide(stream);
  if (!IsOneName(wide) || !IsOneName(streamName)) {
    wide.clear();
  } else {
    wide.push_back(L':');
    wide.insert(wide.end(), streamName.begin(), streamName.end());
  }
  return OpenWide(folder, wide, access, share, disposition, options, FILE_ATTRIBUTE_NORMAL, status);
}

bool RenameRelative(HANDLE file, HANDLE folder, const std::string& name, bool replace) {
  const std::vector<WCHAR> wide = Wide(name);
  if (!IsOneName(wide)) {
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
