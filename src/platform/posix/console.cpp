// Console and window calls of the stand-in layer. There is no window
// system: the console has no window, and message boxes are written to
// standard error (a yes/no box asks on the terminal when there is one).
#include <stdio.h>
#include <string.h>
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
      return AskOnTerminal("OK?") ? IDOK : IDCANCEL;
    case MB_RETRYCANCEL:
      return AskOnTerminal("Retry?") ? IDRETRY : IDCANCEL;
    default:
      return IDOK;
  }
}

HWINSTA WINAPI GetProcessWindowStation() { return reinterpret_cast<HWINSTA>(1); }

BOOL WINAPI GetUserObjectInformationA(HANDLE object, int index, PVOID info, DWORD length,
                                      LPDWORD needed) {
  if (needed) *needed = sizeof(USEROBJECTFLAGS);
  if (object != GetProcessWindowStation() || index != UOI_FLAGS) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (length < sizeof(USEROBJECTFLAGS)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  USEROBJECTFLAGS flags{};
  flags.dwFlags = WSF_VISIBLE;
  memcpy(info, &flags, sizeof flags);
  return TRUE;
}

namespace {

// The texts of the codes that the stand-in sets, as Windows words them.
const char* SystemMessage(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND: return "The system cannot find the file specified.";
    case ERROR_PATH_NOT_FOUND: return "The system cannot find the path specified.";
    case ERROR_ACCESS_DENIED: return "Access is denied.";
    case ERROR_SHARING_VIOLATION:
      return "The process cannot access the file because it is being used by another process.";
    case ERROR_FILE_EXISTS: return "The file exists.";
    case ERROR_ALREADY_EXISTS: return "Cannot create a file when that file already exists.";
    case ERROR_HANDLE_DISK_FULL: return "The disk is full.";
    case ERROR_WRITE_FAULT: return "The system cannot write to the specified device.";
    case ERROR_INVALID_NAME: return "The filename, directory name, or volume label syntax is incorrect.";
    case ERROR_DIRECTORY: return "The directory name is invalid.";
    case ERROR_NO_MORE_FILES: return "There are no more files.";
    case ERROR_FILENAME_EXCED_RANGE: return "The filename or extension is too long.";
    case ERROR_LOCK_VIOLATION:
      return "The process cannot access the file because another process has locked a portion of the "
             "file.";
    case ERROR_DISK_FULL: return "There is not enough space on the disk.";
    default: return "";
  }
}

}  // namespace

DWORD WINAPI FormatMessageA(DWORD flags, LPCVOID, DWORD messageId, DWORD, LPSTR buffer, DWORD size,
                            va_list*) {
  const char* text = (flags & FORMAT_MESSAGE_FROM_SYSTEM) ? SystemMessage(messageId) : "";
  const size_t length = strlen(text);
  if (length == 0 || !buffer || size <= length) {
    SetLastError(length == 0 ? ERROR_MR_MID_NOT_FOUND : ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  memcpy(buffer, text, length + 1);
  return static_cast<DWORD>(length);
}
