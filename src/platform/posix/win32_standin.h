// Stand-in declarations of the subset of the Win32 API and of the C runtime
// that the installer uses, implemented over POSIX. Names, types, constants
// and results follow the Windows originals.
//
// Paths: "\" and "/" both separate folders, as on Windows, so callers keep
// appending "\". A "\" that is the second byte of a double-byte character is
// part of that character, not a separator.
#pragma once

#include <cstddef>
#include <cstdarg>
#include <cstdint>

#define WINAPI
#define CALLBACK
#define CONST const
#define TRUE 1
#define FALSE 0
#define MAX_PATH 260

typedef uint32_t DWORD;
typedef int32_t LONG;
typedef int BOOL;
typedef unsigned char BYTE;
typedef uint16_t WORD;
typedef unsigned int UINT;
typedef char CHAR;
typedef char16_t WCHAR;
typedef CHAR* LPSTR;
typedef const CHAR* LPCSTR;
typedef const WCHAR* LPCWSTR;
typedef void* LPVOID;
typedef void* PVOID;
typedef const void* LPCVOID;
typedef DWORD* LPDWORD;
typedef BYTE* LPBYTE;
typedef const BYTE* LPCBYTE;
typedef BOOL* LPBOOL;
typedef DWORD LCID;
typedef DWORD REGSAM;
typedef uintptr_t UINT_PTR;

typedef void* HANDLE;
typedef void* HGLOBAL;
typedef struct HKEY__* HKEY;
typedef HKEY* PHKEY;
typedef struct HWND__* HWND;
typedef struct HINSTANCE__* HINSTANCE;
typedef HINSTANCE HMODULE;
typedef struct HRSRC__* HRSRC;

#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define MAKEINTRESOURCEA(i) ((LPSTR)(uintptr_t)((WORD)(i)))
#define IS_INTRESOURCE(r) ((((uintptr_t)(r)) >> 16) == 0)
#define RT_STRING MAKEINTRESOURCEA(6)

// Errors (GetLastError and registry results).
#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_INVALID_DATA 13L
#define ERROR_NO_MORE_FILES 18L
#define ERROR_WRITE_FAULT 29L
#define ERROR_SHARING_VIOLATION 32L
#define ERROR_LOCK_VIOLATION 33L
#define ERROR_HANDLE_DISK_FULL 39L
#define ERROR_FILE_EXISTS 80L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_DISK_FULL 112L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_INVALID_NAME 123L
#define ERROR_DIR_NOT_EMPTY 145L
#define ERROR_ALREADY_EXISTS 183L
#define ERROR_FILENAME_EXCED_RANGE 206L
#define ERROR_MORE_DATA 234L
#define ERROR_MR_MID_NOT_FOUND 317L
#define ERROR_NO_MORE_ITEMS 259L
#define ERROR_DIRECTORY 267L
#define ERROR_BADDB 1009L
#define ERROR_NO_UNICODE_TRANSLATION 1113L
#define ERROR_PROC_NOT_FOUND 127L
#define ERROR_KEY_DELETED 1018L
#define ERROR_RESOURCE_DATA_NOT_FOUND 1812L
#define ERROR_CANT_ACCESS_FILE 1920L
#define ERROR_RESOURCE_TYPE_NOT_FOUND 1813L
#define ERROR_RESOURCE_NAME_NOT_FOUND 1814L

DWORD WINAPI GetLastError();
void WINAPI SetLastError(DWORD error);

// ---- Process ---------------------------------------------------------------
#define SEM_FAILCRITICALERRORS 0x0001
#define SEM_NOGPFAULTERRORBOX 0x0002
#define SEM_NOOPENFILEERRORBOX 0x8000

HMODULE WINAPI GetModuleHandleA(LPCSTR moduleName);
DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size);
LPSTR WINAPI GetCommandLineA();
UINT WINAPI SetErrorMode(UINT mode);
DWORD WINAPI GetCurrentProcessId();
// Only the current process (a kill, as SIGKILL: nothing of it runs after).
HANDLE WINAPI GetCurrentProcess();
BOOL WINAPI TerminateProcess(HANDLE process, UINT exitCode);
DWORD WINAPI GetTickCount();
void WINAPI Sleep(DWORD milliseconds);
LONG WINAPI InterlockedExchange(LONG volatile* target, LONG value);

// ---- Locale and versions ---------------------------------------------------
#define CP_ACP 0
#define CP_THREAD_ACP 3
#define CP_UTF8 65001
#define WC_NO_BEST_FIT_CHARS 0x00000400
#define LOCALE_IDEFAULTANSICODEPAGE 0x00001004
#define VER_PLATFORM_WIN32_NT 2

