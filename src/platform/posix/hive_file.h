// The file that holds the stand-in's local-machine hive: where it is, and
// how it is read and changed so that nothing is lost.
//
// Every change takes the writers' lock (flock on the hive's folder), reads
// the hive afresh, applies the change, writes the whole hive to a temporary
// file in the same folder, flushes it and renames it over the hive. A crash
// leaves the old or the new hive, and writers running at once keep each
// other's changes. Readers take no lock: they see one whole hive or the other.
#pragma once

#include <functional>
#include <string>

#include "hive.h"

namespace standin {

// The environment variable QUORVEX_HKLM, or /var/lib/quorvex/HKLM.reg.
std::string HivePath();

// Reads the hive; a missing file is an empty hive. ERROR_BADDB when the file
// is not a hive, ERROR_ACCESS_DENIED when it cannot be read.
LONG LoadHive(Hive& hive);

// Whether this process may change the hive: write the file, or create it,
// and replace it in its folder.
bool CanWriteHive();

// Applies change under the writers' lock. change returns an error code and
// sets changed when the hive is to be written. A hive that cannot be read
// is never written.
LONG ChangeHive(const std::function<LONG(Hive& hive, bool& changed)>& change);

}  // namespace standin
