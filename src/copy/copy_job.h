// Copies the manual's source tree into the install directory.
#pragma once

#include <string>

#include "copy/overwrite_policy.h"

class DurableWrites;

// Result codes of a copy; they are also the program's exit codes.
enum CopyResult {
  kCopyComplete = 0,
  kCopyFolderCreationFailed = 3,
  kCopyFileFailed = 4,
};

class ManualCopyJob {
 public:
  ManualCopyJob(std::string destinationRoot, std::string sourceRoot)
      : destinationRoot_(std::move(destinationRoot)), sourceRoot_(std::move(sourceRoot)) {}

  // Each file written is noted in written, when given.
  int Run(OverwritePolicy policy, DurableWrites* written = nullptr) const;

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
             DurableWrites* written = nullptr);
