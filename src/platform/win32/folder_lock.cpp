#include "platform/win32/folder_lock.h"

#include <aclapi.h>
#include <sddl.h>
#include <stdint.h>
#include <stdio.h>

#include <utility>
#include <vector>

namespace {

const DWORD kLockAccess = READ_CONTROL | SYNCHRONIZE | MUTEX_MODIFY_STATE;

// Opens or creates the mutex name; existed tells which.
HANDLE OpenLock(const std::string& name, bool& existed) {
  SECURITY_ATTRIBUTES security{sizeof security, nullptr, FALSE};
  ConvertStringSecurityDescriptorToSecurityDescriptorA(
      "D:(A;;GA;;;SY)(A;;GA;;;BA)", SDDL_REVISION_1, &security.lpSecurityDescriptor, nullptr);
  HANDLE mutex = CreateMutexExA(security.lpSecurityDescriptor ? &security : nullptr, name.c_str(),
                                0, kLockAccess);
  existed = mutex && GetLastError() == ERROR_ALREADY_EXISTS;
  if (security.lpSecurityDescriptor) LocalFree(security.lpSecurityDescriptor);
  return mutex;
}

// Whether Administrators or SYSTEM own the mutex: what an elevated run or a
// deployment tool makes. A user who made it first could hold it forever.
bool MadeByAdministrators(HANDLE mutex) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(mutex, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                      nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  const bool trusted = owner && (IsWellKnownSid(owner, WinBuiltinAdministratorsSid) ||
                                 IsWellKnownSid(owner, WinLocalSystemSid));
  LocalFree(descriptor);
  return trusted;
}

std::string ErrorNumber(DWORD error) { return "error " + std::to_string(error); }

}  // namespace

void FolderLock::Hold(const std::string& folder) {
  if (givenUp_ || (mutex_ && folder == folder_)) return;
  Release();
  folder_ = folder;
  const std::string name = FolderLockName(folder);
  bool existed = false;
  mutex_ = OpenLock(name, existed);
  if (!mutex_) mutex_ = OpenLock("Local\\" + name.substr(name.find('\\') + 1), existed);
  if (!mutex_) return DoWithout("cannot be opened (" + ErrorNumber(GetLastError()) + ")");
  if (existed && !MadeByAdministrators(mutex_)) {
    return DoWithout("was made by an account other than Administrators or SYSTEM");
  }
  const DWORD waited = WaitForSingleObject(mutex_, kLongestWait);
  if (waited == WAIT_TIMEOUT) {
    givenUp_ = true;
    return DoWithout("was held by another run for 30 s; the rest of the run goes without locks");
  }
  owned_ = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
}

void FolderLock::Release() {
  if (owned_) ReleaseMutex(mutex_);
  if (mutex_) CloseHandle(mutex_);
  mutex_ = nullptr;
  owned_ = false;
}

std::string FolderLock::TakeNote() { return std::exchange(note_, std::string()); }

void FolderLock::DoWithout(const std::string& why) {
  if (mutex_) CloseHandle(mutex_);
  mutex_ = nullptr;
  owned_ = false;
  // The first one says it; a lock that others squat on is squatted on in
  // every folder.
  if (note_.empty()) note_ = "the lock of " + folder_ + " " + why + ": the copy goes on without it";
}

// One folder has many spellings: relative, with "..", in another case. The
// name is taken from its full path, upper-cased, hashed to fit a kernel
// object's name.
std::string FolderLockName(const std::string& folder) {
  char full[MAX_PATH];
  const DWORD length = GetFullPathNameA(folder.c_str(), MAX_PATH, full, nullptr);
  std::vector<char> upper(folder.begin(), folder.end());
  if (length > 0 && length < MAX_PATH) upper.assign(full, full + length);
  if (!upper.empty()) CharUpperBuffA(upper.data(), static_cast<DWORD>(upper.size()));
  uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (char c : upper) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  char text[48];
  snprintf(text, sizeof text, "Global\\Quorvex-%016llx", static_cast<unsigned long long>(hash));
  return text;
}
