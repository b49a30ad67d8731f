// Whether one file of the source tree is copied over the destination.
#pragma once

#include <string>

enum class OverwritePolicy {
  CompareTimes,  // replace unless the destination is newer than the source
  AskUser,       // ask in a yes/no box
};

// True when source is to be copied over destination. A destination that
// cannot be opened for reading counts as absent and is always written.
bool ShouldReplaceFile(const std::string& destination, const std::string& source,
                       OverwritePolicy policy);
