// The walk of a copy: which folders of the source tree are created in the
// destination, which files are written or kept, in which order, and where
// the copy stops. The installer runs it with steps that act; QuorvexKit runs
// the same walk with steps that only look, so its predictions and checks
// follow the installer's rules by construction.
#pragma once

#include <string>
#include <vector>

#include "copy/overwrite_policy.h"
#include "install_list/walked_file.h"
#include "platform/held_folder.h"
#include "platform/replace_file.h"

// A file that the walk has decided to write.
struct FileToWrite {
  std::string sourceFolder;       // ends in a separator
  std::string destinationFolder;  // ends in a separator
  const HeldFolder* folder = nullptr;  // destinationFolder, as held
  std::string name;
  ListedFile listed;     // what the source folder's listing said of it
  DecisionFiles opened;  // what the decision opened; the step may close them
};

class CopySteps {
 public:
  virtual ~CopySteps() = default;
  // The folder name of parent, which does not exist: an installation
  // creates it and holds it in created, and entry stays Absent. False ends
  // the copy with 3. One that another run created meanwhile is entered
  // instead, entry telling what it is. A walk that only looks leaves
  // created holding nothing.
  virtual bool CreateFolder(const HeldFolder& parent, const std::string& name,
                            HeldFolder& created, FolderEntry& entry, std::string& why) = 0;
  // A file that the policy replaces (or that is not there yet): the file
  // name of sourceFolder is to be written into destinationFolder. False
  // ends the copy with 4.
  virtual bool WriteFile(FileToWrite& file, OverwritePolicy policy) = 0;
  // A file in a folder that this walk did not create, before the overwrite
  // decision opens anything: true when the steps have seen to it and the
  // walk passes over it.
  virtual bool PassOver(FileToWrite& /*file*/) { return false; }
  // Each file of the kit as the walk comes to it, before anything else.
  virtual void FileStarting(const FileToWrite& /*file*/) {}
  // Whether the walk goes into the folders it creates (or would create).
  virtual bool WalkCreatedFolders() const { return true; }
  // A folder of the source that the walk is done with, completely or not:
  // its files as the walk met them.
  virtual void FolderDone(const std::string& /*sourceFolder*/, const HeldFolder& /*folder*/,
                          bool /*created*/, const std::vector<WalkedFile>& /*files*/) {}
  // A newer installed file that another account owns: whether the list of
  // the last install vouches for it as that install left it.
  virtual bool ListVouchesFor(const FileToWrite& /*file*/) { return false; }
  // A file that the policy keeps.
  virtual void KeepFile(const std::string& /*source*/, const std::string& /*destination*/) {}
  // A folder of the source that exists but cannot be listed completely; the
  // copy then ends with 4.
  virtual void ListingFailed(const std::string& /*sourceFolder*/) {}
  // A folder of the destination, or on the way to it, that is a link that
  // may not be followed, or cannot be opened (why says which, as a phrase
  // after "a link"): nothing is written through it, and the copy ends with 4.
  virtual void RefusedLink(const std::string& /*destinationFolder*/, const std::string& /*why*/) {}
};

// Whether the installed file that the walk decided to write holds the
// source's bytes already, so that the copy leaves it: only one whose time
// the decision found equal may. An installation gives it what a copy would
// (KeepIdenticalCopy); a walk that only looks (lookOnly) changes nothing.
bool IsIdenticalCopy(const FileToWrite& file, bool lookOnly);

// Walks the folder source into destination, recursing into subfolders, and
// returns the copy's result: 0, or 3 or 4 at the first failure. A source
// that does not exist copies nothing and succeeds. Every folder of the
// destination, from the top of its path down, is held while the walk is in
// it, and entered only when it is no link that another account made
// (platform/held_folder.h).
int WalkCopyTree(std::string source, std::string destination, OverwritePolicy policy,
                 CopySteps& steps);
