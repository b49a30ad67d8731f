#include "app/run_progress.h"

#include <algorithm>

#include "paths/paths.h"
#include "platform/afx/file_find.h"
#include "platform/terminal.h"
#include "ui/string_table.h"

RunProgress::RunProgress(const InstallerSettings& settings, std::string sourceRoot)
    : product_(settings.product),
      sourceRoot_(std::move(sourceRoot)),
      line_(settings.messageDisplay != 0 && InstallerDrawsProgressLine()) {
  EnsureTrailingSeparator(sourceRoot_);
  // A silent run starts no thread and lists SRC only once, for the copy.
  if (settings.messageDisplay != 0 && !InstallerDrawsProgressLine()) {
    ProgressTexts texts;
    texts.caption = FillInText(LoadStringText(kProgressCaption), {product_});
    texts.warning = LoadStringText(kProgressWarning);
    texts.shutdownReason = FillInText(LoadStringText(kShutdownReason), {product_});
    // Loaded once: the window's counts change with every file.
    countsText_ = LoadStringText(kProgressCounts);
    texts.widestCounts = FillInText(countsText_, {"999999", "999999", "999.9 MB", "999.9 MB"});
    window_ = ProgressWindow::Start(texts);
    if (window_) {
      ProgressView counting;
      counting.counts = LoadStringText(kProgressCounting);
      window_->Update(counting);
    }
  }
  if (line_.Active() || window_) {
    Count(sourceRoot_);
    if (window_) Show();
  }
}

bool RunProgress::RetryHeldFile(const std::string& destinationPath, DWORD error) {
  if (!ask_) return false;
  line_.Clear();  // the question takes the terminal
  return ask_(destinationPath, error);
}

void RunProgress::Finished() {
  line_.Clear();
  if (window_) window_->Close();
}

// The kit's files and bytes, as the copy's listing will find them.
void RunProgress::Count(const std::string& folder) {
  afx::CFileFind finder;
  if (!finder.FindFile((folder + "*.*").c_str())) return;
  for (bool more = true; more;) {
    more = finder.FindNextFile();
    if (finder.IsDots()) continue;
    if (finder.IsDirectory()) {
      Count(folder + finder.GetFileName() + "\\");
    } else {
      ++files_;
      bytes_ += finder.GetLength();
    }
  }
  line_.Update([&] { return product_ + ": counting the manual's files, " +
                            std::to_string(files_) + " so far"; });
}

void RunProgress::FileStarting(const std::string& sourcePath, unsigned long long size) {
  if (!line_.Active() && !window_) return;
  // Done: the files before this one. A kit that grew since it was counted
  // never shows more than all.
  filesDone_ = std::min(filesStarted_++, files_);
  bytesDone_ = std::min(bytesDone_ + startedSize_, bytes_);
  startedSize_ = size;
  current_ = DisplayPath(sourcePath.compare(0, sourceRoot_.size(), sourceRoot_) == 0
                             ? sourcePath.substr(sourceRoot_.size())
                             : sourcePath);
  Show();
}

std::string RunProgress::Counts() const {
  return FillInText(countsText_, {std::to_string(filesDone_), std::to_string(files_),
                              ProgressSize(bytesDone_), ProgressSize(bytes_)});
}

void RunProgress::Show() {
  line_.Update([&] {
    return product_ + ": " + std::to_string(filesDone_) + " of " + std::to_string(files_) +
           " files, " + ProgressSize(bytesDone_) + " of " + ProgressSize(bytes_) + ": " + current_;
  });
  if (!window_) return;
  ProgressView view;
  view.counts = Counts();
  view.current = current_;
  view.permille = bytes_ ? static_cast<int>(bytesDone_ * 1000 / bytes_)
                         : files_ ? static_cast<int>(filesDone_ * 1000 / files_) : 1000;
  window_->Update(view);
}
