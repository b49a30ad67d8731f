// The stand-in registry of the native build: the calls behave as the
// registry does where the installer can tell, and the hive file is never
// lost, torn or overwritten when it cannot be read.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/posix/hive.h"
#include "platform/win32.h"
#include "registry/registry_key.h"
#include "support/kit.h"

using testing_support::Kit;
using testing_support::ReadFile;
using testing_support::RunResult;
using testing_support::TempFolder;
using testing_support::WriteFile;

namespace {

const char kRecordKey[] = "SOFTWARE\\Veltrane\\Orvinel\\Manual\\{5E1C7A20-3B9D-4C6F-A2E8-91D04B7F3C65}";
const char kUninstallKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{5E1C7A20-3B9D-4C6F-A2E8-91D04B7F3C65}";

LONG SetText(HKEY key, const char* name, const std::string& text) {
  return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>(text.size() + 1));
}

class StandInHive : public ::testing::Test {
 protected:
  StandInHive() { UseHive(folder_.path() / "HKLM.reg"); }
  void UseHive(const fs::path& path) {
    hive_ = path;
    setenv("QUORVEX_HKLM", path.c_str(), 1);
  }
  LONG Create(const char* path, ScopedRegKey& key, REGSAM access = KEY_ALL_ACCESS,
              DWORD* disposition = nullptr) {
    return RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, access, nullptr,
                           key.Receive(), disposition);
  }
  std::string HiveText() const { return ReadFile(hive_); }

  TempFolder folder_;
  fs::path hive_;
};

TEST_F(StandInHive, CreatesKeysWithTheirParentsInANewHive) {
  UseHive(folder_.path() / "var" / "lib" / "HKLM.reg");
  const mode_t oldMask = umask(077);
  ScopedRegKey key;
  DWORD disposition = 0;
  ASSERT_EQ(Create("SOFTWARE\\Veltrane\\Orvinel", key, KEY_ALL_ACCESS, &disposition), 0);
  umask(oldMask);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
  EXPECT_EQ(HiveText(),
            "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\n\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Veltrane]\n\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Veltrane\\Orvinel]\n\n");
  struct stat status;
  ASSERT_EQ(stat(hive_.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0644u);

  ASSERT_EQ(Create("software\\VELTRANE\\orvinel", key, KEY_READ, &disposition), 0);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
  ASSERT_EQ(Create("Software\\Veltrane\\Orvinel\\Manual", key), 0);
  EXPECT_NE(HiveText().find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Veltrane\\Orvinel\\Manual]"),
            std::string::npos);
}

