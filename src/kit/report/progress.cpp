#include "kit/report/progress.h"

#include <memory>
#include <utility>

#include "ui/progress_line.h"

namespace kit {

namespace {

struct Progress {
  Progress(std::string name, bool wanted) : verb(std::move(name)), line(wanted) {}
  std::string verb;
  ProgressLine line;
  unsigned long long files = 0;
};

std::unique_ptr<Progress>& Current() {
  static std::unique_ptr<Progress> current;
  return current;
}

}  // namespace

void StartProgress(const std::string& verb, bool wanted) {
  Current() = std::make_unique<Progress>(verb, wanted);
}

void ProgressFile(const std::string& path) {
  Progress* progress = Current().get();
  if (!progress || !progress->line.Active()) return;
  ++progress->files;
  progress->line.Update([&] {
    return "QuorvexKit " + progress->verb + ": " + std::to_string(progress->files) + " files: " +
           path;
  });
}

void EndProgress() { Current().reset(); }

}  // namespace kit
