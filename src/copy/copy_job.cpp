#include "copy/copy_job.h"

#include "paths/paths.h"
#include "platform/afx/file_find.h"
#include "platform/win32.h"

namespace {

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void ClearReadOnly(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    SetFileAttributesA(path.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  }
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
      if (!Exists(destinationPath) && !CreateDirectoryA(destinationPath.c_str(), nullptr)) {
        result = kCopyFolderCreationFailed;
        break;
      }
      EnsureTrailingSeparator(sourcePath);
      EnsureTrailingSeparator(destinationPath);
      result = CopyFolder(sourcePath, destinationPath, policy, true);
    } else if (ShouldReplaceFile(destinationPath, sourcePath, policy)) {
      ClearReadOnly(destinationPath);
      if (!CopyFileA(sourcePath.c_str(), destinationPath.c_str(), FALSE)) result = kCopyFileFailed;
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
