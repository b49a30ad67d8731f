// The replace on Windows: CopyFileA to the temporary name, then MoveFileExA
// over the destination.
#include "platform/replace_file.h"

#include <stdint.h>
#include <stdio.h>

#include <vector>

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
class FolderLock {
 public:
  void Hold(const std::string& folder) {
    if (mutex_ && folder == folder_) return;
    Release();
    folder_ = folder;
    const std::string name = NameFor(folder);
    mutex_ = CreateMutexA(nullptr, FALSE, ("Global\\" + name).c_str());
    if (!mutex_) mutex_ = CreateMutexA(nullptr, FALSE, ("Local\\" + name).c_str());
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
  // Paths differ in case and still name one folder: the name is taken from
  // the upper-cased path, hashed to fit a kernel object's name.
  static std::string NameFor(const std::string& path) {
    std::vector<char> upper(path.begin(), path.end());
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
// run left and is taken over.
bool CopyToTemporary(const std::string& source, const std::string& sourceFolder,
                     const std::string& destinationFolder, const std::string& name,
                     std::string& temporary) {
  temporary = destinationFolder + FirstTemporaryCopyName(name);
  if (CopyFileA(source.c_str(), temporary.c_str(), TRUE)) return true;
  const DWORD error = GetLastError();
  if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return false;
  temporary = destinationFolder + TemporaryCopyName(sourceFolder, name);
  // CopyFileA does not overwrite a hidden or read-only file, as a killed
  // run leaves its temporary file.
  SetFileAttributesA(temporary.c_str(), FILE_ATTRIBUTE_NORMAL);
  return CopyFileA(source.c_str(), temporary.c_str(), FALSE) != FALSE;
}

}  // namespace

bool ReplaceFileWithCopy(const std::string& sourceFolder, const std::string& destinationFolder,
                         const std::string& name) {
  const std::string source = sourceFolder + name;
  const std::string destination = destinationFolder + name;
  // The ANSI calls take no longer path: without room for a temporary name
  // the file is copied in place.
  if (destinationFolder.size() + FirstTemporaryCopyName(name).size() >= MAX_PATH) {
    return CopyFileA(source.c_str(), destination.c_str(), FALSE);
  }
  // Windows refuses to move over a read-only file; Wine does not.
  const DWORD existing = GetFileAttributesA(destination.c_str());
  if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_READONLY)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  // The copy gets the source's attributes; the temporary one is hidden too.
  const DWORD attributes = GetFileAttributesA(source.c_str());

  folderLock.Hold(destinationFolder);
  std::string temporary;
  if (!CopyToTemporary(source, sourceFolder, destinationFolder, name, temporary)) {
    RemoveTemporary(temporary);
    return false;
  }
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    SetFileAttributesA(temporary.c_str(), attributes | FILE_ATTRIBUTE_HIDDEN);
  }
  // A destination held open by another program cannot be replaced until it
  // is let go.
  const auto move = [&] {
    return MoveFileExA(temporary.c_str(), destination.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
  };
  if (!RetryWhileInUse(move)) {
    RemoveTemporary(temporary);
    return false;
  }
  if (attributes != INVALID_FILE_ATTRIBUTES) SetFileAttributesA(destination.c_str(), attributes);
  return true;
}
