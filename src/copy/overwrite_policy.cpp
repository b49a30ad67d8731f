#include "copy/overwrite_policy.h"

#include "platform/file_owner.h"
#include "ui/message_boxes.h"

namespace {

HANDLE OpenForReading(const std::string& path) {
  return CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_ARCHIVE, nullptr);
}

// The destination is replaced when it is not newer than the source, or its
// time cannot be read. A source whose time cannot be read is copied all the
// same, so that a source that cannot be read ends the copy with a failure
// rather than keeping the old file without a word. Kept: the destination
// is newer.
bool SourceIsNotOlder(DecisionFiles& files, const FILETIME& destinationTime) {
  FILETIME sourceTime;
  const bool sourceRead = files.source.IsValid() &&
                          GetFileTime(files.source.Get(), nullptr, nullptr, &sourceTime) != FALSE;
  if (!sourceRead) return true;
  const LONG order = CompareFileTime(&destinationTime, &sourceTime);
  files.sameWriteTime = order == 0;
  return order < 1;
}

}  // namespace

bool ShouldReplaceFile(const HeldFolder& folder, const std::string& name, const std::string& source,
                       OverwritePolicy policy, DecisionFiles* kept,
                       const std::function<bool()>& listVouches) {
  DecisionFiles files;
  FILETIME destinationTime{};
  files.destination = folder.OpenForReading(name, &destinationTime);
  if (!files.destination.IsValid()) {
    const DWORD error = GetLastError();
    if (kept) kept->destinationAbsent = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    return true;
  }
  if (HasShortNameShape(name)) {
    std::string own = OwnNameOf(files.destination.Get(), name);
    if (own != name) {
      if (kept) kept->shortNameOf = std::move(own);
      return kept != nullptr;
    }
  }
  if (policy == OverwritePolicy::AskUser) {
    // The destination stays open, for reading, while the question is shown.
    return AskOverwrite(folder.Path() + name);
  }
  files.source = ScopedHandle(OpenForReading(source));
  if (!SourceIsNotOlder(files, destinationTime)) {
    if (HasTrustedOwner(files.destination.Get(), false) || (listVouches && listVouches())) {
      return false;
    }
    files.newerNotTrusted = true;
  }
  if (kept) *kept = std::move(files);
  return true;
}
