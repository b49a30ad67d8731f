// QuorvexKit remove: uninstalls the kit's manual from the install
// directory, by the list of installed files, and removes its version
// record. The one verb that changes anything.
#pragma once

#include <string>
#include <vector>

#include "install_list/listed_removal.h"
#include "kit/report/report.h"

namespace kit {

// Exit codes of remove besides 0 (done, or nothing was installed).
constexpr int kRemoveIncomplete = 1;        // something to remove remains; run it again
constexpr int kRemoveNotAdministrator = 3;  // nothing touched
constexpr int kRemoveWrongVariant = 4;      // the other width's installer installed it; nothing touched

// installerArguments: the "/p" arguments. With dryRun nothing is changed:
// the report says what would be removed and kept. identicalOnly, where no
// list can be used: only the installed files that hold the kit's bytes go,
// and the record; every other file, and every folder, stays.
// The action that remove reports for what the removal of a file or a
// folder came to; reason is set where the action alone does not say why.
const char* FileRemovalAction(RemovalOutcome outcome, std::string& reason);
const char* FolderRemovalAction(RemovalOutcome outcome, std::string& reason);

Report RunRemove(const std::string& kitFolder, const std::vector<std::string>& installerArguments,
                 bool dryRun, bool identicalOnly = false);

}  // namespace kit
