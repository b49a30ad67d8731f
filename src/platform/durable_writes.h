// Making what a run wrote durable before the run vouches for it: a version
// record written while the copied files are still only in the cache would
// survive a power cut that empties them, and the next run would take the
// manual for complete.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "platform/held_folder.h"
#include "platform/scoped_handle.h"

class DurableWrites {
 public:
  explicit DurableWrites(std::string root) : root_(std::move(root)) {}

  // A folder that the copy works in, as held: every volume (natively, file
  // system) that one lies on is flushed, a link that an administrator made
  // to another disk included. created tells that this run made it.
  void NoteFolder(const HeldFolder& folder, bool created);
  // The file name of folder (noted before) that this run wrote (changed),
  // or found already complete and let stand (an earlier run may have left
  // it in the cache only).
  void Note(const HeldFolder& folder, const std::string& name, bool changed = true);

  // Puts on the disk the data, names, times and attributes of everything
  // noted, and every folder made under the root. False with the last error
  // set when that cannot be made sure of.
  bool Flush();

  // What the flush met that is no failure, for the run's log, once.
  std::string TakeNote();

 private:
  struct File {
    size_t folder;  // in folders_
    std::string name;
    bool changed;
  };
  // On Windows, where a volume cannot be flushed: each file and each folder
  // made is flushed through a handle of its own, opened relative to the
  // folder noted, held again here, never by a path looked up anew.
  size_t HoldAgain(const HeldFolder& folder);
  bool FlushNoted();
  std::string root_;
  std::vector<HeldFolder> folders_;
  std::vector<File> files_;
  std::vector<size_t> createdFolders_;  // in folders_
  std::set<std::string> volumes_;  // on Windows: \\?\Volume{...}
  std::vector<ScopedHandle> fileSystems_;  // natively: a folder of each
  bool volumeUnknown_ = false;  // a folder whose volume (file system) cannot be told
  std::string note_;
};
