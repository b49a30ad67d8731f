#include "platform/win32/link_trust.h"

#include <sddl.h>

#include <vector>

namespace {

// TrustedInstaller, the service that owns the system's own files.
const char kTrustedInstaller[] = "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

// The running account's SID, when a test-only build trusts it.
PSID RunningUser() {
  static std::vector<BYTE> user = [] {
    std::vector<BYTE> buffer;
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return buffer;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    buffer.resize(size);
    if (!size || !GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) buffer.clear();
    CloseHandle(token);
    return buffer;
  }();
  return user.empty() ? nullptr : reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
}

// also: one more account trusted, or null.
bool IsTrusted(PSID sid, PSID also = nullptr) {
  if (also && EqualSid(sid, also)) return true;
  if (IsWellKnownSid(sid, WinBuiltinAdministratorsSid) || IsWellKnownSid(sid, WinLocalSystemSid)) {
    return true;
  }
  PSID trustedInstaller = nullptr;
  if (!ConvertStringSidToSidA(kTrustedInstaller, &trustedInstaller)) return false;
  const bool same = EqualSid(sid, trustedInstaller) != FALSE;
  LocalFree(trustedInstaller);
  return same;
}

// Whether an account other than the trusted ones is allowed any of rights;
// inherited: by inherit-only entries too.
bool OthersAllowed(PSECURITY_DESCRIPTOR descriptor, ACCESS_MASK rights, PSID also = nullptr,
                   bool inherited = false) {
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted)) return true;
  if (!present || !dacl) return true;  // no DACL: everyone may do everything
  GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                             FILE_ALL_ACCESS};
  for (DWORD index = 0; index < dacl->AceCount; ++index) {
    void* entry = nullptr;
    if (!GetAce(dacl, index, &entry)) return true;
    const ACE_HEADER* header = static_cast<ACE_HEADER*>(entry);
    if ((header->AceFlags & INHERIT_ONLY_ACE) && !inherited) continue;
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE &&
        header->AceType != ACCESS_ALLOWED_CALLBACK_ACE_TYPE) {
      continue;
    }
    // Both kinds begin with the header, the mask and the SID.
    ACCESS_ALLOWED_ACE* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
    ACCESS_MASK mask = allowed->Mask;
    MapGenericMask(&mask, &mapping);
    if ((mask & rights) && !IsTrusted(reinterpret_cast<PSID>(&allowed->SidStart), also)) return true;
  }
  return false;
}

}  // namespace

std::string WhyLinkIsNotFollowed(PSECURITY_DESCRIPTOR link, PSECURITY_DESCRIPTOR parent) {
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  if (!GetSecurityDescriptorOwner(link, &owner, &defaulted) || !owner || !IsTrusted(owner)) {
    return "whose owner is not Administrators, SYSTEM or TrustedInstaller";
  }
  const ACCESS_MASK changeLink =
      FILE_WRITE_DATA | FILE_WRITE_ATTRIBUTES | DELETE | WRITE_DAC | WRITE_OWNER;
  if (OthersAllowed(link, changeLink)) {
    return "that other accounts may change (write, delete, or change its permissions)";
  }
  const ACCESS_MASK swapEntry = FILE_DELETE_CHILD | WRITE_DAC | WRITE_OWNER;
  if (parent && OthersAllowed(parent, swapEntry)) {
    return "in a folder where other accounts may delete entries or change permissions";
  }
  return "";
}

std::string WhyOwnerIsNotTrusted(PSECURITY_DESCRIPTOR object, bool runningAccountToo) {
  if (!runningAccountToo) return WhyOwnerIsNotTrusted(object, nullptr, nullptr);
  // The computer's account is looked up only where it could tell.
  const std::string why = WhyOwnerIsNotTrusted(object, RunningUser(), nullptr);
  return why.empty() ? why : WhyOwnerIsNotTrusted(object, RunningUser(), ComputerAccount());
}

std::string WhyOwnerIsNotTrusted(PSECURITY_DESCRIPTOR object, PSID runningAccount,
                                 PSID computerAccount) {
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  if (!GetSecurityDescriptorOwner(object, &owner, &defaulted) || !owner) {
    return "whose owner cannot be read";
  }
  if (IsTrusted(owner, runningAccount)) return "";
  // A share records what SYSTEM or NETWORK SERVICE makes as the computer's.
  const bool asTheComputer = runningAccount && (IsWellKnownSid(runningAccount, WinLocalSystemSid) ||
                                                IsWellKnownSid(runningAccount, WinNetworkServiceSid));
  if (asTheComputer && computerAccount && EqualSid(owner, computerAccount)) return "";
  return runningAccount
             ? "whose owner is neither Administrators, SYSTEM, TrustedInstaller nor this account"
             : "whose owner is not Administrators, SYSTEM or TrustedInstaller";
}

PSID ComputerAccount() {
  static std::vector<BYTE> account = [] {
    std::vector<BYTE> sid;
    char name[MAX_COMPUTERNAME_LENGTH + 2];
    DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
    if (!GetComputerNameA(name, &length)) return sid;
    const std::string computer = std::string(name, length) + "$";
    DWORD sidSize = 0, domainSize = 0;
    SID_NAME_USE use;
    LookupAccountNameA(nullptr, computer.c_str(), nullptr, &sidSize, nullptr, &domainSize, &use);
    if (sidSize == 0) return sid;
    sid.resize(sidSize);
    std::vector<char> domain(domainSize + 1);
    if (!LookupAccountNameA(nullptr, computer.c_str(), sid.data(), &sidSize, domain.data(),
                            &domainSize, &use) ||
        use != SidTypeUser) {
      sid.clear();
    }
    return sid;
  }();
  return account.empty() ? nullptr : account.data();
}

bool IsLinkFolder(bool handleRead, DWORD handleAttributes, DWORD reparseTag, DWORD namedAttributes) {
  const bool handleReparse = handleRead && (handleAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
  if (handleReparse) return IsReparseTagNameSurrogate(reparseTag);
  return namedAttributes != INVALID_FILE_ATTRIBUTES &&
         (namedAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

std::string WhyFolderIsNotTrusted(PSECURITY_DESCRIPTOR folder, bool trustRunningUser) {
  const PSID also = trustRunningUser ? RunningUser() : nullptr;
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  if (!GetSecurityDescriptorOwner(folder, &owner, &defaulted) || !owner || !IsTrusted(owner, also)) {
    return "whose owner is not Administrators, SYSTEM or TrustedInstaller";
  }
  const ACCESS_MASK changeFiles = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_WRITE_ATTRIBUTES |
                                  FILE_WRITE_EA | FILE_DELETE_CHILD | DELETE | WRITE_DAC |
                                  WRITE_OWNER;
  if (OthersAllowed(folder, changeFiles, also)) return "whose files other accounts may change";
  return "";
}

bool FolderGivesOthersAccess(PSECURITY_DESCRIPTOR folder, bool trustRunningUser) {
  return OthersAllowed(folder, ~ACCESS_MASK{0}, trustRunningUser ? RunningUser() : nullptr, true);
}
