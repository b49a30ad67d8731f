// Process, error and locale calls of the stand-in layer.
#include <errno.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <string>

#include "standin_internal.h"

namespace {

thread_local DWORD lastError = ERROR_SUCCESS;
UINT errorMode = 0;

const char* LocaleName(const char* category) {
  for (const char* name : {"LC_ALL", category, "LANG"}) {
    const char* value = getenv(name);
    if (value && *value) return value;
  }
  return "C";
}

bool ContainsNoCase(const char* text, const char* part) {
  for (; *text; ++text) {
    if (strncasecmp(text, part, strlen(part)) == 0) return true;
  }
  return false;
}

}  // namespace

namespace standin {

BOOL FailWithErrno(int error) {
  switch (error) {
    case ENOENT: lastError = ERROR_FILE_NOT_FOUND; break;
    case ENOTDIR: lastError = ERROR_PATH_NOT_FOUND; break;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: lastError = ERROR_ACCESS_DENIED; break;
    case EEXIST: lastError = ERROR_ALREADY_EXISTS; break;
    case ENAMETOOLONG: lastError = ERROR_FILENAME_EXCED_RANGE; break;
    case ENOSPC:
    case EDQUOT: lastError = ERROR_HANDLE_DISK_FULL; break;
    case ENOMEM: lastError = ERROR_NOT_ENOUGH_MEMORY; break;
    case ENOTEMPTY: lastError = ERROR_DIR_NOT_EMPTY; break;
    case EBUSY:
    case ETXTBSY:
    case EWOULDBLOCK: lastError = ERROR_SHARING_VIOLATION; break;
    default: lastError = ERROR_WRITE_FAULT; break;
  }
  return FALSE;
}

bool LocaleIsJapanese() { return strncmp(LocaleName("LC_MESSAGES"), "ja", 2) == 0; }

UINT LocaleCodePage() {
  const char* name = LocaleName("LC_CTYPE");
  if (ContainsNoCase(name, "utf-8") || ContainsNoCase(name, "utf8")) return CP_UTF8;
  if (ContainsNoCase(name, "sjis") || ContainsNoCase(name, "shift_jis") ||
      ContainsNoCase(name, "cp932")) {
    return 932;
  }
  if (ContainsNoCase(name, "gbk") || ContainsNoCase(name, "gb2312")) return 936;
  if (ContainsNoCase(name, "big5")) return 950;
  return 1252;
}

}  // namespace standin

DWORD WINAPI GetLastError() { return lastError; }
void WINAPI SetLastError(DWORD error) { lastError = error; }

HMODULE WINAPI GetModuleHandleA(LPCSTR moduleName) {
  // Only the executable itself is known; its handle is an opaque non-null value.
  static char self;
  if (moduleName) {
    lastError = ERROR_FILE_NOT_FOUND;
    return nullptr;
  }
  return reinterpret_cast<HMODULE>(&self);
}

DWORD WINAPI GetModuleFileNameA(HMODULE, LPSTR fileName, DWORD size) {
  char path[4096];
  ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length < 0) {
    standin::FailWithErrno(errno);
    return 0;
  }
  if (size == 0) {
    lastError = ERROR_INSUFFICIENT_BUFFER;
    return 0;
  }
  // As on Windows Vista and later: a name that does not fit is cut to the
  // buffer, terminated, and reported by a result equal to the size.
  if (static_cast<DWORD>(length) >= size) {
    memcpy(fileName, path, size - 1);
    fileName[size - 1] = '\0';
    lastError = ERROR_INSUFFICIENT_BUFFER;
    return size;
  }
  memcpy(fileName, path, length);
  fileName[length] = '\0';
  return static_cast<DWORD>(length);
}

LPSTR WINAPI GetCommandLineA() {
  static std::string commandLine = [] {
    std::string line;
    FILE* file = fopen("/proc/self/cmdline", "rb");
    if (!file) return line;
    std::string argument;
    bool first = true;
    auto flush = [&] {
      if (!first) line += ' ';
      first = false;
      bool quote = argument.empty() || argument.find_first_of(" \t") != std::string::npos;
      if (quote) line += '"';
      line += argument;
      if (quote) line += '"';
      argument.clear();
    };
    for (int c; (c = fgetc(file)) != EOF;) {
      if (c == '\0') {
        flush();
      } else {
        argument += static_cast<char>(c);
      }
    }
    fclose(file);
    return line;
  }();
  return commandLine.data();
}

UINT WINAPI SetErrorMode(UINT mode) {
  UINT previous = errorMode;
  errorMode = mode;
  return previous;
}

DWORD WINAPI GetCurrentProcessId() { return static_cast<DWORD>(getpid()); }

HANDLE WINAPI GetCurrentProcess() { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)); }

BOOL WINAPI TerminateProcess(HANDLE process, UINT) {
  if (process != GetCurrentProcess()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  kill(getpid(), SIGKILL);
  return FALSE;
}

DWORD WINAPI GetTickCount() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<DWORD>(now.tv_sec * 1000ull + now.tv_nsec / 1000000);
}

void WINAPI Sleep(DWORD milliseconds) {
  timespec delay{static_cast<time_t>(milliseconds / 1000),
                 static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&delay, &delay) != 0 && errno == EINTR) {
  }
}

LONG WINAPI InterlockedExchange(LONG volatile* target, LONG value) {
  return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}

BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA info) {
  if (!info || info->dwOSVersionInfoSize < sizeof(OSVERSIONINFOA)) {
    lastError = ERROR_INSUFFICIENT_BUFFER;
    return FALSE;
  }
  info->dwMajorVersion = 6;
  info->dwMinorVersion = 1;
  info->dwBuildNumber = 7601;
  info->dwPlatformId = VER_PLATFORM_WIN32_NT;
  info->szCSDVersion[0] = '\0';
  return TRUE;
}

LCID WINAPI GetThreadLocale() { return standin::LocaleIsJapanese() ? 0x0411 : 0x0409; }

UINT WINAPI GetACP() { return standin::LocaleCodePage(); }

int WINAPI GetLocaleInfoA(LCID, DWORD type, LPSTR data, int size) {
  if (type != LOCALE_IDEFAULTANSICODEPAGE) {
    lastError = ERROR_INVALID_PARAMETER;
    return 0;
  }
  char text[16];
  int length = snprintf(text, sizeof text, "%u", GetACP()) + 1;
  if (size == 0) return length;
  if (length > size) {
    lastError = ERROR_INSUFFICIENT_BUFFER;
    return 0;
  }
  memcpy(data, text, length);
  return length;
}
