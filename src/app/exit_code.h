// The process exit status of a run (there is no code 2).
#pragma once

enum ExitCode : int {
  kExitSuccess = 0,                 // copy complete, or refused with messages disabled
  kExitFrameworkFailed = 1,         // the framework's start-up failed
  kExitNoKit = 1,                   // neither the settings nor SRC beside the program
  kExitFolderCreationFailed = 3,    // creating a destination folder failed
  kExitFileCopyFailed = 4,          // copying a file failed
  kExitNoInstallDirectory = 5,      // no install directory was found
  kExitNoProgramDirectory = 6,      // the program's own folder was not available
  kExitRefused = 7,                 // refused with messages enabled
  kExitRecordFailed = 8,            // the manual copied, its version not recorded
};
