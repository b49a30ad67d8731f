// The replace on Windows: CopyFileA to the temporary name, the copy's Mark
// of the Web removed, then MoveFileExA over the destination.
#include "platform/replace_file.h"

#include <sddl.h>
#include <stdint.h>
#include <stdio.h>

#include <vector>

#include "platform/kill_points.h"
#include "platform/win32/copied_attributes.h"
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

void RemoveTemporary(const std::string& path) {
  const DWORD error = GetLastError();
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileA(path.c_str());
  SetLastError(error);
}

// Copies source to the temporary file of name in destinationFolder and sets
// temporary to its path. The first choice is almost always free; only when
// something has its name is it looked at: a file of the manual of that name
// (in the source folder) means another name, anything else is what a killed
// run left and is taken over. sourceAttributes, the source's, may be
// unknown.
bool CopyToTemporary(const std::string& source, const std::string& sourceFolder,
                     const std::string& destinationFolder, const std::string& name,
                     DWORD sourceAttributes, std::string& temporary) {
  temporary = destinationFolder + FirstTemporaryCopyName(name, destinationFolder.size());
  if (CopyFileA(source.c_str(), temporary.c_str(), TRUE)) return true;
  const DWORD error = GetLastError();
  if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return false;
  const std::string other = TemporaryCopyName(sourceFolder, name, destinationFolder.size());
  if (other.empty()) {
    SetLastError(ERROR_FILE_EXISTS);
    return false;
  }
  temporary = destinationFolder + other;
  // CopyFileA does not overwrite a hidden or read-only file, as a killed
  // run may leave its temporary file.
  SetFileAttributesA(temporary.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (!CopyFileA(source.c_str(), temporary.c_str(), FALSE)) return false;
  // Over an existing file Wine's CopyFileA keeps that file's attributes
  // (Windows gives it the source's): the copy that is moved into place
  // must have the source's, whoever copied it.
  if (sourceAttributes == INVALID_FILE_ATTRIBUTES) {
    sourceAttributes = GetFileAttributesA(source.c_str());
  }
  return sourceAttributes != INVALID_FILE_ATTRIBUTES &&
         GiveCopiedAttributes(temporary, sourceAttributes);
}

// CopyFileA copies every stream, the Mark of the Web of a kit that was
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
  const DWORD attributes = GetFileAttributesA(copy.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY)) return;
  if (!SetFileAttributesA(copy.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY)) return;
  DeleteFileA(stream.c_str());
  SetFileAttributesA(copy.c_str(), attributes);
}

}  // namespace

void ReleaseReplaceLock() { folderLock.Release(); }

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
