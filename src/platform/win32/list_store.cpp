#include "platform/list_store.h"

#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

#include "platform/durable_writes.h"
#include "platform/folder_identities.h"
#include "platform/held_path.h"
#include "platform/replace_file.h"
#include "platform/stall_watch.h"
#include "platform/test_trust.h"
#include "platform/win32/in_use_retry.h"
#include "platform/win32/link_trust.h"
#include "platform/win32/nt_files.h"

namespace {

// SYSTEM and Administrators everything, no one else anything; "P": nothing
// inherited from the program-data folder, whose entries let Users create in
// it. Owned by Administrators, whoever of them makes it, so that a policy
// that makes the creator the owner does not fail the trust rule.
const char kListFolderPermissions[] = "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
constexpr ULONG kOverwriteOrCreate = 0x5;  // FILE_OVERWRITE_IF
constexpr DWORD kPiece = 64 * 1024;

class LocalMemory {
 public:
  ~LocalMemory() {
    if (memory_) LocalFree(memory_);
  }
  PSECURITY_DESCRIPTOR* Receive() { return &memory_; }
  PSECURITY_DESCRIPTOR Get() const { return memory_; }

 private:
  PSECURITY_DESCRIPTOR memory_ = nullptr;
};

// The DACL of kListFolderPermissions, protected, on what handle holds
// (opened with WRITE_DAC).
bool SetListPermissions(HANDLE handle) {
  LocalMemory descriptor;
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(kListFolderPermissions, SDDL_REVISION_1,
                                                            descriptor.Receive(), nullptr) ||
      !GetSecurityDescriptorDacl(descriptor.Get(), &present, &dacl, &defaulted)) {
    return false;
  }
  return SetSecurityInfo(handle, SE_FILE_OBJECT,
                         DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                         nullptr, dacl, nullptr) == ERROR_SUCCESS;
}

// Gives the folder and its files the permissions of a new folder: its
// files first, each opened in the folder as itself and taken only as a
// plain file of one name, so that a run stopped between them finds the
// folder still to be done. The folder through a second handle of its own,
// the only one with WRITE_DAC.
bool Restrict(const HeldFolder& folder) {
  for (const std::string& name : FolderIdentities(folder).Names()) {
    ScopedHandle file =
        OpenRelative(folder.Get(), name, READ_CONTROL | WRITE_DAC | FILE_READ_ATTRIBUTES,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, kOpenExisting,
                     kFileOnly | kOpenReparsePoint);
    BY_HANDLE_FILE_INFORMATION facts;
    if (!file.IsValid() || !GetFileInformationByHandle(file.Get(), &facts) ||
        facts.nNumberOfLinks != 1 || (facts.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        !SetListPermissions(file.Get())) {
      return false;
    }
  }
  ScopedHandle self(ReOpenFile(folder.Get(), READ_CONTROL | WRITE_DAC,
                               FILE_SHARE_READ | FILE_SHARE_WRITE,
                               FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT));
  return self.IsValid() && SetListPermissions(self.Get());
}

// Trusted; with restrictAccess, given the permissions of a new folder when
// it gives anyone else access. Wine keeps no permissions: there a trusted
// folder is restricted again on every run.
bool Trusted(const HeldFolder& folder, bool restrictAccess) {
  LocalMemory descriptor;
  const bool trustRunningUser = TestBuildTrustsRunningUser();
  return GetSecurityInfo(folder.Get(), SE_FILE_OBJECT,
                         OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr, nullptr,
                         nullptr, nullptr, descriptor.Receive()) == ERROR_SUCCESS &&
         WhyFolderIsNotTrusted(descriptor.Get(), trustRunningUser).empty() &&
         (!restrictAccess || !FolderGivesOthersAccess(descriptor.Get(), trustRunningUser) ||
          Restrict(folder));
}

// Data and names of the folder on the disk: its volume's caches flushed.
bool FlushFolder(const HeldFolder& folder) {
  DurableWrites written(folder.Path());
  written.NoteFolder(folder, false);
  return written.Flush();
}

}  // namespace

std::string ListBaseFolder() {
  PWSTR wide = nullptr;
  std::string path;
  if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &wide))) {
    const int size = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, nullptr, 0,
                                         nullptr, nullptr);
    BOOL lossy = FALSE;
    if (size > 1) {
      path.resize(size);
      WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, &path[0], size, nullptr,
                          &lossy);
      path.resize(size - 1);
    }
    // A path the code page cannot spell names another folder.
    if (lossy) path.clear();
  }
  CoTaskMemFree(wide);
  if (!path.empty() && path.back() != '\\') path += '\\';
  return path;
}

