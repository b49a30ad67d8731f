#include "support/kit_scenario.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <random>
#include <sstream>

#include "platform/list_store.h"
#include "platform/scoped_handle.h"
#include "platform/win32.h"
#include "registry/registry_key.h"

namespace testing_support {

namespace {

const char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

std::string Text(const fs::path& path) { return HostPath(path.string()); }

void WriteText(const std::string& keyPath, const char* name, const std::string& text) {
  ScopedRegKey key;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, key.Receive(), nullptr),
            0);
  ASSERT_EQ(RegSetValueExA(key.Get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                           static_cast<DWORD>(text.size() + 1)),
            0);
}


}  // namespace

LoggedRun ReadRunLog(const fs::path& log) {
  LoggedRun logged;
  const std::string copy = "copy: ", removed = "removed ",
                    kept = "kept a file of the previous version: ";
  std::istringstream lines(ReadFile(log));
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(copy, 0) == 0) {
      std::istringstream items(line.substr(copy.size()));
      for (std::string item; std::getline(items >> std::ws, item, ',');) {
        const size_t space = item.rfind(' ');
        logged.copy[item.substr(0, space)] = std::stoi(item.substr(space + 1));
      }
    } else if (line.rfind(removed, 0) == 0 && line.find("(RemoveOldFiles)") != std::string::npos) {
      logged.oldFilesRemoved = std::stoi(line.substr(removed.size()));
    } else if (line.rfind(kept, 0) == 0) {
      std::string path = line.substr(kept.size(), line.rfind(" (") - kept.size());
      for (char& c : path) {
        if (c == '/' || c == '\\') c = static_cast<char>(fs::path::preferred_separator);
      }
      logged.oldFilesKept.insert(path);
    }
  }
  return logged;
}

void DeleteTree(const std::string& keyPath) {
  {
    ScopedRegKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_ALL_ACCESS, key.Receive()) != 0) {
      return;
    }
    char name[256];
    while (RegEnumKeyA(key.Get(), 0, name, sizeof name) == 0) DeleteTree(keyPath + "\\" + name);
  }
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, keyPath.c_str());
}

bool BoxesReturnAtOnce() {
#ifdef _WIN32
  const char* display = getenv("DISPLAY");
  return !display || !*display;
#else
  return true;
#endif
}

void SetWriteTime(const fs::path& path, uint64_t time) {
  const bool readOnly = IsReadOnly(path);
  if (readOnly) SetReadOnly(path, false);
  {
    ScopedHandle file(CreateFileA(Text(path).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file.IsValid()) << path;
    const FILETIME writeTime{static_cast<DWORD>(time), static_cast<DWORD>(time >> 32)};
    ASSERT_TRUE(SetFileTime(file.Get(), nullptr, nullptr, &writeTime)) << path;
  }
  if (readOnly) SetReadOnly(path, true);
}

uint64_t WriteTime(const fs::path& path) {
  ScopedHandle file(CreateFileA(Text(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  FILETIME writeTime{};
  if (!file.IsValid() || !GetFileTime(file.Get(), nullptr, nullptr, &writeTime)) return 0;
  return (static_cast<uint64_t>(writeTime.dwHighDateTime) << 32) | writeTime.dwLowDateTime;
}

void SetReadOnly(const fs::path& path, bool readOnly) {
  const DWORD attributes = GetFileAttributesA(Text(path).c_str());
  ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES) << path;
  const DWORD wanted = readOnly ? attributes | FILE_ATTRIBUTE_READONLY
                                : attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
  ASSERT_TRUE(SetFileAttributesA(Text(path).c_str(), wanted)) << path;
}

bool IsReadOnly(const fs::path& path) {
  const DWORD attributes = GetFileAttributesA(Text(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
}

TreeSnapshot SnapshotTree(const fs::path& root) {
  TreeSnapshot tree;
  std::error_code error;
  if (!fs::is_directory(root, error)) return tree;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    TreeEntry item;
    item.folder = entry.is_directory();
    if (!item.folder) {
      item.content = ReadFile(entry.path());
      item.time = WriteTime(entry.path());
      item.readOnly = IsReadOnly(entry.path());
    }
    tree[entry.path().lexically_relative(root).make_preferred().string()] = item;
  }
  return tree;
}

KitScenario::KitScenario() {
  std::random_device seed;
  std::mt19937_64 random(seed());
  const std::string unique = std::to_string(random() % 1000000000000ULL);
  guid_ = "{4B1D0C3E-0000-4000-8000-" + unique + "}";
  product_ = "QuorvexKitTest" + unique;
#ifndef _WIN32
  setenv("QUORVEX_HKLM", kit_.HivePath().c_str(), 1);
#endif
  fs::create_directories(kit_.installFolder());
}

KitScenario::~KitScenario() {
#ifdef _WIN32
  std::error_code ignored;
  fs::remove_all(ListFolder(), ignored);
  const std::string prefix = "Quorvex " + product_ + " " + guid_;
  for (const auto& entry : fs::directory_iterator(HostPath(ListBaseFolder()), ignored)) {
    if (entry.path().filename().string().compare(0, prefix.size(), prefix) == 0) {
      fs::remove_all(entry.path(), ignored);
    }
  }
  DeleteTree("SOFTWARE\\Veltrane\\" + product_);
  DeleteTree(kUninstallKey + guid_);
#else
  unsetenv("QUORVEX_HKLM");
#endif
}

void KitScenario::Settings(const std::string& version, int messageDisplay, const std::string& more,
                           const std::string& language) const {
  kit_.WriteSettings("[Product]\nProductGUID=" + guid_ + "\nLanguage=" + language +
                     "\nManualVersion=" + version +
                     "\nMessageDisplay=" + std::to_string(messageDisplay) +
                     "\nProduct=" + product_ + "\n" + more);
}

void KitScenario::UseTestBuilds() {
  testBuilds_ = true;
  kit_.UseKillPointsProgram();
}

fs::path KitScenario::ListFolder() const {
  ScopedRegKey key;
  std::string name = "Quorvex " + product_ + " " + guid_;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, (RecordKey() + "\\Files").c_str(), 0, KEY_QUERY_VALUE,
                    key.Receive()) == ERROR_SUCCESS) {
    QueryTextValue(key.Get(), "", name);
  }
  return fs::path(HostPath(ListBaseFolder())) / name;
}

bool KitScenario::AnyListFolder() const {
  const std::string prefix = "Quorvex " + product_ + " " + guid_;
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator(HostPath(ListBaseFolder()), ignored)) {
    if (entry.path().filename().string().compare(0, prefix.size(), prefix) == 0) return true;
  }
  return false;
}

void KitScenario::AddSource(const std::string& path, const std::string& content,
                            uint64_t time) const {
  kit_.AddSourceFile(path, content);
  SetWriteTime(kit_.sourceFolder() / path, time);
}

void KitScenario::AddInstalled(const std::string& path, const std::string& content,
                               uint64_t time) const {
  WriteFile(install() / path, content);
  SetWriteTime(install() / path, time);
}

std::string KitScenario::RecordKey() const {
  return "SOFTWARE\\Veltrane\\" + product_ + "\\Manual\\" + guid_;
}

void KitScenario::WriteRecord(const std::string& version) const {
  WriteText(RecordKey(), "en", version);
}

std::string KitScenario::Recorded() const {
  ScopedRegKey key;
  std::string version;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, RecordKey().c_str(), 0, KEY_QUERY_VALUE,
                    key.Receive()) != ERROR_SUCCESS ||
      !QueryTextValue(key.Get(), "en", version)) {
    return "(none)";
  }
  return version;
}

