// Console and window calls of the stand-in layer. There is no window
// system: no window is ever found, and message boxes are written to
// standard error (a yes/no box asks on the terminal when there is one).
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "standin_internal.h"

namespace {

std::string consoleTitle = "Quorvex";

// The box's text is already on the terminal; only the answer is asked for.
bool AskOnTerminal(const char* question) {
  if (!isatty(STDIN_FILENO)) return false;
  fprintf(stderr, "%s [y/N] ", question);
  fflush(stderr);
  char answer[16];
  if (!fgets(answer, sizeof answer, stdin)) return false;
  return answer[0] == 'y' || answer[0] == 'Y';
}

}  // namespace

DWORD WINAPI GetConsoleTitleA(LPSTR title, DWORD size) {
  if (!title || size == 0) return 0;
  DWORD length = static_cast<DWORD>(std::min<size_t>(consoleTitle.size(), size - 1));
  memcpy(title, consoleTitle.data(), length);
  title[length] = '\0';
  return length;
}

BOOL WINAPI SetConsoleTitleA(LPCSTR title) {
  consoleTitle = title ? title : "";
  return TRUE;
}

int WINAPI wsprintfA(LPSTR buffer, LPCSTR format, ...) {
  // wsprintf writes at most 1024 bytes and the terminating zero.
  va_list arguments;
  va_start(arguments, format);
  int length = vsnprintf(buffer, 1025, format, arguments);
  va_end(arguments);
  return length > 1024 ? 1024 : length;
}

HWND WINAPI FindWindowA(LPCSTR, LPCSTR) {
  SetLastError(ERROR_FILE_NOT_FOUND);
  return nullptr;
}

BOOL WINAPI ShowWindow(HWND window, int) {
  if (!window) SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}

int WINAPI MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT type) {
  fprintf(stderr, "[%s] %s\n", caption ? caption : "", text ? text : "");
  fflush(stderr);
  switch (type & MB_TYPEMASK) {
    case MB_YESNO:
    case MB_YESNOCANCEL:
      return AskOnTerminal("Yes or no?") ? IDYES : IDNO;
    case MB_OKCANCEL:
    case MB_RETRYCANCEL:
      return AskOnTerminal("OK?") ? IDOK : IDCANCEL;
    default:
      return IDOK;
  }
}
