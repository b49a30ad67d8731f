// Directory enumeration with the advance-then-read protocol of the
// framework's CFileFind: FindFile starts, each FindNextFile moves to the next
// entry and says whether another one follows it, and the accessors read the
// entry moved to.
#pragma once

#include <stdint.h>

#include <string>

#include "platform/win32.h"

// windows.h maps FindNextFile to FindNextFileA; the class has a method of that name.
#undef FindNextFile

namespace afx {

class CFileFind {
 public:
  CFileFind() = default;
  ~CFileFind() { Close(); }
  CFileFind(const CFileFind&) = delete;
  CFileFind& operator=(const CFileFind&) = delete;

  // Starts enumerating pattern ("folder\*.*"). Fails, as the Windows ANSI
  // calls do, when the pattern is MAX_PATH bytes or longer.
  bool FindFile(const char* pattern);
  // Moves to the next entry; false when it is the last one, or when the
  // listing broke off after it (see ListingFailed).
  bool FindNextFile();
  // True when the listing ended with an error rather than with its last entry.
  bool ListingFailed() const { return listingFailed_; }
  void Close();

  std::string GetFileName() const { return current_.cFileName; }
  DWORD GetAttributes() const { return current_.dwFileAttributes; }
  bool IsDirectory() const { return (current_.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
  uint64_t GetLength() const {
    return (static_cast<uint64_t>(current_.nFileSizeHigh) << 32) | current_.nFileSizeLow;
  }
  FILETIME GetLastWriteTime() const { return current_.ftLastWriteTime; }
  bool IsDots() const;

 private:
  HANDLE find_ = INVALID_HANDLE_VALUE;
  WIN32_FIND_DATAA current_{};
  WIN32_FIND_DATAA next_{};
  bool hasNext_ = false;
  bool listingFailed_ = false;
};

}  // namespace afx