TEST_F(StandInHive, ValueNamesIgnoreCaseAndKeepTheirStoredCase) {
  ScopedRegKey key;
  ASSERT_EQ(Create(kRecordKey, key), 0);
  ASSERT_EQ(SetText(key.Get(), "En", "1"), 0);
  ASSERT_EQ(SetText(key.Get(), "EN", "2"), 0);
  char data[8];
  DWORD size = sizeof data;
  ASSERT_EQ(RegQueryValueExA(key.Get(), "en", nullptr, nullptr, reinterpret_cast<BYTE*>(data),
                             &size),
            0);
  EXPECT_STREQ(data, "2");
  const std::string text = HiveText();
  EXPECT_NE(text.find("\"En\"=\"2\"\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("EN"), std::string::npos) << text;
}

TEST_F(StandInHive, QueriesAnswerAsTheRegistryDoes) {
  ScopedRegKey key;
  ASSERT_EQ(Create("SOFTWARE\\Q", key), 0);
  ASSERT_EQ(SetText(key.Get(), "v", "12345"), 0);
  ASSERT_EQ(SetText(key.Get(), nullptr, "default"), 0);

  DWORD type = 0, size = 0;
  EXPECT_EQ(RegQueryValueExA(key.Get(), "v", nullptr, &type, nullptr, &size), 0);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(size, 6u);
  BYTE data[6];
  size = 5;
  EXPECT_EQ(RegQueryValueExA(key.Get(), "v", nullptr, nullptr, data, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 6u);
  size = 6;
  EXPECT_EQ(RegQueryValueExA(key.Get(), "v", nullptr, nullptr, data, &size), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data), size), std::string("12345", 6));
  size = 0;
  EXPECT_EQ(RegQueryValueExA(key.Get(), "", nullptr, nullptr, nullptr, &size), 0);
  EXPECT_EQ(size, 8u);
  EXPECT_EQ(RegQueryValueExA(key.Get(), "w", nullptr, nullptr, nullptr, &size),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegQueryValueExA(key.Get(), "v", nullptr, nullptr, data, nullptr),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegDeleteValueA(key.Get(), "V"), 0);
  EXPECT_EQ(RegDeleteValueA(key.Get(), "v"), ERROR_FILE_NOT_FOUND);

  ScopedRegKey missing;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Q\\R", 0, KEY_READ, missing.Receive()),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(missing.Get(), nullptr);
}

TEST_F(StandInHive, HandlesCarryTheirAccessAndCloseOnce) {
  ScopedRegKey created;
  ASSERT_EQ(Create("SOFTWARE\\A", created), 0);
  HKEY reader = nullptr, writer = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "software\\a", 0, KEY_READ, &reader), 0);
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\A", 0, KEY_SET_VALUE, &writer), 0);
  EXPECT_EQ(SetText(reader, "v", "1"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(SetText(writer, "v", "1"), 0);
  EXPECT_EQ(RegQueryValueExA(writer, "v", nullptr, nullptr, nullptr, nullptr), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegQueryValueExA(reader, "v", nullptr, nullptr, nullptr, nullptr), 0);

  ScopedRegKey sub;
  EXPECT_EQ(RegCreateKeyExA(reader, "B", 0, nullptr, 0, KEY_READ, nullptr, sub.Receive(), nullptr),
            ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegCreateKeyExA(created.Get(), "B\\C", 0, nullptr, 0, KEY_READ, nullptr,
                            sub.Receive(), nullptr),
            0);
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\A\\B\\C", 0, KEY_READ, sub.Receive()),
            0);

  EXPECT_EQ(RegCloseKey(reader), 0);
  EXPECT_EQ(RegCloseKey(reader), ERROR_INVALID_HANDLE);
  EXPECT_EQ(SetText(reader, "v", "2"), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(writer), 0);
  int notAKey = 0;
  EXPECT_EQ(RegCloseKey(reinterpret_cast<HKEY>(&notAKey)), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(nullptr), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), 0);
}

TEST_F(StandInHive, OtherValuesKeepTheirLinesWhenOneChanges) {
  const std::string before =
      "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\n\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\n\"Flags\"=dword:00000001\n"
      "\"List\"=hex(7):61,00,\\\n  00,00\n@=\"x \\\"quoted\\\" \\\\ text\"\n\n";
  WriteFile(hive_, before);
  ScopedRegKey key;
  ASSERT_EQ(Create("SOFTWARE\\Other", key), 0);
  EXPECT_EQ(HiveText(), before);
  ASSERT_EQ(SetText(key.Get(), "en", "2.0"), 0);
  EXPECT_EQ(HiveText(), before.substr(0, before.size() - 1) + "\"en\"=\"2.0\"\n\n");
}

TEST_F(StandInHive, NamesTheFileCannotHoldAreRefused) {
  ScopedRegKey key;
  EXPECT_EQ(Create("SOFTWARE\\line\nbreak", key), ERROR_INVALID_PARAMETER);
  ASSERT_EQ(Create("SOFTWARE", key), 0);
  EXPECT_EQ(SetText(key.Get(), "a\rb", "1"), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(HiveText(), "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\n\n");
}

TEST_F(StandInHive, AHiveThatCannotBeReadIsNeverWritten) {
  for (const std::string& corrupt : {std::string("REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"x\"=\"cut"),
                                     std::string(), std::string("\0\0\0\0", 4)}) {
    WriteFile(hive_, corrupt);
    ScopedRegKey key;
    EXPECT_EQ(Create("SOFTWARE\\New", key), ERROR_BADDB);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "A", 0, KEY_READ, key.Receive()), ERROR_BADDB);
    EXPECT_EQ(SetText(HKEY_LOCAL_MACHINE, "v", "1"), ERROR_BADDB);
    EXPECT_EQ(HiveText(), corrupt);
  }
  fs::remove(hive_);
  fs::create_directory(hive_);
  ScopedRegKey key;
  EXPECT_NE(Create("SOFTWARE\\New", key), 0);
  EXPECT_TRUE(fs::is_directory(hive_));
}

