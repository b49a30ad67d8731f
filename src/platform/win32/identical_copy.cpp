// The quick check on Windows. The source's size, time and attributes come
// from its folder's listing, the destination's from the handle that the
// overwrite decision opened; only the bytes are read. A link at the
// destination shows through the handle as the file it leads to: what is
// kept that way is not written through.
#include <string.h>

#include <memory>

#include "platform/kill_points.h"
#include "platform/replace_file.h"
#include "platform/scoped_handle.h"
#include "platform/win32/plain_file.h"

namespace {

HANDLE OpenForReading(const std::string& path) {
  return CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

// The lent handle, or one of our own.
HANDLE Use(HANDLE lent, const std::string& path, ScopedHandle& own) {
  if (lent != INVALID_HANDLE_VALUE) return lent;
  own = ScopedHandle(OpenForReading(path));
  return own.Get();
}

// Reads exactly size bytes into buffer; a file that holds more or fewer
// (it changed since it was looked at) is not a copy.
bool ReadExactly(HANDLE file, char* buffer, DWORD size, bool last) {
  DWORD got = 0;
  // The last read asks one byte more, to see the end without another call.
  const DWORD asked = last ? size + 1 : size;
  return ReadFile(file, buffer, asked, &got, nullptr) && got == size;
}

// Whether both files hold the same size bytes from where they stand.
bool SameBytes(HANDLE a, HANDLE b, uint64_t size) {
  const DWORD kChunk = 1 << 17;
  // One pair of buffers for every comparison of the run.
  static const std::unique_ptr<char[]> first(new char[kChunk + 1]), second(new char[kChunk + 1]);
  for (uint64_t left = size;;) {
    const DWORD chunk = left < kChunk ? static_cast<DWORD>(left) : kChunk;
    const bool last = left <= kChunk;
    if (!ReadExactly(a, first.get(), chunk, last) || !ReadExactly(b, second.get(), chunk, last) ||
        memcmp(first.get(), second.get(), chunk) != 0) {
      return false;
    }
    if (last) return true;
    left -= chunk;
  }
}

bool SameTime(const FILETIME& a, const FILETIME& b) {
  return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

}  // namespace

bool KeepIdenticalCopy(const std::string& source, const HeldFolder& folder,
                       const std::string& name, const ListedFile& listed, LentFiles lent) {
  const DWORD notPlain = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
  if (listed.attributes == INVALID_FILE_ATTRIBUTES || (listed.attributes & notPlain)) return false;
  ScopedHandle ownDestination, ownSource;
  if (lent.destination == INVALID_HANDLE_VALUE) {
    ownDestination = folder.OpenForReading(name);
    lent.destination = ownDestination.Get();
  }
  const HANDLE installed = lent.destination;
  BY_HANDLE_FILE_INFORMATION facts;
  if (installed == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(installed, &facts)) {
    return false;
  }
  const uint64_t size = (static_cast<uint64_t>(facts.nFileSizeHigh) << 32) | facts.nFileSizeLow;
  if ((facts.dwFileAttributes & notPlain) || facts.nNumberOfLinks != 1 || size != listed.size ||
      !SameTime(facts.ftLastWriteTime, listed.lastWriteTime)) {
    return false;
  }
  const HANDLE kit = Use(lent.source, source, ownSource);
  if (kit == INVALID_HANDLE_VALUE || !SameBytes(kit, installed, size)) return false;

  AtKillPoint(KillPoint::IdenticalKept, folder.Path() + name);

  // What a copy would set, unless it is so already. The decision's handle
  // shows the file that a link leads to; they are set only through a handle
  // of the name that is that same file.
  if ((facts.dwFileAttributes & kCopiedAttributes) == (listed.attributes & kCopiedAttributes)) {
    return true;
  }
  return GiveCopiedAttributes(folder, name, listed.attributes, &facts);
}
