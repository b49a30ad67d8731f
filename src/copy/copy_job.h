// Copies the manual's source tree into the install directory.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "copy/overwrite_policy.h"
#include "platform/win32.h"

class DurableWrites;
class RunLists;

// What a copy did, for the run's log.
struct CopyCounts {
  int foldersCreated = 0;
  int filesWritten = 0;
  int filesUnchanged = 0;  // already held the source's bytes
  int filesKeptNewer = 0;
  int filesPassedOver = 0;  // unopened: the list of installed files vouches for them
  // The first failure: its path, the system's error code, and what failed
  // when no error code says it.
  std::string failedPath;
  DWORD failedError = 0;
  std::string failure;
  // Where the copy did not fit: the space it needs at most, and the space
  // free, on the volume of failedPath.
  uint64_t spaceNeeded = 0;
  uint64_t spaceFree = 0;
  // What the copy met that is no failure: a lock done without.
  std::string note;
  // Newer installed files that another account owns, replaced all the same.
  std::vector<std::string> replacedNotTrusted;
};

// Result codes of a copy; they are also the program's exit codes.
enum CopyResult {
  kCopyComplete = 0,
  kCopyFolderCreationFailed = 3,
  kCopyFileFailed = 4,
};

// Told of each file of the kit as the copy comes to it.
class CopyProgress {
 public:
  virtual ~CopyProgress() = default;
  virtual void FileStarting(const std::string& sourcePath, unsigned long long size) = 0;
  // Another program holds the installed file destinationPath open, and
  // the copy has waited for it long enough: true to try it once more. The
  // copy holds no folder's lock meanwhile.
  virtual bool RetryHeldFile(const std::string& /*destinationPath*/, DWORD /*error*/) {
    return false;
  }
};

class ManualCopyJob {
 public:
  ManualCopyJob(std::string destinationRoot, std::string sourceRoot)
      : destinationRoot_(std::move(destinationRoot)), sourceRoot_(std::move(sourceRoot)) {}

  // Each file written is noted in written, and what the copy did in
  // counts, when given.
  // lists, when given, is told what the copy found and did, and may pass
  // over files it vouches for.
  // progress, when given, is told of each file.
  int Run(OverwritePolicy policy, DurableWrites* written = nullptr,
          CopyCounts* counts = nullptr, RunLists* lists = nullptr,
          CopyProgress* progress = nullptr) const;

 private:
  std::string destinationRoot_;
  std::string sourceRoot_;
};

// Copies the folder source into destination, recursing into subfolders:
// missing folders are created, files are copied where the policy says so.
// Stops at the first failure and undoes nothing. A source that does not
// exist copies nothing and succeeds; a folder that exists but cannot be
// listed, completely, fails with kCopyFileFailed.
int CopyTree(std::string source, std::string destination, OverwritePolicy policy,
             DurableWrites* written = nullptr, CopyCounts* counts = nullptr,
             RunLists* lists = nullptr, CopyProgress* progress = nullptr);
