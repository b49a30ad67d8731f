// The replace on Windows: CopyFileExA to a new temporary name, the copy's
// Mark of the Web removed, then MoveFileExA over the destination.
#include "platform/replace_file.h"

#include <sddl.h>
#include <stdint.h>
#include <stdio.h>

#include <vector>

#include "platform/kill_points.h"
#include "platform/win32/plain_file.h"
#include "platform/win32/in_use_retry.h"

namespace {

// Serialises the runs that write into one folder at the same moment (two
// installers into one folder would write the same temporary files). The
// lock of a folder is taken for its first file and kept while the files
// that follow go into the same folder; a run holds one folder's lock at a
// time and lets go of it before it waits for another, so two runs never
// wait for each other in a circle. A named mutex is released by the system
// when its owner dies, so a killed run never blocks the next one. A lock
// that cannot be had is done without.
//
// Runs under different accounts (SYSTEM from a deployment tool, an
// administrator by hand) share one lock: it is made open to SYSTEM and the
// Administrators, and opened with only the rights to wait on it and let it
// go.
class FolderLock {
 public:
  void Hold(const std::string& folder) {
    if (mutex_ && folder == folder_) return;
    Release();
    folder_ = folder;
    const std::string name = NameFor(folder);
    mutex_ = Open("Global\\" + name);
    if (!mutex_) mutex_ = Open("Local\\" + name);
    if (mutex_) {
      const DWORD waited = WaitForSingleObject(mutex_, INFINITE);
      owned_ = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
    }
  }
  void Release() {
    if (owned_) ReleaseMutex(mutex_);
    if (mutex_) CloseHandle(mutex_);
    mutex_ = nullptr;
    owned_ = false;
  }
  ~FolderLock() { Release(); }

 private:
  static HANDLE Open(const std::string& name) {
    SECURITY_ATTRIBUTES security{sizeof security, nullptr, FALSE};
    ConvertStringSecurityDescriptorToSecurityDescriptorA(
        "D:(A;;GA;;;SY)(A;;GA;;;BA)", SDDL_REVISION_1, &security.lpSecurityDescriptor, nullptr);
    HANDLE mutex = CreateMutexExA(security.lpSecurityDescriptor ? &security : nullptr,
                                  name.c_str(), 0, SYNCHRONIZE | MUTEX_MODIFY_STATE);
    if (security.lpSecurityDescriptor) LocalFree(security.lpSecurityDescriptor);
    return mutex;
  }

  // One folder has many spellings: relative, with "..", in another case.
  // The name is taken from its full path, upper-cased, hashed to fit a
  // kernel object's name.
  static std::string NameFor(const std::string& path) {
    char full[MAX_PATH];
    const DWORD length = GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
    std::vector<char> upper(path.begin(), path.end());
    if (length > 0 && length < MAX_PATH) upper.assign(full, full + length);
    if (!upper.empty()) CharUpperBuffA(upper.data(), static_cast<DWORD>(upper.size()));
    uint64_t hash = 14695981039346656037ull;  // FNV-1a
    for (char c : upper) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    char text[40];
    snprintf(text, sizeof text, "Quorvex-%016llx", static_cast<unsigned long long>(hash));
    return text;
  }

