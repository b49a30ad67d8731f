#include "copy/copy_walk.h"

#include <vector>

#include "copy/copy_job.h"
#include "platform/held_path.h"
#include "paths/paths.h"
#include "platform/afx/file_find.h"
#include "platform/held_folder.h"
#include "platform/stall_watch.h"
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
int WalkFolder(const std::string& source, const HeldFolder& folder, OverwritePolicy policy,
               bool folderExists, bool folderCreated, CopySteps& steps) {
  const std::string& destination = folder.Path();
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
  std::vector<WalkedFile> walked;
  bool more = true;
  while (more && result == kCopyComplete) {
    more = finder.FindNextFile();
    stall_watch::Progress();
    if (finder.IsDots()) continue;
    const std::string name = finder.GetFileName();
    std::string sourcePath = source + name;
    std::string destinationPath = destination + name;

    if (finder.IsDirectory()) {
      HeldFolder child;
      std::string why;
      FolderEntry entry = folder.Enter(name, child, &why);
      if (entry == FolderEntry::Absent && !steps.CreateFolder(folder, name, child, entry, why)) {
        result = kCopyFolderCreationFailed;
        break;
      }
      const bool created = entry == FolderEntry::Absent;
      if (entry == FolderEntry::Refused) {
        steps.RefusedLink(destinationPath, why);
        result = kCopyFileFailed;
        break;
      }
      if (created && !steps.WalkCreatedFolders()) continue;
      EnsureTrailingSeparator(sourcePath);
      result = WalkFolder(sourcePath, child, policy, true, created, steps);
    } else {
      FileToWrite file;
      file.sourceFolder = source;
      file.destinationFolder = destination;
      file.folder = &folder;
      file.name = name;
      file.listed = ListedOf(finder);
      // A folder that this copy created holds nothing of its own yet, but
      // what it wrote there may have the name as its short name.
      file.opened.destinationAbsent = folderCreated;
      steps.FileStarting(file);
      walked.push_back({name, file.listed, WalkedOutcome::Written});
      if (!folderCreated && steps.PassOver(file)) {
        walked.back().outcome = WalkedOutcome::PassedOver;
      } else if ((!folderCreated || HasShortNameShape(name)) &&
                 !ShouldReplaceFile(folder, name, sourcePath, policy, &file.opened,
                                    [&] { return steps.ListVouchesFor(file); })) {
        walked.back().outcome = WalkedOutcome::Kept;
        steps.KeepFile(sourcePath, destinationPath);
      } else if (!steps.WriteFile(file, policy)) {
        walked.pop_back();
        result = kCopyFileFailed;
      }
    }
  }
  steps.FolderDone(source, folder, folderCreated, walked);
  // A listing that broke off before its end left entries uncopied.
  if (result == kCopyComplete && finder.ListingFailed()) {
    steps.ListingFailed(source);
    result = kCopyFileFailed;
  }
  finder.Close();
  return result;
}

}  // namespace

bool IsIdenticalCopy(const FileToWrite& file, bool lookOnly) {
  return file.opened.destination.IsValid() && file.opened.sameWriteTime &&
         KeepIdenticalCopy(file.sourceFolder + file.name, *file.folder, file.name, file.listed,
                           {file.opened.source.Get(), file.opened.destination.Get()}, lookOnly);
}

int WalkCopyTree(std::string source, std::string destination, OverwritePolicy policy,
                 CopySteps& steps) {
  EnsureTrailingSeparator(source);
  EnsureTrailingSeparator(destination);
  // The folders on the way stay held while the copy works below them.
  HeldPath along;
  std::string why, refused;
  if (along.Walk(destination, &why, &refused) == FolderEntry::Refused) {
    steps.RefusedLink(refused, why);
    return kCopyFileFailed;
  }
  return WalkFolder(source, along.Last(), policy, false, false, steps);
}
