#include "platform/afx/file_find.h"

#include <string.h>

namespace afx {

bool CFileFind::FindFile(const char* pattern) {
  Close();
  if (strlen(pattern) >= MAX_PATH) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  find_ = ::FindFirstFileA(pattern, &next_);
  hasNext_ = find_ != INVALID_HANDLE_VALUE;
  listingFailed_ = false;
  return hasNext_;
}

bool CFileFind::FindNextFile() {
  if (!hasNext_) return false;
  current_ = next_;
  hasNext_ = ::FindNextFileA(find_, &next_) != FALSE;
  listingFailed_ = !hasNext_ && ::GetLastError() != ERROR_NO_MORE_FILES;
  return hasNext_;
}

void CFileFind::Close() {
  if (find_ != INVALID_HANDLE_VALUE) {
    ::FindClose(find_);
    find_ = INVALID_HANDLE_VALUE;
  }
  hasNext_ = false;
}

bool CFileFind::IsDots() const {
  return strcmp(current_.cFileName, ".") == 0 || strcmp(current_.cFileName, "..") == 0;
}

}  // namespace afx