  std::string folder_;
  HANDLE mutex_ = nullptr;
  bool owned_ = false;
};

FolderLock folderLock;

// Removes this run's temporary file after a failure, keeping the error.
void RemoveTemporary(const std::string& path) {
  const DWORD error = GetLastError();
  if (!path.empty()) RemovePlainFile(path);
  SetLastError(error);
}

// Copies source to a new temporary file for name in destinationFolder and
// sets temporary to its path. The copy never goes into anything that is
// there already: CopyFileExA fails on an existing name, a link included
// (COPY_FILE_COPY_SYMLINK, or Windows would follow a dangling one). What
// has the name is removed only when it is a plain file with one name that
// no one holds (what a killed run left); a link, a file another run is
// writing or one with other names keeps it, and the next name is taken, as
// it is where the source folder holds a file of that name. A source that
// is itself a link is copied as what it leads to.
bool CopyToTemporary(const std::string& source, const std::string& sourceFolder,
                     const std::string& destinationFolder, const std::string& name,
                     DWORD sourceAttributes, std::string& temporary) {
  const bool sourceIsLink = sourceAttributes != INVALID_FILE_ATTRIBUTES &&
                            (sourceAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
  const DWORD flags = COPY_FILE_FAIL_IF_EXISTS | (sourceIsLink ? 0 : COPY_FILE_COPY_SYMLINK);
  const auto copy = [&] {
    return CopyFileExA(source.c_str(), temporary.c_str(), nullptr, nullptr, nullptr, flags) != FALSE;
  };
  const auto exists = [] {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
  };
  const size_t room = destinationFolder.size();
  std::string candidate = FirstTemporaryCopyName(name, room);  // almost always free
  uint64_t choice = 0;
  for (bool checked = false;;) {
    temporary = destinationFolder + candidate;
    if (copy()) return true;
    if (!exists()) return false;  // what a failed copy left is the caller's to remove
    if (!checked) {
      // Where the source folder holds a file of the first name, the
      // installed one is the manual's: another name.
      checked = true;
      candidate = NextTemporaryCopyName(sourceFolder, name, room, choice);
      if (candidate.empty()) break;
      if (destinationFolder + candidate != temporary) continue;
    }
    if (RemovePlainFile(temporary) && copy()) return true;
    ++choice;
    candidate = NextTemporaryCopyName(sourceFolder, name, room, choice);
    if (candidate.empty()) {
      SetLastError(ERROR_FILE_EXISTS);
      break;
    }
  }
  temporary.clear();  // every name tried was another's
  return false;
}

// CopyFileExA copies every stream, the Mark of the Web of a kit that was
// downloaded with them: the installed manual would then open in restricted
// mode (compiled help shows blank pages). The copy loses it; the kit's own
// files keep theirs. Nothing to remove is the usual case, and its failure
// is no failure of the copy. A read-only copy's stream can only go once the
// copy is writable; sourceAttributes, the copy's, may be unknown.
void RemoveMarkOfTheWeb(const std::string& copy, DWORD sourceAttributes) {
  const std::string stream = copy + ":Zone.Identifier";
  const bool readOnly = sourceAttributes == INVALID_FILE_ATTRIBUTES ||
                        (sourceAttributes & FILE_ATTRIBUTE_READONLY);
  if (!readOnly) {
    DeleteFileA(stream.c_str());
    return;
  }
  if (DeleteFileA(stream.c_str()) || GetLastError() != ERROR_ACCESS_DENIED) return;
  BY_HANDLE_FILE_INFORMATION facts;
  const ScopedHandle file =
      OpenPlainFile(copy, FILE_WRITE_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, facts);
  const DWORD attributes = facts.dwFileAttributes & kCopiedAttributes;
  if (!file.IsValid() || !(attributes & FILE_ATTRIBUTE_READONLY) ||
      !SetAttributes(file.Get(), attributes & ~FILE_ATTRIBUTE_READONLY)) {
    return;
  }
  DeleteFileA(stream.c_str());
  SetAttributes(file.Get(), attributes);
}

}  // namespace

void ReleaseReplaceLock() { folderLock.Release(); }

void ClearReadOnly(const std::string& path, DWORD) {
  BY_HANDLE_FILE_INFORMATION facts;
  const ScopedHandle file =
      OpenPlainFile(path, FILE_WRITE_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, facts);
  if (file.IsValid() && (facts.dwFileAttributes & FILE_ATTRIBUTE_READONLY)) {
    SetAttributes(file.Get(), facts.dwFileAttributes & kCopiedAttributes & ~FILE_ATTRIBUTE_READONLY);
  }
}

bool ReplaceFileWithCopy(const std::string& sourceFolder, const std::string& destinationFolder,
                         const std::string& name, const ReplaceFacts* facts) {
  const std::string source = sourceFolder + name;
  const std::string destination = destinationFolder + name;
  // Windows refuses to move over a read-only file (Wine does not), and
  // nothing is moved over a folder; neither is worth the retries.
  const DWORD existing =
      facts ? facts->destinationAttributes : GetFileAttributesA(destination.c_str());
  if (existing != INVALID_FILE_ATTRIBUTES &&
      (existing & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY))) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }

  folderLock.Hold(destinationFolder);
  const DWORD sourceAttributes = facts ? facts->sourceAttributes : INVALID_FILE_ATTRIBUTES;
  std::string temporary;
  if (!CopyToTemporary(source, sourceFolder, destinationFolder, name, sourceAttributes,
                       temporary)) {
    RemoveTemporary(temporary);
    return false;
  }
  RemoveMarkOfTheWeb(temporary, sourceAttributes);
  AtKillPoint(KillPoint::CopyWritten, destination);
  // A destination held open by another program cannot be replaced until it
  // is let go. The copy has the source's attributes already.
  const auto move = [&] {
    return MoveFileExA(temporary.c_str(), destination.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
  };
  if (!RetryWhileInUse(move)) {
    RemoveTemporary(temporary);
    return false;
  }
  AtKillPoint(KillPoint::Moved, destination);
  return true;
}
