// How the walk of a copy met a file of the kit: what the lists of installed
// files learn of each folder the walk is done with.
#pragma once

#include <string>

#include "platform/replace_file.h"

// How the walk met a file of the kit.
enum class WalkedOutcome {
  Written,    // written, or found complete and let stand
  Kept,       // a newer installed file kept by the policy
  PassedOver,  // the steps saw to it without a decision
};

struct WalkedFile {
  std::string name;
  ListedFile source;
  WalkedOutcome outcome = WalkedOutcome::Written;
};
