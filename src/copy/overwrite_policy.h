// Whether one file of the source tree is copied over the destination.
#pragma once

#include <string>

#include "platform/held_folder.h"
#include "platform/scoped_handle.h"

enum class OverwritePolicy {
  CompareTimes,  // replace unless the destination is newer than the source
  AskUser,       // ask in a yes/no box
};

// The files that the decision opened, lent to the write that follows so
// that it need not open them again. Invalid where the decision did not open
// them or could not keep them. Closed (the source first) when it goes.
struct DecisionFiles {
  ScopedHandle destination;
  ScopedHandle source;
  // The destination's last-write time equals the source's.
  bool sameWriteTime = false;
  // Nothing has the destination's name.
  bool destinationAbsent = false;
};

// True when source is to be copied over the file name of folder. A
// destination that cannot be opened for reading counts as absent and is
// always written. When kept is given and the answer is true, the files
// opened to decide stay open in it, read from their start.
bool ShouldReplaceFile(const HeldFolder& folder, const std::string& name, const std::string& source,
                       OverwritePolicy policy, DecisionFiles* kept = nullptr);
