#include "kit/facts/install_target.h"

#include "platform/path_separator.h"
#include "platform/win32.h"
#include "registry/registry_key.h"

namespace kit {

InstallTarget FindInstallTarget(const std::vector<std::string>& installerArguments,
                                const InstallerSettings& settings) {
  InstallTarget target;
  char program[] = "QuorvexKit";
  std::vector<char*> argv{program};
  for (const std::string& argument : installerArguments) {
    argv.push_back(const_cast<char*>(argument.c_str()));
  }
  target.source = FindInstallDirectory(static_cast<int>(argv.size()), argv.data(),
                                       settings.productGuid, target.directory);

  // Opened for reading only: the installer creates the key, this must not.
  ScopedRegKey key;
  const LONG opened = RegOpenKeyExA(HKEY_LOCAL_MACHINE, ManualRecordKey(settings).c_str(), 0,
                                    KEY_READ, key.Receive());
  if (opened == ERROR_SUCCESS && key.Get()) {
    target.record = JudgeRecordedVersion(key.Get(), settings);
  } else if (opened != ERROR_FILE_NOT_FOUND) {
    target.recordReadable = false;
    target.record.updateAllowed = false;
  }
  return target;
}

std::unique_ptr<RunLists> ReadInstalledLists(const InstallerSettings& settings,
                                             const std::string& directory,
                                             const std::string& sourceRoot) {
  ScopedRegKey key;
  RegOpenKeyExA(HKEY_LOCAL_MACHINE, ManualRecordKey(settings).c_str(), 0, KEY_READ,
                key.Receive());
  // The key serves the reading only; nothing here writes a list.
  auto lists = std::make_unique<RunLists>(settings, directory, key.Get(), sourceRoot);
  lists->Load();
  return lists;
}

const char* InstallDirectorySourceName(InstallDirectorySource source) {
  return source == InstallDirectorySource::Argument       ? "argument"
         : source == InstallDirectorySource::Registration ? "registration"
                                                          : "none";
}

std::vector<Field> TargetFields(const InstallTarget& target, const InstallerSettings& settings) {
  const char* source = InstallDirectorySourceName(target.source);
  std::vector<Field> fields;
  if (target.directory.empty()) {
    fields.push_back({"installDirectory", "null", true});
  } else {
    fields.push_back({"installDirectory", target.directory});
  }
  fields.push_back({"installDirectorySource", source});
  if (target.record.found) {
    fields.push_back({"recordedVersion", target.record.version});
  } else {
    fields.push_back({"recordedVersion", "null", true});
  }
  fields.push_back({"kitVersion", settings.manualVersion});
  return fields;
}

std::string RelativePath(const std::string& root, const std::string& path) {
  if (path.compare(0, root.size(), root) != 0) return DisplayPath(path);
  return DisplayPath(path.substr(root.size()));
}

}  // namespace kit
