// Whether one file of the source tree is copied over the destination.
#pragma once

#include <functional>
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
  // The destination is newer than the source, but another account owns it
  // and no list vouches for it: it is replaced.
  bool newerNotTrusted = false;
  // The name opened the destination only as its 8.3 short name: the
  // destination's own name. Nothing was decided on it, and it may not be
  // written over.
  std::string shortNameOf;
};

// True when source is to be copied over the file name of folder. A
// destination that cannot be opened for reading, or whose time cannot be
// read, is always written; so is a link at its name, or a file with other
// names, which are never read. A newer destination is kept only when
// Administrators, SYSTEM or TrustedInstaller own it, or listVouches says
// the last install left it as it is: an account that may only create
// files must not decide what the manual holds. When kept is given and the
// answer is true, the files opened to decide stay open in it, read from
// their start. A name that opens another file by its short name is no
// destination to decide on: the answer is then false, or, when kept is
// given, true with kept->shortNameOf set, for the write to fail.
bool ShouldReplaceFile(const HeldFolder& folder, const std::string& name, const std::string& source,
                       OverwritePolicy policy, DecisionFiles* kept = nullptr,
                       const std::function<bool()>& listVouches = nullptr);
