#include "copy/overwrite_policy.h"

#include "platform/scoped_handle.h"
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
bool SourceIsNotOlder(HANDLE destination, const std::string& source) {
  ScopedHandle sourceFile(OpenForReading(source));
  FILETIME destinationTime, sourceTime;
  bool destinationRead = GetFileTime(destination, nullptr, nullptr, &destinationTime) != FALSE;
  bool sourceRead = sourceFile.IsValid() &&
                    GetFileTime(sourceFile.Get(), nullptr, nullptr, &sourceTime) != FALSE;
  if (!sourceRead) return true;
  if (!destinationRead) return false;
  return CompareFileTime(&destinationTime, &sourceTime) < 1;
}

}  // namespace

bool ShouldReplaceFile(const std::string& destination, const std::string& source,
                       OverwritePolicy policy) {
  ScopedHandle destinationFile(OpenForReading(destination));
  if (!destinationFile.IsValid()) return true;
  if (policy == OverwritePolicy::CompareTimes) {
    return SourceIsNotOlder(destinationFile.Get(), source);
  }
  // The destination stays open, for reading, while the question is shown.
  return AskOverwrite(destination);
}
