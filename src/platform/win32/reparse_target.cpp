#include "platform/win32/reparse_target.h"

#include <string.h>

#include <algorithm>

namespace {

const ULONG kSymlinkTag = 0xA000000C;     // IO_REPARSE_TAG_SYMLINK
const ULONG kMountPointTag = 0xA0000003;  // IO_REPARSE_TAG_MOUNT_POINT
const ULONG kSymlinkRelative = 0x1;       // SYMLINK_FLAG_RELATIVE

// REPARSE_DATA_BUFFER (ntifs.h): a header, then the names' offsets and
// lengths in bytes from the path buffer; a symbolic link's path buffer
// follows a flags field, a junction's does not.
const size_t kHeaderSize = 8;
const size_t kJunctionPathBuffer = 16;
const size_t kSymlinkPathBuffer = 20;

const char kUnreadable[] = "whose target cannot be read";
const char kRemote[] = "whose target is on another computer";

USHORT ShortAt(const BYTE* data, size_t offset) {
  USHORT value;
  memcpy(&value, data + offset, sizeof value);
  return value;
}

ULONG LongAt(const BYTE* data, size_t offset) {
  ULONG value;
  memcpy(&value, data + offset, sizeof value);
  return value;
}

bool IsAsciiLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

bool IsGuidCharacter(wchar_t c) {
  return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F') ||
         c == L'-';
}

bool StartsWith(const std::wstring& text, size_t at, const wchar_t* prefix) {
  const size_t length = wcslen(prefix);
  return text.size() >= at + length && _wcsnicmp(text.c_str() + at, prefix, length) == 0;
}

// name in the code page the file calls take it in; false when a character
// has no spelling there (a best fit could name another folder).
bool Narrow(const std::wstring& name, std::string& narrow) {
  narrow.clear();
  if (name.empty()) return true;
  const UINT codePage = AreFileApisANSI() ? CP_ACP : CP_OEMCP;
  const bool utf8 = (codePage == CP_ACP ? GetACP() : GetOEMCP()) == CP_UTF8;
  const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  BOOL lost = FALSE;
  const int length = static_cast<int>(name.size());
  const int size = WideCharToMultiByte(codePage, flags, name.data(), length, nullptr, 0, nullptr,
                                       utf8 ? nullptr : &lost);
  if (size <= 0 || lost) return false;
  narrow.resize(static_cast<size_t>(size));
  return WideCharToMultiByte(codePage, flags, name.data(), length, &narrow[0], size, nullptr,
                             utf8 ? nullptr : &lost) == size &&
         !lost;
}

// The top of the volume that path (after any \??\ or \\?\) begins with,
// and where the rest begins; remote when it is a share.
bool SplitTop(const std::wstring& path, size_t at, std::wstring& top, size_t& rest, bool& remote) {
  remote = false;
  if (path.size() >= at + 2 && IsAsciiLetter(path[at]) && path[at + 1] == L':') {
    top = path.substr(at, 2) + L"\\";
    rest = at + 2;
  } else if (StartsWith(path, at, L"Volume{")) {
    const size_t end = path.find(L'}', at);
    if (end == std::wstring::npos) return false;
    for (size_t i = at + 7; i < end; ++i) {
      if (!IsGuidCharacter(path[i])) return false;
    }
    top = L"\\\\?\\" + path.substr(at, end + 1 - at) + L"\\";
    rest = end + 1;
  } else if (StartsWith(path, at, L"UNC\\") || (at == 0 && StartsWith(path, 0, L"\\\\"))) {
    const size_t server = at + (at == 0 ? 2 : 4);
    const size_t share = path.find(L'\\', server);
    if (share == std::wstring::npos || share == server) return false;
    const size_t end = std::min(path.find(L'\\', share + 1), path.size());
    if (end == share + 1) return false;
    top = L"\\\\" + path.substr(server, end - server) + L"\\";
    rest = end;
    remote = true;
  } else {
    return false;
  }
  return rest == path.size() || path[rest] == L'\\';
}

// The names of path from rest on, . and .. folded into names when fold,
// refused otherwise; false when a name is empty or .. climbs above the top.
bool AddNames(const std::wstring& path, size_t rest, bool fold, std::vector<std::wstring>& names,
              std::string& why) {
  size_t at = rest < path.size() && path[rest] == L'\\' ? rest + 1 : rest;
  while (at < path.size()) {
    const size_t end = std::min(path.find(L'\\', at), path.size());
    const std::wstring name = path.substr(at, end - at);
    at = end + 1;
    if (name.empty() || ((name == L"." || name == L"..") && !fold)) {
      why = kUnreadable;
      return false;
    }
    if (name == L"..") {
      if (names.empty()) {
        why = "whose target lies above the top of its drive";
        return false;
      }
      names.pop_back();
    } else if (name != L".") {
      names.push_back(name);
    }
  }
  return true;
}

}  // namespace

bool ReadReparseTarget(const BYTE* data, size_t size, const std::wstring& linkFolder,
                       ReparseTarget& target, std::string& why) {
  target = ReparseTarget();
  why = kUnreadable;
  if (!data || size < kHeaderSize) return false;
  const ULONG tag = LongAt(data, 0);
  const size_t pathBuffer = tag == kSymlinkTag      ? kSymlinkPathBuffer
                            : tag == kMountPointTag ? kJunctionPathBuffer
                                                    : 0;
  const size_t end = kHeaderSize + ShortAt(data, 4);
  if (!pathBuffer || end > size || end < pathBuffer) return false;
  const size_t offset = ShortAt(data, 8), length = ShortAt(data, 10);
  if (length == 0 || length % sizeof(WCHAR) || pathBuffer + offset + length > end) return false;
  std::wstring substitute(length / sizeof(WCHAR), L'\0');
  memcpy(&substitute[0], data + pathBuffer + offset, length);
  const bool relative = tag == kSymlinkTag && (LongAt(data, 16) & kSymlinkRelative);

  std::wstring top;
  size_t rest = 0;
  bool remote = false;
  std::vector<std::wstring> names;
  if (!relative) {
    if (!StartsWith(substitute, 0, L"\\??\\")) {
      why = "whose target names no drive or volume";
      return false;
    }
    if (!SplitTop(substitute, 4, top, rest, remote)) return false;
    if (remote) {
      why = kRemote;
      return false;
    }
    // A share's link that names a drive names one of that computer's.
    bool linkRemote = false;
    std::wstring linkTop;
    size_t linkRest = 0;
    const size_t linkAt = StartsWith(linkFolder, 0, L"\\\\?\\") ? 4 : 0;
    if (!SplitTop(linkFolder, linkAt, linkTop, linkRest, linkRemote)) return false;
    if (linkRemote) {
      why = kRemote;
      return false;
    }
    if (!AddNames(substitute, rest, false, names, why)) return false;
  } else {
    const size_t linkAt = StartsWith(linkFolder, 0, L"\\\\?\\") ? 4 : 0;
    if (!SplitTop(linkFolder, linkAt, top, rest, remote)) return false;
    // A name that begins with a separator begins at the top of the link's volume.
    if (substitute[0] != L'\\' && !AddNames(linkFolder, rest, true, names, why)) return false;
    if (!AddNames(substitute, 0, true, names, why)) return false;
  }

  why = "whose target has a name this computer's code page cannot spell";
  if (!Narrow(top, target.top)) return false;
  for (const std::wstring& name : names) {
    std::string narrow;
    if (!Narrow(name, narrow)) return false;
    target.names.push_back(narrow);
  }
  why.clear();
  return true;
}
