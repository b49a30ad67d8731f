// What an interactive run shows while it copies: the product, the files
// and bytes done of the kit's, and the file being copied. The kit is
// counted first, with one listing of SRC that only interactive runs make.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "copy/copy_job.h"
#include "platform/progress_window.h"
#include "settings/settings.h"
#include "ui/progress_line.h"

class RunProgress : public CopyProgress {
 public:
  // Shows nothing for a silent run (MessageDisplay 0).
  RunProgress(const InstallerSettings& settings, std::string sourceRoot);

  void FileStarting(const std::string& sourcePath, unsigned long long size) override;
  // ask decides whether a file that another program holds is tried again.
  void OnHeldFile(std::function<bool(const std::string&, DWORD)> ask) { ask_ = std::move(ask); }
  bool RetryHeldFile(const std::string& destinationPath, DWORD error) override;
  // The copy is over: nothing of the progress stays on the screen.
  void Finished();

 private:
  void Count(const std::string& folder);
  std::string Counts() const;
  void Show();

  std::string product_;
  std::string sourceRoot_;
  ProgressLine line_;
  std::unique_ptr<ProgressWindow> window_;
  unsigned long long files_ = 0, bytes_ = 0;          // the kit's
  unsigned long long filesDone_ = 0, bytesDone_ = 0;  // so far
  unsigned long long filesStarted_ = 0, startedSize_ = 0;
  std::string current_;
  std::string countsText_;  // string 109, for the window
  std::function<bool(const std::string&, DWORD)> ask_;
};