typedef struct _OSVERSIONINFOA {
  DWORD dwOSVersionInfoSize;
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  CHAR szCSDVersion[128];
} OSVERSIONINFOA, *LPOSVERSIONINFOA;

BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA info);
LCID WINAPI GetThreadLocale();
int WINAPI GetLocaleInfoA(LCID locale, DWORD type, LPSTR data, int size);
UINT WINAPI GetACP();
#define MB_ERR_INVALID_CHARS 0x00000008
int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR multiByte, int multiByteLength,
                               WCHAR* wide, int wideSize);
int WINAPI WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int wideLength,
                               LPSTR multiByte, int multiByteSize, LPCSTR defaultChar,
                               LPBOOL usedDefaultChar);

// ---- Resources -------------------------------------------------------------
HRSRC WINAPI FindResourceA(HMODULE module, LPCSTR name, LPCSTR type);
HGLOBAL WINAPI LoadResource(HMODULE module, HRSRC resource);
LPVOID WINAPI LockResource(HGLOBAL data);
DWORD WINAPI SizeofResource(HMODULE module, HRSRC resource);

// ---- Profile files ---------------------------------------------------------
DWORD WINAPI GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue,
                                      LPSTR returned, DWORD size, LPCSTR fileName);
UINT WINAPI GetPrivateProfileIntA(LPCSTR section, LPCSTR key, int defaultValue,
                                  LPCSTR fileName);

// ---- Files -----------------------------------------------------------------
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x00000001
#define FILE_SHARE_WRITE 0x00000002
#define FILE_SHARE_DELETE 0x00000004
#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define TRUNCATE_EXISTING 5
#define FILE_ATTRIBUTE_READONLY 0x00000001
#define FILE_ATTRIBUTE_HIDDEN 0x00000002
#define FILE_ATTRIBUTE_SYSTEM 0x00000004
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020
#define FILE_ATTRIBUTE_NORMAL 0x00000080
#define FILE_ATTRIBUTE_REPARSE_POINT 0x00000400
#define INVALID_FILE_ATTRIBUTES ((DWORD)-1)
#define INVALID_FILE_SIZE ((DWORD)-1)

typedef struct _SECURITY_ATTRIBUTES {
  DWORD nLength;
  LPVOID lpSecurityDescriptor;
  BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

typedef struct _FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
} FILETIME, *LPFILETIME, *PFILETIME;

typedef struct _WIN32_FIND_DATAA {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;
  DWORD dwReserved1;
  CHAR cFileName[MAX_PATH];
  CHAR cAlternateFileName[14];
} WIN32_FIND_DATAA, *LPWIN32_FIND_DATAA;

HANDLE WINAPI CreateFileA(LPCSTR fileName, DWORD access, DWORD shareMode,
                          LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                          HANDLE templateFile);
BOOL WINAPI CloseHandle(HANDLE handle);
// Reads at most size bytes; the overlapped argument must be null.
BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD size, LPDWORD read, LPVOID overlapped);
BOOL WINAPI GetFileTime(HANDLE file, LPFILETIME creation, LPFILETIME lastAccess,
                        LPFILETIME lastWrite);
BOOL WINAPI SetFileTime(HANDLE file, const FILETIME* creation, const FILETIME* lastAccess,
                        const FILETIME* lastWrite);
LONG WINAPI CompareFileTime(const FILETIME* first, const FILETIME* second);
void WINAPI GetSystemTimeAsFileTime(LPFILETIME time);
DWORD WINAPI GetFileSize(HANDLE file, LPDWORD sizeHigh);
DWORD WINAPI GetFileAttributesA(LPCSTR fileName);
BOOL WINAPI SetFileAttributesA(LPCSTR fileName, DWORD attributes);
BOOL WINAPI CreateDirectoryA(LPCSTR pathName, LPSECURITY_ATTRIBUTES security);
BOOL WINAPI CopyFileA(LPCSTR existingFileName, LPCSTR newFileName, BOOL failIfExists);
HANDLE WINAPI FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA data);
BOOL WINAPI FindNextFileA(HANDLE find, LPWIN32_FIND_DATAA data);
BOOL WINAPI FindClose(HANDLE find);
DWORD WINAPI GetFullPathNameA(LPCSTR fileName, DWORD bufferLength, LPSTR buffer, LPSTR* filePart);

