// A link's own statement of its target is its reparse data
// (FSCTL_GET_REPARSE_POINT): the print name of a symbolic link or junction.
#include "platform/link_target.h"

#include "platform/win32.h"
// After windows.h, which it needs.
#include <winioctl.h>

#include <vector>

#include "platform/scoped_handle.h"

namespace {

// The reparse data of symbolic links and junctions (ntifs.h).
struct ReparseData {
  ULONG tag;
  USHORT dataLength;
  USHORT reserved;
  USHORT substituteOffset;
  USHORT substituteLength;
  USHORT printOffset;
  USHORT printLength;
};
const ULONG kSymlinkTag = 0xA000000C;     // IO_REPARSE_TAG_SYMLINK
const ULONG kMountPointTag = 0xA0000003;  // IO_REPARSE_TAG_MOUNT_POINT

std::string Narrow(const WCHAR* text, size_t length) {
  const int size = WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length), nullptr, 0,
                                       nullptr, nullptr);
  std::string narrow(static_cast<size_t>(size > 0 ? size : 0), '\0');
  if (size > 0) {
    WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length), &narrow[0], size, nullptr,
                        nullptr);
  }
  return narrow;
}

}  // namespace

bool ReadLinkText(const std::string& path, std::string& target) {
  ScopedHandle link(CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  return link.IsValid() && ReadLinkTextOf(link.Get(), target);
}

bool ReadLinkTextOf(HANDLE link, std::string& target) {
  std::vector<BYTE> buffer(MAXIMUM_REPARSE_DATA_BUFFER_SIZE);
  DWORD got = 0;
  if (!DeviceIoControl(link, FSCTL_GET_REPARSE_POINT, nullptr, 0, buffer.data(),
                       static_cast<DWORD>(buffer.size()), &got, nullptr) ||
      got < sizeof(ReparseData)) {
    return false;
  }
  const auto* data = reinterpret_cast<const ReparseData*>(buffer.data());
  // A symbolic link's path buffer follows a flags field; a junction's does not.
  size_t names = sizeof(ReparseData);
  if (data->tag == kSymlinkTag) {
    names += sizeof(ULONG);
  } else if (data->tag != kMountPointTag) {
    return false;
  }
  const size_t end = names + data->printOffset + data->printLength;
  if (end > got || data->printLength == 0) return false;
  target = Narrow(reinterpret_cast<const WCHAR*>(buffer.data() + names + data->printOffset),
                  data->printLength / sizeof(WCHAR));
  return true;
}

bool FinalPath(const std::string& path, std::string& final) {
  ScopedHandle file(CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file.IsValid()) return false;
  char buffer[MAX_PATH * 4];
  const DWORD length =
      GetFinalPathNameByHandleA(file.Get(), buffer, sizeof buffer, FILE_NAME_NORMALIZED);
  if (length == 0 || length >= sizeof buffer) return false;
  final.assign(buffer, length);
  if (final.compare(0, 4, "\\\\?\\") == 0) final.erase(0, 4);
  return true;
}
