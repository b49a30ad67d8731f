#include "app/run_progress.h"

#include <algorithm>

#include "paths/paths.h"
#include "platform/afx/file_find.h"
#include "platform/path_separator.h"
#include "platform/terminal.h"

RunProgress::RunProgress(const InstallerSettings& settings, std::string sourceRoot)
    : product_(settings.product),
      sourceRoot_(std::move(sourceRoot)),
      line_(settings.messageDisplay != 0 && InstallerDrawsProgressLine()) {
  EnsureTrailingSeparator(sourceRoot_);
  if (line_.Active()) Count(sourceRoot_);
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
  if (!line_.Active()) return;
  // A kit that grew since it was counted never shows more than all done.
  filesDone_ = std::min(filesDone_ + 1, files_);
  bytesDone_ = std::min(bytesDone_ + size, bytes_);
  current_ = sourcePath.compare(0, sourceRoot_.size(), sourceRoot_) == 0
                 ? sourcePath.substr(sourceRoot_.size())
                 : sourcePath;
  for (size_t i = 0; i < current_.size(); ++i) {
    const auto c = static_cast<unsigned char>(current_[i]);
    if (_ismbblead(c)) {
      ++i;
    } else if (c == '\\') {
      current_[i] = kPlatformSeparator;
    }
  }
  line_.Update([&] { return Text(); });
}

std::string RunProgress::Text() const {
  return product_ + ": " + std::to_string(filesDone_) + " of " + std::to_string(files_) +
         " files, " + ProgressSize(bytesDone_) + " of " + ProgressSize(bytes_) + ": " + current_;
}
