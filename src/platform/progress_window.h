// The window an interactive run shows while it copies, on Windows: on a
// thread of its own, so that it answers while a large file is copied; it
// appears only when the run still goes on after a second, has no Cancel
// and no Close (there is no rollback), and keeps Windows from ending the
// session meanwhile. Natively there is none: a line on the terminal
// stands for it.
#pragma once

#include <memory>
#include <string>

struct ProgressTexts {
  std::string caption;         // the product's, as the title
  std::string warning;         // that the run must not be interrupted
  std::string shutdownReason;  // why the session should not end now
  std::string widestCounts;    // the counts text to make room for
};

struct ProgressView {
  std::string counts;   // files and bytes done of the kit's
  std::string current;  // the file being copied
  int permille = -1;    // done, in thousandths; -1 while the kit is counted
};

class ProgressWindow {
 public:
  // Texts in the ANSI code page. Null natively, or when no thread can be
  // started (the run goes on without it).
  static std::unique_ptr<ProgressWindow> Start(const ProgressTexts& texts);
  virtual ~ProgressWindow() = default;

  virtual void Update(const ProgressView& view) = 0;
  // Closes the window, if it came up, and ends its thread.
  virtual void Close() = 0;
};
