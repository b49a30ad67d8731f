// String resources of the stand-in layer. (Not yet: no resources exist.)
#include "standin_internal.h"

HRSRC WINAPI FindResourceA(HMODULE, LPCSTR, LPCSTR) {
  SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
  return nullptr;
}

HGLOBAL WINAPI LoadResource(HMODULE, HRSRC resource) { return resource; }

LPVOID WINAPI LockResource(HGLOBAL data) { return data; }

DWORD WINAPI SizeofResource(HMODULE, HRSRC) { return 0; }

int WINAPI WideCharToMultiByte(UINT, DWORD, LPCWSTR, int, LPSTR, int, LPCSTR, LPBOOL) {
  SetLastError(ERROR_INVALID_PARAMETER);
  return 0;
}
