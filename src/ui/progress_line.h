// One line of progress on standard error, for work that takes a while: only
// when standard error is a terminal, first drawn once a second has passed,
// redrawn in place at most ten times a second, and cleared when the work
// ends, so that nothing of it stays among the output.
#pragma once

#include <functional>
#include <string>

#include "platform/win32.h"

class ProgressLine {
 public:
  // wanted: the caller's own condition (an interactive run, no --quiet).
  explicit ProgressLine(bool wanted);
  ~ProgressLine() { Clear(); }
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  bool Active() const { return active_; }
  // Draws the line that text gives, when it is time to; text is only asked
  // for then. A line longer than the terminal is cut at its start.
  void Update(const std::function<std::string()>& text);
  // Removes the line; the next Update draws it again.
  void Clear();

 private:
  bool active_;
  DWORD started_ = 0;
  DWORD drawnAt_ = 0;
  size_t drawnWidth_ = 0;  // bytes of the line on the terminal; 0: none
};

// "12.3 MB", "1.2 GB": sizes for a line of progress.
std::string ProgressSize(unsigned long long bytes);
