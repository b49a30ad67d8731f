// File calls of the stand-in layer. (Not yet implemented: every call fails.)
#include "standin_internal.h"

namespace {
BOOL NotYet() {
  SetLastError(ERROR_ACCESS_DENIED);
  return FALSE;
}
}  // namespace

HANDLE WINAPI CreateFileA(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) {
  NotYet();
  return INVALID_HANDLE_VALUE;
}
BOOL WINAPI CloseHandle(HANDLE) { return NotYet(); }
BOOL WINAPI GetFileTime(HANDLE, LPFILETIME, LPFILETIME, LPFILETIME) { return NotYet(); }
BOOL WINAPI SetFileTime(HANDLE, const FILETIME*, const FILETIME*, const FILETIME*) {
  return NotYet();
}
LONG WINAPI CompareFileTime(const FILETIME*, const FILETIME*) { return 0; }
DWORD WINAPI GetFileAttributesA(LPCSTR) {
  NotYet();
  return INVALID_FILE_ATTRIBUTES;
}
BOOL WINAPI SetFileAttributesA(LPCSTR, DWORD) { return NotYet(); }
BOOL WINAPI CreateDirectoryA(LPCSTR, LPSECURITY_ATTRIBUTES) { return NotYet(); }
BOOL WINAPI CopyFileA(LPCSTR, LPCSTR, BOOL) { return NotYet(); }
HANDLE WINAPI FindFirstFileA(LPCSTR, LPWIN32_FIND_DATAA) {
  NotYet();
  return INVALID_HANDLE_VALUE;
}
BOOL WINAPI FindNextFileA(HANDLE, LPWIN32_FIND_DATAA) { return NotYet(); }
BOOL WINAPI FindClose(HANDLE) { return NotYet(); }
