#include "platform/log_file.h"

#include "platform/file_owner.h"
#include "platform/win32/in_use_retry.h"
#include "platform/win32/nt_files.h"

namespace {

constexpr ULONG kOpenOrCreate = 0x3;  // FILE_OPEN_IF

std::string Code(DWORD error) { return "error " + std::to_string(error); }

}  // namespace

ScopedHandle OpenLogIn(const HeldFolder& folder, const std::string& name, std::string& why) {
  // FILE_APPEND_DATA without FILE_WRITE_DATA: every write goes to the end.
  const ACCESS_MASK access = FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | READ_CONTROL;
  ScopedHandle log;
  bool created = false;
  RetryWhileInUse([&] {
    log = OpenRelative(folder.Get(), name, access, FILE_SHARE_READ | FILE_SHARE_WRITE, kOpenOrCreate,
                       kFileOnly | kOpenReparsePoint, FILE_ATTRIBUTE_NORMAL, nullptr, &created);
    return log.IsValid();
  });
  if (!log.IsValid()) {
    why = "that cannot be opened (" + Code(GetLastError()) + ")";
    return log;
  }
  BY_HANDLE_FILE_INFORMATION facts;
  if (!GetFileInformationByHandle(log.Get(), &facts)) {
    why = "whose kind cannot be read (" + Code(GetLastError()) + ")";
    log.Reset();
  } else if (facts.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    why = "a link";
    log.Reset();
  } else if (facts.nNumberOfLinks != 1) {
    why = "a file with other names";
    log.Reset();
  } else if (!created && !HasTrustedOwner(log.Get(), true)) {
    why = "a file that another account owns";
    log.Reset();
  }
  return log;
}

bool AppendToLog(HANDLE log, const std::string& text) {
  DWORD written = 0;
  return WriteFile(log, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
         written == text.size();
}

std::string SystemErrorMessage(DWORD error) {
  char buffer[512];
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                nullptr, error, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                                buffer, sizeof buffer, nullptr);
  if (length == 0) {
    length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                            error, 0, buffer, sizeof buffer, nullptr);
  }
  std::string text(buffer, length);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
    text.pop_back();
  }
  return text;
}