ListFolderFound ListFolder::Open(const std::string& name, ListFolder& folder,
                                 bool restrictAccess) {
  const std::string base = ListBaseFolder();
  folder.held_ = HeldFolder();
  if (base.empty()) return ListFolderFound::Untrusted;
  HeldPath along;
  if (along.Walk(base) != FolderEntry::Enter) return ListFolderFound::Untrusted;
  SetLastError(ERROR_SUCCESS);
  HeldFolder held;
  const FolderEntry entry = along.Last().Enter(name, held);
  const DWORD error = GetLastError();
  if (entry == FolderEntry::Absent) return ListFolderFound::Absent;
  // A folder (no link) that this account may not open, or that someone
  // holds without sharing: its attributes take no part in sharing.
  if (entry == FolderEntry::Refused && IsInUseError(error)) {
    const DWORD named = AttributesIn(along.Last(), name);
    if (named != INVALID_FILE_ATTRIBUTES &&
        (named & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ==
            FILE_ATTRIBUTE_DIRECTORY) {
      SetLastError(error);
      return ListFolderFound::Unreadable;
    }
  }
  if (entry != FolderEntry::Enter || !Trusted(held, restrictAccess)) {
    return ListFolderFound::Untrusted;
  }
  folder.held_ = std::move(held);
  return ListFolderFound::Trusted;
}

bool ListFolder::Create(const std::string& name, ListFolder& folder) {
  const std::string base = ListBaseFolder();
  folder.held_ = HeldFolder();
  if (base.empty()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return false;
  }
  LocalMemory descriptor;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(kListFolderPermissions, SDDL_REVISION_1,
                                                            descriptor.Receive(), nullptr)) {
    return false;
  }
  HeldPath along;
  if (along.Walk(base) != FolderEntry::Enter) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return false;
  }
  if (!CreateFolderRelative(along.Last().Get(), name, descriptor.Get()).IsValid()) return false;
  // Made by this run with these permissions: nobody else can have changed
  // it, and only administrators can rename it.
  const FolderEntry entry = along.Last().Enter(name, folder.held_);
  if (entry != FolderEntry::Enter) {
    folder.held_ = HeldFolder();
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  return true;
}

bool ListFolder::Read(const std::string& file,
                      const std::function<void(const PieceSource&)>& consume) const {
  ScopedHandle handle;
  RetryWhileInUse([&] {
    handle = OpenRelative(held_.Get(), file, GENERIC_READ, FILE_SHARE_READ, kOpenExisting,
                          kFileOnly | kOpenReparsePoint);
    return handle.IsValid();
  });
  if (!handle.IsValid()) return false;
  DWORD error = ERROR_SUCCESS;
  consume([&](std::string& piece) {
    piece.resize(kPiece);
    DWORD done = 0;
    if (!ReadFile(handle.Get(), &piece[0], kPiece, &done, nullptr)) {
      error = GetLastError();
      done = 0;
    }
    piece.resize(done);
    stall_watch::Progress();
    return done > 0;
  });
  SetLastError(error);
  return error == ERROR_SUCCESS;
}

bool ListFolder::Write(const std::string& file,
                       const std::function<bool(const PieceSink&)>& produce) const {
  const std::string temporary = file + ".new";
  ScopedHandle handle = OpenRelative(held_.Get(), temporary, GENERIC_WRITE | DELETE, 0,
                                     kOverwriteOrCreate, kFileOnly | kOpenReparsePoint);
  if (!handle.IsValid()) return false;
  DWORD error = ERROR_WRITE_FAULT;
  const bool produced = produce([&](std::string_view piece) {
    DWORD done = 0;
    if (WriteFile(handle.Get(), piece.data(), static_cast<DWORD>(piece.size()), &done, nullptr) &&
        done == piece.size()) {
      stall_watch::Progress();
      return true;
    }
    error = GetLastError();
    return false;
  });
  if (!produced) SetLastError(error);
  const bool written = produced && FlushFileBuffers(handle.Get()) &&
                       RenameRelative(handle.Get(), held_.Get(), file, true);
  if (!written) {
    error = GetLastError();
    FILE_DISPOSITION_INFO remove{TRUE};
    SetFileInformationByHandle(handle.Get(), FileDispositionInfo, &remove, sizeof remove);
    SetLastError(error);
    return false;
  }
  handle.Reset();
  return FlushFolder(held_);
}

bool ListFolder::Remove(const std::string& file) const {
  ScopedHandle handle =
      OpenRelative(held_.Get(), file, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                   kOpenExisting, kFileOnly | kOpenReparsePoint);
  if (!handle.IsValid()) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
  }
  FILE_DISPOSITION_INFO remove{TRUE};
  if (!SetFileInformationByHandle(handle.Get(), FileDispositionInfo, &remove, sizeof remove)) {
    return false;
  }
  handle.Reset();
  return FlushFolder(held_);
}
