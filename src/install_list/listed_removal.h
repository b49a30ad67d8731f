// Removing what installs of a manual wrote, by its list: a file goes only
// when an install wrote it (it was not there before), it is unchanged since
// (the identity the list gives), and no other list of the same install
// directory names it; a folder that installs made goes once it is empty.
// Everything is done relative to held folders, the install directory's
// link rule applying as it does to the copy, and each folder is let go of
// before it is removed.
#pragma once

#include <stdint.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "install_list/installed_files.h"
#include "platform/held_path.h"
#include "platform/durable_writes.h"
#include "platform/entry_removal.h"
#include "platform/held_folder.h"

enum class RemovalOutcome {
  Removed,          // gone now (with a dry run: would go)
  Gone,             // not there any more
  KeptChanged,      // changed since the install, or something else has its name
  KeptThereBefore,  // there before the first install wrote there
  KeptOtherList,    // another list of the install directory names it
  KeptNotEmpty,     // a folder that holds more
  Remains,          // should go and cannot: in use, a refused link, an error
};

class ListedRemoval {
 public:
  // otherListed: PathHash of every path that other lists of the install
  // directory name, sorted. A dry run only looks, and answers as the run
  // would: a folder goes when all it holds would have gone before it.
  ListedRemoval(std::string installDirectory, std::vector<uint64_t> otherListed, bool dryRun);

  // why: for Remains, what stops it.
  RemovalOutcome RemoveFile(const InstalledFile& file, std::string& why);
  // A folder path of a list; folders go deepest first.
  RemovalOutcome RemoveFolder(const std::string& path, std::string& why);

  // Puts what was removed on the disk; false with the last error set.
  bool Flush();

 private:
  // The folder of relative path folder ("" or ending in "\"), held; null
  // with absent set when it is not there, or with why set when a link or
  // an error stops the way.
  const HeldFolder* Hold(const std::string& folder, bool& absent, std::string& why);
  void LetGoOf(const std::string& folder);
  // What a removal in folder came to; kept: what Removal::Kept means here.
  RemovalOutcome Outcome(Removal removal, const HeldFolder& folder, const std::string& folderPath,
                         RemovalOutcome kept, std::string& why);
  // A dry run's removal of the folder name of parent (at path).
  RemovalOutcome FolderWouldGo(const HeldFolder& parent, const std::string& path,
                               const std::string& name);

  std::string root_;
  std::vector<uint64_t> otherListed_;
  bool dryRun_;
  std::set<std::string> wouldGo_;  // the paths a dry run found removable
  // The folders from the top of the volume to the install directory, and
  // the chain of held folders from the install directory down, by their
  // relative paths.
  HeldPath rootPath_;
  std::vector<std::pair<std::string, HeldFolder>> held_;
  DurableWrites written_;
  std::string noted_;  // the folder last noted for the flush
  bool removedAny_ = false;
};

// Splits a list's path into its folder ("" or ending in "\") and name,
// stepping over double-byte characters.
std::pair<std::string, std::string> SplitListedPath(const std::string& path);
