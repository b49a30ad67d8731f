#include "copy/overwrite_policy.h"

#include "ui/message_boxes.h"

namespace {

HANDLE OpenForReading(const std::string& path) {
  return CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_ARCHIVE, nullptr);
}

// The destination is replaced when it is not newer than the source. A source
// whose time cannot be read is copied all the same, so that a source that
// cannot be read ends the copy with a failure rather than keeping the old
// file without a word.
bool SourceIsNotOlder(DecisionFiles& files) {
  FILETIME destinationTime, sourceTime;
  bool destinationRead =
      GetFileTime(files.destination.Get(), nullptr, nullptr, &destinationTime) != FALSE;
  bool sourceRead = files.source.IsValid() &&
                    GetFileTime(files.source.Get(), nullptr, nullptr, &sourceTime) != FALSE;
  if (!sourceRead) return true;
  if (!destinationRead) return false;
  const LONG order = CompareFileTime(&destinationTime, &sourceTime);
  files.sameWriteTime = order == 0;
  return order < 1;
}

}  // namespace

bool ShouldReplaceFile(const HeldFolder& folder, const std::string& name, const std::string& source,
                       OverwritePolicy policy, DecisionFiles* kept) {
  DecisionFiles files;
  files.destination = folder.OpenForReading(name);
  if (!files.destination.IsValid()) {
    const DWORD error = GetLastError();
    if (kept) kept->destinationAbsent = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    return true;
  }
  if (policy == OverwritePolicy::AskUser) {
    // The destination stays open, for reading, while the question is shown.
    return AskOverwrite(folder.Path() + name);
  }
  files.source = ScopedHandle(OpenForReading(source));
  if (!SourceIsNotOlder(files)) return false;
  if (kept) *kept = std::move(files);
  return true;
}
