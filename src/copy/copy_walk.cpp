#include "copy/copy_walk.h"

#include <vector>

#include "copy/copy_job.h"
#include "paths/paths.h"
#include "platform/afx/file_find.h"
#include "platform/folder_links.h"
#include "platform/win32.h"

namespace {

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

ListedFile ListedOf(const afx::CFileFind& finder) {
  ListedFile listed;
  listed.attributes = finder.GetAttributes();
  listed.size = finder.GetLength();
  listed.lastWriteTime = finder.GetLastWriteTime();
  return listed;
}

// source and destination end in a separator. folderExists tells that source
// is known to exist (it was listed by its parent), folderCreated that this
// copy created destination.
int WalkFolder(const std::string& source, const std::string& destination, OverwritePolicy policy,
               bool folderExists, bool folderCreated, HANDLE folder, CopySteps& steps) {
  const std::string pattern = source + "*.*";
  afx::CFileFind finder;
  if (!finder.FindFile(pattern.c_str())) {
    // Only a source that is not there means "nothing to copy". A folder that
    // is there but cannot be listed would leave the manual incomplete while
    // reporting success.
    bool missing = !folderExists && pattern.size() < MAX_PATH &&
                   !Exists(source.substr(0, source.size() - 1));
    if (missing) return kCopyComplete;
    steps.ListingFailed(source);
    return kCopyFileFailed;
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
      const bool create = !Exists(destinationPath);
      if (create && !steps.CreateFolder(destinationPath)) {
        result = kCopyFolderCreationFailed;
        break;
      }
      ScopedHandle held;
      std::string why;
      if (EnterFolder(destinationPath, held, folder, &why) == FolderEntry::Refused) {
        steps.RefusedLink(destinationPath, why);
        result = kCopyFileFailed;
        break;
      }
      EnsureTrailingSeparator(sourcePath);
      EnsureTrailingSeparator(destinationPath);
      result = WalkFolder(sourcePath, destinationPath, policy, true, create, held.Get(), steps);
    } else {
      FileToWrite file;
      file.sourceFolder = source;
      file.destinationFolder = destination;
      file.name = name;
      file.listed = ListedOf(finder);
      file.destinationFolderIsNew = folderCreated;
      if (!ShouldReplaceFile(destinationPath, sourcePath, policy, &file.opened)) {
        steps.KeepFile(sourcePath, destinationPath);
      } else if (!steps.WriteFile(file, policy)) {
        result = kCopyFileFailed;
      }
    }
  }
  // A listing that broke off before its end left entries uncopied.
  if (result == kCopyComplete && finder.ListingFailed()) {
    steps.ListingFailed(source);
    result = kCopyFileFailed;
  }
  finder.Close();
  return result;
}

}  // namespace

int WalkCopyTree(std::string source, std::string destination, OverwritePolicy policy,
                 CopySteps& steps) {
  EnsureTrailingSeparator(source);
  EnsureTrailingSeparator(destination);
  std::vector<ScopedHandle> held;
  for (const std::string& folder : FoldersAlong(destination)) {
    const HANDLE parent = held.empty() ? INVALID_HANDLE_VALUE : held.back().Get();
    held.emplace_back();
    std::string why;
    if (EnterFolder(folder, held.back(), parent, &why) == FolderEntry::Refused) {
      steps.RefusedLink(folder, why);
      return kCopyFileFailed;
    }
  }
  return WalkFolder(source, destination, policy, false, false,
                    held.empty() ? INVALID_HANDLE_VALUE : held.back().Get(), steps);
}
