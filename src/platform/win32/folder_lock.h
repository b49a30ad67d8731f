// Serialises the runs that write into one folder at the same moment (two
// installers into one folder would write the same temporary files). The
// lock of a folder is taken for its first file and kept while the files
// that follow go into the same folder; a run holds one folder's lock at a
// time and lets go of it before it waits for another, so two runs never
// wait for each other in a circle. A named mutex is released by the system
// when its owner dies, so a killed run never blocks the next one.
//
// Runs under different accounts (SYSTEM from a deployment tool, an
// administrator by hand) share one lock: it is made open to SYSTEM and the
// Administrators, and opened with only the rights to wait on it, let it go
// and read its owner. Its name can be computed by anyone, so a lock that
// another account made first is not waited on, and no wait is endless: a
// lock that cannot be had is done without, since the held folders and
// fresh temporary names already keep two runs from spoiling each other's
// files.
#pragma once

#include <string>

#include "platform/win32.h"

class FolderLock {
 public:
  ~FolderLock() { Release(); }

  // Takes the lock of folder, letting go of the one held before.
  void Hold(const std::string& folder);
  void Release();

  // What the run's log should say of the locks done without, once read.
  std::string TakeNote();

  // The longest wait for one lock; after one wait runs out, the run goes on
  // without locks (every folder's lock name can be computed, so a bound per
  // folder would add up).
  static const DWORD kLongestWait = 30000;

 private:
  void DoWithout(const std::string& why);

  std::string folder_;
  HANDLE mutex_ = nullptr;
  bool owned_ = false;
  bool givenUp_ = false;
  std::string note_;
};

// The mutex's name for folder: its full path, upper-cased, hashed
// ("Global\Quorvex-" and 16 hex digits).
std::string FolderLockName(const std::string& folder);
