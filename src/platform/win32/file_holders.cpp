// The holders on Windows, from the Restart Manager (Windows Vista), loaded
// when first needed and only the system's own copy: a static import would
// be looked for in the kit's folder first. Nothing is shut down or
// restarted; the session only lists.
#include "platform/file_holders.h"

#include <restartmanager.h>

#include "platform/win32/proc_lookup.h"

namespace {

// The most processes asked for: a file that more hold is one whose holders
// are not named.
const UINT kMostHolders = 64;
const int kListAttempts = 3;

class ScopedModule {
 public:
  explicit ScopedModule(HMODULE module) : module_(module) {}
  ~ScopedModule() {
    if (module_) FreeLibrary(module_);
  }
  ScopedModule(const ScopedModule&) = delete;
  ScopedModule& operator=(const ScopedModule&) = delete;
  HMODULE Get() const { return module_; }

 private:
  HMODULE module_;
};

// The calls under their own names, so that the source checks see them.
struct RestartManager {
  decltype(&::RmStartSession) RmStartSession = nullptr;
  decltype(&::RmRegisterResources) RmRegisterResources = nullptr;
  decltype(&::RmGetList) RmGetList = nullptr;
  decltype(&::RmEndSession) RmEndSession = nullptr;

  explicit RestartManager(HMODULE module)
      : RmStartSession(LookupProc<decltype(RmStartSession)>(module, "RmStartSession")),
        RmRegisterResources(LookupProc<decltype(RmRegisterResources)>(module, "RmRegisterResources")),
        RmGetList(LookupProc<decltype(RmGetList)>(module, "RmGetList")),
        RmEndSession(LookupProc<decltype(RmEndSession)>(module, "RmEndSession")) {}
  bool Found() const { return RmStartSession && RmRegisterResources && RmGetList && RmEndSession; }
};

class ScopedSession {
 public:
  explicit ScopedSession(const RestartManager& calls) : calls_(calls) {
    WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
    started_ = calls_.RmStartSession(&session_, 0, key) == ERROR_SUCCESS;
  }
  ~ScopedSession() {
    if (started_) calls_.RmEndSession(session_);
  }
  ScopedSession(const ScopedSession&) = delete;
  ScopedSession& operator=(const ScopedSession&) = delete;
  bool Started() const { return started_; }
  DWORD Get() const { return session_; }

 private:
  const RestartManager& calls_;
  DWORD session_ = 0;
  bool started_ = false;
};

std::wstring Wide(const std::string& text, UINT codePage) {
  const int length = static_cast<int>(text.size());
  const int size = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), length,
                                       nullptr, 0);
  if (size <= 0) return {};
  std::wstring wide(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), length, &wide[0], size);
  return wide;
}

std::string Utf8(const WCHAR* text, size_t capacity) {
  size_t length = 0;
  while (length < capacity && text[length]) ++length;
  if (length == 0) return {};
  const int units = static_cast<int>(length);
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, units, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  std::string utf8(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, units, &utf8[0], size, nullptr, nullptr);
  return utf8;
}

// The processes the session's file is in use by; false when they cannot be
// listed.
bool ListHolders(const RestartManager& calls, DWORD session, std::vector<RM_PROCESS_INFO>& found) {
  UINT needed = 0;
  for (int attempt = 0; attempt < kListAttempts; ++attempt) {
    UINT count = static_cast<UINT>(found.size());
    DWORD reasons = 0;
    const DWORD listed = calls.RmGetList(session, &needed, &count, found.data(), &reasons);
    if (listed == ERROR_SUCCESS) {
      found.resize(count < found.size() ? count : found.size());
      return true;
    }
    if (listed != ERROR_MORE_DATA || needed > kMostHolders) return false;
    found.resize(needed);
  }
  return false;
}

}  // namespace

std::vector<FileHolder> FindFileHolders(const std::string& path) {
  std::vector<FileHolder> holders;
  const std::wstring file = Wide(path, CP_ACP);
  if (file.empty()) return holders;
  const ScopedModule module(LoadLibraryExW(L"rstrtmgr.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
  if (!module.Get()) return holders;
  const RestartManager calls(module.Get());
  if (!calls.Found()) return holders;
  const ScopedSession session(calls);
  if (!session.Started()) return holders;
  LPCWSTR files[] = {file.c_str()};
  if (calls.RmRegisterResources(session.Get(), 1, files, 0, nullptr, 0, nullptr) !=
      ERROR_SUCCESS) {
    return holders;
  }
  std::vector<RM_PROCESS_INFO> found;
  if (!ListHolders(calls, session.Get(), found)) return holders;
  for (const RM_PROCESS_INFO& process : found) {
    holders.push_back({process.Process.dwProcessId,
                       Utf8(process.strAppName, sizeof process.strAppName / sizeof(WCHAR))});
  }
  return holders;
}
