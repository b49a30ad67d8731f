// On Windows a link is a reparse point, opened as itself with
// FILE_FLAG_OPEN_REPARSE_POINT; its owner is the account that made it.
#include "platform/folder_links.h"

#include <aclapi.h>
#include <sddl.h>

#include <vector>

namespace {

// TrustedInstaller, the service that owns the system's own files.
const char kTrustedInstaller[] = "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

bool IsRunningAccount(PSID owner) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  ScopedHandle closer(token);
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<BYTE> buffer(size ? size : 1);
  if (!GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) return false;
  return EqualSid(owner, reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid) != FALSE;
}

bool IsTrustedInstaller(PSID owner) {
  PSID trustedInstaller = nullptr;
  if (!ConvertStringSidToSidA(kTrustedInstaller, &trustedInstaller)) return false;
  const bool same = EqualSid(owner, trustedInstaller) != FALSE;
  LocalFree(trustedInstaller);
  return same;
}

bool MadeByTrustedAccount(HANDLE link) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(link, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                      nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  const bool trusted = IsWellKnownSid(owner, WinBuiltinAdministratorsSid) ||
                       IsWellKnownSid(owner, WinLocalSystemSid) || IsTrustedInstaller(owner) ||
                       IsRunningAccount(owner);
  LocalFree(descriptor);
  return trusted;
}

}  // namespace

FolderEntry EnterFolder(const std::string& path, ScopedHandle& held) {
  held = ScopedHandle(CreateFileA(path.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                  nullptr));
  if (!held.IsValid()) return FolderEntry::Absent;
  // Held without delete sharing, neither it nor the folders held above it
  // can be renamed away or replaced: what its name shows now is what the
  // handle holds.
  const DWORD attributes = GetFileAttributesA(path.c_str());
  const bool link =
      attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
  if (!link) return FolderEntry::Enter;
  if (MadeByTrustedAccount(held.Get())) return FolderEntry::Enter;
  held.Reset();
  return FolderEntry::UntrustedLink;
}
