#include "platform/folder_identities.h"

#include <aclapi.h>

#include <algorithm>

#include "platform/test_trust.h"
#include "platform/win32/link_trust.h"

namespace {

uint64_t Ticks(const LARGE_INTEGER& time) { return static_cast<uint64_t>(time.QuadPart); }

// A listed name in the ANSI code page, as FindNextFileA gives it; an ASCII
// name needs no call.
std::string AnsiName(const WCHAR* name, size_t length) {
  std::string ansi(length, '\0');
  bool ascii = true;
  for (size_t i = 0; i < length && ascii; ++i) {
    ascii = name[i] < 0x80;
    ansi[i] = static_cast<char>(name[i]);
  }
  if (ascii) return ansi;
  const int size = WideCharToMultiByte(CP_ACP, 0, name, static_cast<int>(length), nullptr, 0,
                                       nullptr, nullptr);
  ansi.assign(size > 0 ? size : 0, '\0');
  if (size > 0) {
    WideCharToMultiByte(CP_ACP, 0, name, static_cast<int>(length), &ansi[0], size, nullptr,
                        nullptr);
  }
  return ansi;
}

bool IsNtfs(HANDLE folder) {
  WCHAR fileSystem[MAX_PATH + 1] = {};
  return GetVolumeInformationByHandleW(folder, nullptr, 0, nullptr, nullptr, nullptr, fileSystem,
                                       MAX_PATH + 1) &&
         lstrcmpiW(fileSystem, L"NTFS") == 0;
}

}  // namespace

bool FolderIdentities::Vouch() const {
  if (!folder_->IsHeld() || !IsNtfs(folder_->Get())) return false;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(folder_->Get(), SE_FILE_OBJECT,
                      OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr, nullptr,
                      nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  const bool trusted = WhyFolderIsNotTrusted(descriptor, TestBuildTrustsRunningUser()).empty();
  LocalFree(descriptor);
  return trusted;
}

void FolderIdentities::List() const {
  if (!listed_) {
    listed_ = true;
    BY_HANDLE_FILE_INFORMATION facts;
    if (!folder_->IsHeld() || !GetFileInformationByHandle(folder_->Get(), &facts)) return;
    std::vector<char> buffer(64 * 1024);
    FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;
    while (GetFileInformationByHandleEx(folder_->Get(), kind, buffer.data(),
                                        static_cast<DWORD>(buffer.size()))) {
      kind = FileIdBothDirectoryInfo;
      for (size_t offset = 0;;) {
        const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(&buffer[offset]);
        const DWORD skipped = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
        if (!(entry->FileAttributes & skipped)) {
          FileIdentity found;
          found.size = static_cast<uint64_t>(entry->EndOfFile.QuadPart);
          found.lastWriteTime = Ticks(entry->LastWriteTime);
          found.changeTime = Ticks(entry->ChangeTime);
          found.fileId = static_cast<uint64_t>(entry->FileId.QuadPart);
          found.volume = facts.dwVolumeSerialNumber;
          files_.emplace_back(AnsiName(entry->FileName, entry->FileNameLength / sizeof(WCHAR)),
                              found);
        }
        if (!entry->NextEntryOffset) break;
        offset += entry->NextEntryOffset;
      }
    }
    // A listing that broke off vouches for nothing.
    if (GetLastError() != ERROR_NO_MORE_FILES) files_.clear();
    std::sort(files_.begin(), files_.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
  }
}

std::vector<std::string> FolderIdentities::Names() const {
  List();
  std::vector<std::string> names;
  for (const auto& file : files_) names.push_back(file.first);
  return names;
}

bool FolderIdentities::Find(const std::string& name, FileIdentity& identity) const {
  List();
  const auto found = std::lower_bound(
      files_.begin(), files_.end(), name,
      [](const std::pair<std::string, FileIdentity>& entry, const std::string& key) {
        return entry.first < key;
      });
  if (found == files_.end() || found->first != name) return false;
  identity = found->second;
  return true;
}
