// Whether a copy fits on the volumes of the install tree, found before it
// writes anything: a copy that cannot fit must not leave the manual half
// updated.
#pragma once

#include <stdint.h>

#include <string>

// Kept free beyond what the files take: the folders the copy creates, the
// lists of installed files and the log.
constexpr uint64_t kSpaceMargin = 1024 * 1024;

// size bytes as whole allocation units of unit bytes take them.
uint64_t AllocatedSize(uint64_t size, uint64_t unit);

// A volume that the copy does not fit on.
struct SpaceShortfall {
  std::string folder;  // the highest folder of the install tree on it
  uint64_t needed = 0;
  uint64_t free = 0;
};

// Walks source into destination as the copy walks it, creating and opening
// nothing in the install tree, and adds up, per volume, the most the copy
// takes there at any moment: what each file grows by (a new file counts
// whole), plus the largest file it writes, since a replace's new file
// stands beside the old one until it takes its name, plus the margin. A
// folder not there yet counts on the volume of its nearest existing parent.
// A file of the kit's size and time is taken for the kit's, which the copy
// does not write. False with shortfall set when a volume has less free for
// this account; a volume whose space cannot be read is not judged.
bool CopyFits(const std::string& source, const std::string& destination,
              SpaceShortfall& shortfall);

// "not enough free space: 12.3 MB needed, 4.0 MB free"
std::string ShortfallText(const SpaceShortfall& shortfall);
