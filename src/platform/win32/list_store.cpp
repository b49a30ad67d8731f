#include "platform/list_store.h"

#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

#include "platform/durable_writes.h"
#include "platform/test_trust.h"
#include "platform/win32/link_trust.h"
#include "platform/win32/nt_files.h"

namespace {

// Administrators and SYSTEM everything, Users read; "P": nothing inherited
// from the program-data folder, whose entries let Users create in it.
const char kListFolderPermissions[] =
    "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FRFX;;;BU)";
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

bool Trusted(HANDLE folder) {
  LocalMemory descriptor;
  return GetSecurityInfo(folder, SE_FILE_OBJECT,
                         OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr, nullptr,
                         nullptr, nullptr, descriptor.Receive()) == ERROR_SUCCESS &&
         WhyFolderIsNotTrusted(descriptor.Get(), TestBuildTrustsRunningUser()).empty();
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

ListFolderFound ListFolder::Open(const std::string& name, ListFolder& folder) {
  const std::string base = ListBaseFolder();
  folder.held_ = HeldFolder();
  if (base.empty()) return ListFolderFound::Untrusted;
  FolderEntry entry = FolderEntry::Absent;
  HeldFolder held = HeldFolder::Open(base + name, &entry);
  if (entry == FolderEntry::Absent) return ListFolderFound::Absent;
  if (entry != FolderEntry::Enter || !Trusted(held.Get())) return ListFolderFound::Untrusted;
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
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.Get(), FALSE};
  const std::string path = base + name;
  if (!CreateDirectoryA(path.c_str(), &attributes)) return false;
  // Made by this run with these permissions: nobody else can have changed
  // it, and only administrators can rename it.
  FolderEntry entry = FolderEntry::Absent;
  folder.held_ = HeldFolder::Open(path, &entry);
  if (entry != FolderEntry::Enter) {
    folder.held_ = HeldFolder();
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  return true;
}

bool ListFolder::Read(const std::string& file,
                      const std::function<void(const PieceSource&)>& consume) const {
  ScopedHandle handle = OpenRelative(held_.Get(), file, GENERIC_READ, FILE_SHARE_READ, kOpenExisting,
                                     kFileOnly | kOpenReparsePoint);
  if (!handle.IsValid()) return false;
  consume([&](std::string& piece) {
    piece.resize(kPiece);
    DWORD done = 0;
    if (!ReadFile(handle.Get(), &piece[0], kPiece, &done, nullptr)) done = 0;
    piece.resize(done);
    return done > 0;
  });
  return true;
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