// ---- Registry --------------------------------------------------------------
#define HKEY_CLASSES_ROOT ((HKEY)(uintptr_t)0x80000000u)
#define HKEY_CURRENT_USER ((HKEY)(uintptr_t)0x80000001u)
#define HKEY_LOCAL_MACHINE ((HKEY)(uintptr_t)0x80000002u)
#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_CREATE_SUB_KEY 0x0004
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_NOTIFY 0x0010
#define KEY_CREATE_LINK 0x0020
#define DELETE 0x00010000
#define WRITE_DAC 0x00040000
#define WRITE_OWNER 0x00080000
#define GENERIC_ALL 0x10000000u
#define READ_CONTROL 0x00020000
#define KEY_READ 0x00020019
#define KEY_WRITE 0x00020006
#define KEY_ALL_ACCESS 0x000F003F
#define REG_OPTION_NON_VOLATILE 0x00000000
#define REG_CREATED_NEW_KEY 0x00000001
#define REG_OPENED_EXISTING_KEY 0x00000002
#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_MULTI_SZ 7

LONG WINAPI RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result);
LONG WINAPI RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR keyClass,
                            DWORD options, REGSAM access, LPSECURITY_ATTRIBUTES security,
                            PHKEY result, LPDWORD disposition);
LONG WINAPI RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type,
                             LPBYTE data, LPDWORD size);
LONG WINAPI RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type,
                           const BYTE* data, DWORD size);
LONG WINAPI RegDeleteValueA(HKEY key, LPCSTR valueName);
LONG WINAPI RegDeleteKeyA(HKEY key, LPCSTR subKey);
LONG WINAPI RegEnumKeyA(HKEY key, DWORD index, LPSTR name, DWORD size);
LONG WINAPI RegQueryInfoKeyA(HKEY key, LPSTR keyClass, LPDWORD classLength, LPDWORD reserved,
                             LPDWORD subKeys, LPDWORD maxSubKeyLength, LPDWORD maxClassLength,
                             LPDWORD values, LPDWORD maxValueNameLength, LPDWORD maxValueLength,
                             LPDWORD securityDescriptorSize, PFILETIME lastWriteTime);
LONG WINAPI RegFlushKey(HKEY key);
LONG WINAPI RegCloseKey(HKEY key);

// ---- Console and windows ---------------------------------------------------
#define SW_HIDE 0
#define SW_SHOW 5
#define MB_OK 0x00000000
#define MB_OKCANCEL 0x00000001
#define MB_ABORTRETRYIGNORE 0x00000002
#define MB_YESNOCANCEL 0x00000003
#define MB_YESNO 0x00000004
#define MB_RETRYCANCEL 0x00000005
#define MB_ICONHAND 0x00000010
#define MB_ICONQUESTION 0x00000020
#define MB_ICONEXCLAMATION 0x00000030
#define MB_ICONWARNING MB_ICONEXCLAMATION
#define MB_ICONASTERISK 0x00000040
#define MB_ICONINFORMATION MB_ICONASTERISK
#define MB_TYPEMASK 0x0000000F
#define MB_ICONMASK 0x000000F0
#define MB_TOPMOST 0x00040000
#define IDOK 1
#define IDCANCEL 2
#define IDRETRY 4
#define IDYES 6
#define IDNO 7
#define ERROR_INVALID_WINDOW_HANDLE 1400L

HWND WINAPI GetConsoleWindow();
BOOL WINAPI ShowWindowAsync(HWND window, int command);
// A box is written to standard error; one that asks takes its answer from
// the terminal when standard input is one, and the negative answer otherwise.
int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);

// The stand-in's one window station is the terminal's, and visible.
typedef HANDLE HWINSTA;
#define UOI_FLAGS 1
#define WSF_VISIBLE 0x0001L
struct USEROBJECTFLAGS {
  BOOL fInherit;
  BOOL fReserved;
  DWORD dwFlags;
};
HWINSTA WINAPI GetProcessWindowStation();
BOOL WINAPI GetUserObjectInformationA(HANDLE object, int index, PVOID info, DWORD length,
                                      LPDWORD needed);

// The system's messages, from the error codes the stand-in sets, in English.
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000
DWORD WINAPI FormatMessageA(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId,
                            LPSTR buffer, DWORD size, va_list* arguments);

// ---- C runtime: path splitting and the multibyte code page -----------------
#define _MAX_PATH 260
#define _MAX_DRIVE 3
#define _MAX_DIR 256
#define _MAX_FNAME 256
#define _MAX_EXT 256
#define _MB_CP_SBCS 0
#define _MB_CP_OEM (-2)
#define _MB_CP_ANSI (-3)
#define _MB_CP_LOCALE (-4)

void _splitpath(const char* path, char* drive, char* dir, char* fname, char* ext);
int _setmbcp(int codePage);
int _getmbcp();
int _ismbblead(unsigned int c);