bool KitScenario::RecordKeyExists() const {
  ScopedRegKey key;
  return RegOpenKeyExA(HKEY_LOCAL_MACHINE, RecordKey().c_str(), 0, KEY_READ, key.Receive()) == 0;
}

void KitScenario::RegisterInstallPath(const std::string& path) const {
  WriteText(kUninstallKey + guid_, "InstallPath0", path);
}

RunResult KitScenario::RunKitRaw(const std::string& verb, const std::vector<std::string>& arguments,
                                const Environment& environment) const {
  std::vector<std::string> all{verb, kit_.kitFolder().string()};
  all.insert(all.end(), arguments.begin(), arguments.end());
  Environment withHive = environment;
#ifndef _WIN32
  withHive.emplace_back("QUORVEX_HKLM", kit_.HivePath().string());
#endif
  if (testBuilds_) withHive.emplace_back("QUORVEX_TRUST_RUNNING_USER", "1");
  return RunProgram(testBuilds_ ? HostPath(QUORVEX_KIT_KILL_POINTS_EXE) : QuorvexKitExecutable(),
                    all, withHive);
}

KitReport KitScenario::RunKit(const std::string& verb, const std::vector<std::string>& arguments,
                              const Environment& environment) const {
  std::vector<std::string> withJson = arguments;
  withJson.push_back("--json");
  const RunResult run = RunKitRaw(verb, withJson, environment);
  KitReport report;
  report.exitStatus = run.exitCode;
  report.errors = run.errors;
  std::string error;
  EXPECT_TRUE(ParseJson(run.output, report.json, error)) << error << "\n" << run.output;
  return report;
}

RunResult KitScenario::Install(const std::vector<std::string>& arguments,
                               const Environment& environment) const {
  Environment trusting = environment;
  if (testBuilds_) trusting.emplace_back("QUORVEX_TRUST_RUNNING_USER", "1");
  return kit_.Run(arguments, trusting);
}

RunResult KitScenario::InstallLogged(const std::vector<std::string>& arguments, LoggedRun& logged,
                                     const Environment& environment) const {
  const fs::path log = kit_.folder() / "install.log";
  std::error_code ignored;
  fs::remove(log, ignored);
  std::vector<std::string> withLog = arguments;
  withLog.push_back("/log=" + HostPath(log.string()));
  const RunResult run = Install(withLog, environment);
  logged = ReadRunLog(log);
  return run;
}

}  // namespace testing_support
