// The quick check on Windows. The source's size, time and attributes come
// from its folder's listing, the destination's from the handle that the
// overwrite decision opened; only the bytes are read. An identical file
// keeps no Mark of the Web, as a copy has none. A link at the
// destination shows through the handle as the file it leads to: what is
// kept that way is not written through.
#include <string.h>

#include <memory>

#include "platform/kill_points.h"
#include "platform/replace_file.h"
#include "platform/scoped_handle.h"
#include "platform/stall_watch.h"
#include "platform/win32/nt_files.h"
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
    stall_watch::Progress();
  }
}

bool SameTime(const FILETIME& a, const FILETIME& b) {
  return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

// A copy carries no Mark of the Web (platform/win32/replace_file.cpp): an
// identical file loses its own, so that the manual never opens in
// restricted mode whichever run installed it. Nothing to remove is the
// usual case. A read-only file's stream can only go once the file is
// writable, which it is made for the moment through a handle of the file
// that facts describes.
void RemoveMarkOfTheWeb(const HeldFolder& folder, const std::string& name,
                        const BY_HANDLE_FILE_INFORMATION& facts) {
  const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  const LONG kAccessDenied = static_cast<LONG>(0xC0000022);  // STATUS_ACCESS_DENIED
  const LONG kCannotDelete = static_cast<LONG>(0xC0000121);  // STATUS_CANNOT_DELETE
  LONG status = 0;
  const auto remove = [&] {
    const ScopedHandle stream =
        OpenStreamRelative(folder.Get(), name, "Zone.Identifier", DELETE, kShareAll,
                           kOpenExisting, kFileOnly | kOpenReparsePoint, &status);
    FILE_DISPOSITION_INFO disposition{TRUE};
    return stream.IsValid() && SetFileInformationByHandle(stream.Get(), FileDispositionInfo,
                                                          &disposition, sizeof disposition);
  };
  // Where there is no stream the open says so, and no error is asked for.
  if (remove() || (status != kAccessDenied && status != kCannotDelete) ||
      !(facts.dwFileAttributes & FILE_ATTRIBUTE_READONLY)) {
    return;
  }
  BY_HANDLE_FILE_INFORMATION plain;
  const ScopedHandle file = OpenPlainFile(folder, name, FILE_WRITE_ATTRIBUTES, kShareAll, plain, &facts);
  const DWORD attributes = plain.dwFileAttributes & kCopiedAttributes;
  if (!file.IsValid() || !SetAttributes(file.Get(), attributes & ~FILE_ATTRIBUTE_READONLY)) return;
  remove();
  SetAttributes(file.Get(), attributes);
}

}  // namespace

bool KeepIdenticalCopy(const std::string& source, const HeldFolder& folder,
                       const std::string& name, const ListedFile& listed, LentFiles lent,
                       bool lookOnly) {
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
  if (lookOnly) return true;

  AtKillPoint(KillPoint::IdenticalKept, folder.Path() + name);
  RemoveMarkOfTheWeb(folder, name, facts);

  // What a copy would set, unless it is so already. The decision's handle
  // shows the file that a link leads to; they are set only through a handle
  // of the name that is that same file.
  if ((facts.dwFileAttributes & kCopiedAttributes) == (listed.attributes & kCopiedAttributes)) {
    return true;
  }
  return GiveCopiedAttributes(folder, name, listed.attributes, &facts);
}
