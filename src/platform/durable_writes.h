// Making what a run wrote durable before the run vouches for it: a version
// record written while the copied files are still only in the cache would
// survive a power cut that empties them, and the next run would take the
// manual for complete.
#pragma once

#include <string>
#include <vector>

class DurableWrites {
 public:
  explicit DurableWrites(std::string root) : root_(std::move(root)) {}

  // A file under the root that this run wrote, or found already complete
  // and let stand (an earlier run may have left it in the cache only).
  void Note(const std::string& path);

  // Puts on the disk the data, names, times and attributes of everything
  // noted, and every folder made under the root. False with the last error
  // set when that cannot be made sure of.
  bool Flush();

 private:
  std::string root_;
  std::vector<std::string> files_;
};
