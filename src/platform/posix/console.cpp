// Console and window calls of the stand-in layer. There is no window
// system: the console has no window, and message boxes are written to
// standard error (a yes/no box asks on the terminal when there is one).
#include <stdio.h>
#include <unistd.h>

#include "standin_internal.h"

namespace {

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

HWND WINAPI GetConsoleWindow() { return nullptr; }

BOOL WINAPI ShowWindowAsync(HWND window, int) {
  if (!window) SetLastError(ERROR_INVALID_WINDOW_HANDLE);
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