// A folder of the hive's path that is a file stops every user, root too.
TEST_F(StandInHive, AHiveThatCannotBeCreatedRefusesWriters) {
  WriteFile(folder_.path() / "file", "not a folder");
  UseHive(folder_.path() / "file" / "HKLM.reg");
  ScopedRegKey key;
  EXPECT_EQ(Create("SOFTWARE\\New", key), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, key.Receive()),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(ReadFile(folder_.path() / "file"), "not a folder");
}

// The installer's runs over a hive that is not a hive (torn, empty, binary)
// take the failure branches and leave the file as it was.
TEST(StandInHiveRun, CorruptHiveRefusesTheRunAndStaysAsItWas) {
  for (const std::string& corrupt :
       {std::string("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\n\"en\"=\"1\"\n"), std::string(),
        std::string("\x7f" "ELF\x02\x01\x01\0\0\0", 10)}) {
    Kit kit;
    kit.AddSourceFile("index.html", "<index>");
    fs::create_directories(kit.installFolder());
    WriteFile(kit.HivePath(), corrupt);
    kit.WriteSettings("[Product]\nMessageDisplay=1\n");
    EXPECT_EQ(kit.RunInto(kit.installFolder()).exitCode, 7);
    kit.WriteSettings("[Product]\nMessageDisplay=0\n");
    EXPECT_EQ(kit.RunInto(kit.installFolder()).exitCode, 0);
    auto result = kit.Run({});
    EXPECT_EQ(result.exitCode, 5);
    EXPECT_EQ(result.output, "Can not get the install directory!");
    EXPECT_EQ(ReadFile(kit.HivePath()), corrupt);
    EXPECT_TRUE(fs::is_empty(kit.installFolder()));
  }
}

// Runs program as another user when we are root; otherwise the hive and its
// folder are made read-only for us.
RunResult RunAsUserWhoCannotWrite(const std::string& program, const fs::path& hive,
                                  const std::vector<std::string>& arguments) {
  const bool root = geteuid() == 0;
  if (!root) {
    fs::permissions(hive, fs::perms::owner_write, fs::perm_options::remove);
    fs::permissions(hive.parent_path(), fs::perms::owner_write, fs::perm_options::remove);
  }
  TempFolder streams;
  const fs::path out = streams.path() / "out", err = streams.path() / "err";
  RunResult result;
  pid_t child = fork();
  if (child == 0) {
    dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
    dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
    dup2(open("/dev/null", O_RDONLY), 0);
    setenv("QUORVEX_HKLM", hive.c_str(), 1);
    const uid_t nobody = 65534;
    if (root && (setgroups(0, nullptr) != 0 || setgid(nobody) != 0 || setuid(nobody) != 0)) {
      _exit(126);
    }
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  if (child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status)) {
    result.exitCode = WEXITSTATUS(status);
  }
  result.output = ReadFile(out);
  result.errors = ReadFile(err);
  if (!root) {
    fs::permissions(hive.parent_path(), fs::perms::owner_write, fs::perm_options::add);
    fs::permissions(hive, fs::perms::owner_write, fs::perm_options::add);
  }
  return result;
}

TEST(StandInHiveRun, AUserWhoCannotWriteTheHiveIsRefused) {
  Kit kit;
  const fs::path hive = kit.folder() / "registry" / "HKLM.reg";
  // An older manual is recorded: only the missing right to write refuses the run.
  const std::string seeded = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\" + std::string(kUninstallKey) +
                             "]\n\"InstallPath0\"=\"" + kit.installFolder().string() +
                             "\"\n\n[HKEY_LOCAL_MACHINE\\" + kRecordKey + "]\n\"en\"=\"1\"\n\n";
  WriteFile(hive, seeded);
  fs::permissions(kit.folder(), fs::perms::others_read | fs::perms::others_exec,
                  fs::perm_options::add);
  for (int messages : {1, 0}) {
    kit.WriteSettings("[Product]\nMessageDisplay=" + std::to_string(messages) + "\n");
    auto result = RunAsUserWhoCannotWrite(kit.executable().string(), hive, {});
    EXPECT_EQ(result.exitCode, messages ? 7 : 0);
    EXPECT_EQ(result.output, "");
    EXPECT_EQ(ReadFile(hive), seeded);
  }
}

