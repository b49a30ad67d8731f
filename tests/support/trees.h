// Native test support for the runs that install many files at once: manual
// trees made from a seed, what an install left compared with its source, and
// installers started in the background, killed or waited for.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/kit.h"

namespace testing_support {

struct TreeShape {
  int files = 100;
  int largeEvery = 0;  // every n-th file is large (0: none)
  size_t largeSize = 0;
};

// Writes a manual-like tree of nested folders under root, the same for the
// same seed: pages of a few kilobytes, some large files, some empty ones,
// some read-only, each with a last-write time of its own (to the nanosecond).
void WriteManualTree(const fs::path& root, const TreeShape& shape, uint32_t seed);

// Whether name is a copy that the stand-in was writing when it was killed.
bool IsPartialCopyName(const std::string& name);

// "" when installed holds exactly what source holds: the same folders and
// files, equal content, last-write times and permission bits, and nothing
// else. Otherwise the first difference.
std::string CompareTrees(const fs::path& source, const fs::path& installed);

// "" when every file in installed equals its source file byte for byte and
// every folder is a source folder; partial copies are allowed beside them.
// With complete, every source file and folder must be there as well.
// Otherwise the first file that is not whole, or is missing.
std::string CheckNothingHalfWritten(const fs::path& source, const fs::path& installed,
                                    bool complete = false);

// A program running in the background, its output sent to /dev/null. The
// destructor kills and reaps it if it still runs.
class BackgroundRun {
 public:
  // With gate >= 0 the program starts once the gate's other end is closed.
  BackgroundRun(const std::string& program, const std::vector<std::string>& arguments,
                const Environment& environment, int gate = -1);
  ~BackgroundRun();
  BackgroundRun(const BackgroundRun&) = delete;
  BackgroundRun& operator=(const BackgroundRun&) = delete;

  void Kill();
  // Waits at most seconds. The exit code; 128 + the signal when killed;
  // -1 when it did not end in time (it is killed then).
  int Wait(int seconds = 120);

 private:
  pid_t pid_ = -1;
  int status_ = -1;
};

}  // namespace testing_support
