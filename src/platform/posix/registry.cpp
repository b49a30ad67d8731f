// Registry calls of the stand-in layer. (Not yet implemented: every call fails.)
#include "standin_internal.h"

LONG WINAPI RegOpenKeyExA(HKEY, LPCSTR, DWORD, REGSAM, PHKEY) { return ERROR_ACCESS_DENIED; }
LONG WINAPI RegCreateKeyExA(HKEY, LPCSTR, DWORD, LPSTR, DWORD, REGSAM, LPSECURITY_ATTRIBUTES,
                            PHKEY, LPDWORD) {
  return ERROR_ACCESS_DENIED;
}
LONG WINAPI RegQueryValueExA(HKEY, LPCSTR, LPDWORD, LPDWORD, LPBYTE, LPDWORD) {
  return ERROR_ACCESS_DENIED;
}
LONG WINAPI RegSetValueExA(HKEY, LPCSTR, DWORD, DWORD, const BYTE*, DWORD) {
  return ERROR_ACCESS_DENIED;
}
LONG WINAPI RegDeleteValueA(HKEY, LPCSTR) { return ERROR_ACCESS_DENIED; }
LONG WINAPI RegCloseKey(HKEY) { return ERROR_INVALID_HANDLE; }