std::vector<pid_t> StartWriters(const fs::path& hive, const std::vector<std::vector<std::string>>& runs,
                                std::vector<int>* outputs) {
  std::vector<pid_t> children;
  for (const auto& arguments : runs) {
    int pipeEnds[2] = {-1, -1};
    if (outputs && pipe(pipeEnds) != 0) break;
    pid_t child = fork();
    if (child == 0) {
      if (outputs) dup2(pipeEnds[1], 1);
      setenv("QUORVEX_HKLM", hive.c_str(), 1);
      std::vector<char*> argv{const_cast<char*>(HIVE_WRITER)};
      for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
      argv.push_back(nullptr);
      execv(HIVE_WRITER, argv.data());
      _exit(127);
    }
    if (outputs) {
      close(pipeEnds[1]);
      outputs->push_back(pipeEnds[0]);
    }
    children.push_back(child);
  }
  return children;
}

// Reads completed-write lines until the count'th, or the end.
int ReadWrites(int fd, int count) {
  int lines = 0;
  char c;
  while (lines < count && read(fd, &c, 1) == 1) lines += c == '\n';
  return lines;
}

const standin::HiveValue* ValueIn(const standin::Hive& hive, const char* key, const char* name) {
  const standin::HiveKey* found = hive.FindKey(key);
  return found ? found->FindValue(name) : nullptr;
}

TEST_F(StandInHive, AWriterKilledMidWriteLeavesTheOldOrTheNewHive) {
  ScopedRegKey key;
  ASSERT_EQ(Create("SOFTWARE\\Crash", key), 0);
  ASSERT_EQ(SetText(key.Get(), "keep", "me"), 0);
  for (int round = 1; round <= 12; ++round) {
    std::vector<int> outputs;
    auto children = StartWriters(hive_, {{"SOFTWARE\\Crash", "counter", "100000", "--same"}},
                                 &outputs);
    ASSERT_EQ(children.size(), 1u);
    const int done = ReadWrites(outputs[0], round * 3);
    kill(children[0], SIGKILL);
    waitpid(children[0], nullptr, 0);
    close(outputs[0]);

    standin::Hive hive;
    ASSERT_TRUE(standin::ParseHive(HiveText(), hive)) << HiveText();
    const auto* counter = ValueIn(hive, "SOFTWARE\\Crash", "counter");
    ASSERT_NE(counter, nullptr);
    EXPECT_GE(atoi(counter->data.c_str()), done);
    const auto* kept = ValueIn(hive, "SOFTWARE\\Crash", "keep");
    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(kept->data, std::string("me", 3));
  }
  ASSERT_EQ(SetText(key.Get(), "after", "crashes"), 0);
  std::vector<std::string> files;
  for (const auto& entry : fs::directory_iterator(folder_.path())) {
    files.push_back(entry.path().filename().string());
  }
  EXPECT_EQ(files, std::vector<std::string>{"HKLM.reg"});
}

TEST_F(StandInHive, WritersRunningAtOnceKeepEveryValue) {
  const int writers = 4, writes = 40;
  std::vector<std::vector<std::string>> runs;
  for (int w = 0; w < writers; ++w) {
    runs.push_back({"SOFTWARE\\Shared", "writer" + std::to_string(w), std::to_string(writes)});
  }
  for (pid_t child : StartWriters(hive_, runs, nullptr)) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  standin::Hive hive;
  ASSERT_TRUE(standin::ParseHive(HiveText(), hive));
  for (int w = 0; w < writers; ++w) {
    for (int i = 1; i <= writes; ++i) {
      const std::string name = "writer" + std::to_string(w) + "-" + std::to_string(i);
      const auto* value = ValueIn(hive, "SOFTWARE\\Shared", name.c_str());
      ASSERT_NE(value, nullptr) << name;
      EXPECT_EQ(value->data, std::to_string(i) + '\0');
    }
  }
}

}  // namespace
