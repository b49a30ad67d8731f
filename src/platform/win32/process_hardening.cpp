#include "platform/process_hardening.h"

#include "platform/win32.h"
#include "platform/win32/proc_lookup.h"

namespace {

// ProcessRedirectionTrustPolicy in PROCESS_MITIGATION_POLICY, and its
// EnforceRedirectionTrust flag (winnt.h of the Windows 11 SDK).
const int kRedirectionTrustPolicy = 16;
const DWORD kEnforceRedirectionTrust = 0x1;

ProcessHardening hardening;

DWORD ErrorOf(BOOL succeeded) { return succeeded ? ERROR_SUCCESS : GetLastError(); }

}  // namespace

void HardenProcess() {
  const HMODULE kernel = GetModuleHandleA("kernel32.dll");
  if (!kernel) return;
  using SetDllDirectories = BOOL(WINAPI*)(DWORD);
  if (auto set = LookupProc<SetDllDirectories>(kernel, "SetDefaultDllDirectories")) {
    hardening.dllSearchError = ErrorOf(set(LOAD_LIBRARY_SEARCH_SYSTEM32));
  }
  using SetMitigation = BOOL(WINAPI*)(int, PVOID, SIZE_T);
  if (auto set = LookupProc<SetMitigation>(kernel, "SetProcessMitigationPolicy")) {
    DWORD policy = kEnforceRedirectionTrust;
    hardening.redirectionGuardError = ErrorOf(set(kRedirectionTrustPolicy, &policy, sizeof policy));
  }
}

ProcessHardening ProcessHardeningResult() { return hardening; }
