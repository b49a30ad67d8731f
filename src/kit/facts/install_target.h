// Where and over what the installer would install a kit, found as the
// installer finds it but reading only: the install directory and the
// version recorded for the kit's product and language.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/driver.h"
#include "paths/paths.h"
#include "install_list/run_lists.h"
#include "kit/report/report.h"
#include "registry/version_record.h"
#include "settings/settings.h"

namespace kit {

struct InstallTarget {
  InstallDirectorySource source = InstallDirectorySource::None;
  std::string directory;  // empty when there is none
  // The record key could be read, or is not there yet. When false the
  // installer, which must open it for writing, refuses.
  bool recordReadable = true;
  RecordedManual record;
};

// installerArguments: the "/p" arguments of the command line.
InstallTarget FindInstallTarget(const std::vector<std::string>& installerArguments,
                                const InstallerSettings& settings);

// The lists of installed files of the kit's manual in directory, as the
// installer would read them before its copy; reading only.
std::unique_ptr<RunLists> ReadInstalledLists(const InstallerSettings& settings,
                                             const std::string& directory,
                                             const std::string& sourceRoot);

// "argument", "registration" or "none".
const char* InstallDirectorySourceName(InstallDirectorySource source);

// installDirectory, installDirectorySource, recordedVersion (null when none)
// and kitVersion.
std::vector<Field> TargetFields(const InstallTarget& target, const InstallerSettings& settings);

// The part of path after root (root as the copy's walk takes it, ending in a
// separator), with the platform's separators.
std::string RelativePath(const std::string& root, const std::string& path);

}  // namespace kit
