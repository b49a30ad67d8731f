// The log file that "/log=" names, reached as the copy reaches the install
// tree: its folders walked from the top of the volume by the link rule,
// the file itself opened in the last of them (platform/log_file.h).
#pragma once

#include <string>

#include "platform/held_path.h"
#include "platform/scoped_handle.h"

class LogFile {
 public:
  // Opens path for appending; a relative path is taken from the current
  // folder first, as Windows would take it. False, with why saying what
  // stands in the way (a phrase after "the log file is not written: "),
  // when it cannot be or may not be written.
  bool Open(const std::string& path, std::string& why);
  bool Append(const std::string& text) const;

 private:
  HeldPath folder_;
  ScopedHandle file_;
};
