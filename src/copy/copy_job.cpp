#include "copy/copy_job.h"

#include "paths/paths.h"
#include "platform/afx/file_find.h"
#include "platform/win32.h"

namespace {

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// A folder that another run created between the look and the creation is
// reused like one that was there before.
bool CreateFolderUnlessPresent(const std::string& path) {
  if (Exists(path) || CreateDirectoryA(path.c_str(), nullptr)) return true;
  return GetLastError() == ERROR_ALREADY_EXISTS;
}

bool IsReadOnly(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
}

void ClearReadOnly(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    SetFileAttributesA(path.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  }
}

// Copies source over destination, read-only or not. Another run may put a
// read-only file there between the clearing and the copy: the decision is
// then taken once more for the file that is there now.
bool CopyOverFile(const std::string& source, const std::string& destination,
                  OverwritePolicy policy) {
  ClearReadOnly(destination);
  if (CopyFileA(source.c_str(), destination.c_str(), FALSE)) return true;
  if (!IsReadOnly(destination)) return false;
  if (!ShouldReplaceFile(destination, source, policy)) return true;
  ClearReadOnly(destination);
  return CopyFileA(source.c_str(), destination.c_str(), FALSE) != FALSE;
}

// source and destination end in a separator. folderExists tells that source
// is known to exist (it was listed by its parent).
int CopyFolder(const std::string& source, const std::string& destination,
               OverwritePolicy policy, bool folderExists) {
  const std::string pattern = source + "*.*";
  afx::CFileFind finder;
  if (!finder.FindFile(pattern.c_str())) {
    // Only a source that is not there means "nothing to copy". A folder that
    // is there but cannot be listed would leave the manual incomplete while
    // reporting success.
    bool missing = !folderExists && pattern.size() < MAX_PATH &&
                   !Exists(source.substr(0, source.size() - 1));
    return missing ? kCopyComplete : kCopyFileFailed;
  }

  int result = kCopyComplete;
  bool more = true;
  while (more && result == kCopyComplete) {
    more = finder.FindNextFile();
    if (finder.IsDots()) continue;
    const std::string name = finder.GetFileName();
    std::string sourcePath = source + name;
    std::string destinationPath = destination + name;

    if (finder.IsDirectory()) {
      if (!CreateFolderUnlessPresent(destinationPath)) {
        result = kCopyFolderCreationFailed;
        break;
      }
      EnsureTrailingSeparator(sourcePath);
      EnsureTrailingSeparator(destinationPath);
      result = CopyFolder(sourcePath, destinationPath, policy, true);
    } else if (ShouldReplaceFile(destinationPath, sourcePath, policy) &&
               !CopyOverFile(sourcePath, destinationPath, policy)) {
      result = kCopyFileFailed;
    }
  }
  // A listing that broke off before its end left entries uncopied.
  if (result == kCopyComplete && finder.ListingFailed()) result = kCopyFileFailed;
  finder.Close();
  return result;
}

}  // namespace

int CopyTree(std::string source, std::string destination, OverwritePolicy policy) {
  EnsureTrailingSeparator(source);
  EnsureTrailingSeparator(destination);
  return CopyFolder(source, destination, policy, false);
}

int ManualCopyJob::Run(OverwritePolicy policy) const {
  return CopyTree(sourceRoot_, destinationRoot_, policy);
}
