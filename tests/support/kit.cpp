#include "support/kit.h"

#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace testing_support {

std::string HostPath(const std::string& path) {
#ifdef _WIN32
  if (!path.empty() && path[0] == '/') {
    std::string windows = "Z:" + path;
    for (char& c : windows) {
      if (c == '/') c = '\\';
    }
    return windows;
  }
#endif
  return path;
}

std::string InstallerExecutable() { return HostPath(QUORVEX_EXE); }

std::string QuorvexKitExecutable() { return HostPath(QUORVEX_KIT_EXE); }

TempFolder::TempFolder() {
  std::random_device seed;
  std::mt19937_64 random(seed());
  for (int attempt = 0; attempt < 100; ++attempt) {
    fs::path candidate = fs::temp_directory_path() / ("quorvex-test-" + std::to_string(random() % 100000000));
    std::error_code error;
    if (fs::create_directory(candidate, error)) {
      path_ = candidate;
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary folder");
}

TempFolder::~TempFolder() {
  std::error_code error;
  // Files the installer made read-only must be writable to be removed on Windows.
  for (auto it = fs::recursive_directory_iterator(path_, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    if (!it->is_symlink()) {
      fs::permissions(it->path(), fs::perms::owner_write, fs::perm_options::add, error);
    }
  }
  fs::remove_all(path_, error);
}

std::string TempFolder::Text() const {
  std::string text = path_.string();
  text += static_cast<char>(fs::path::preferred_separator);
  return text;
}

void WriteFile(const fs::path& path, const std::string& content) {
  if (path.has_parent_path()) fs::create_directories(path.parent_path());
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << content;
  if (!file) throw std::runtime_error("cannot write " + path.string());
}

std::string ReadFile(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream content;
  content << file.rdbuf();
  return content.str();
}

#ifdef _WIN32

namespace {

std::string QuoteArgument(const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, '\\');
  return quoted + "\"";
}

HANDLE InheritableFile(const std::string& path) {
  SECURITY_ATTRIBUTES security{sizeof security, nullptr, TRUE};
  return CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &security, CREATE_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

StartedProgram::StartedProgram(const std::string& program,
                               const std::vector<std::string>& arguments,
                               const Environment& extraEnvironment, const std::string&) {
  std::string commandLine = QuoteArgument(program);
  for (const auto& argument : arguments) commandLine += " " + QuoteArgument(argument);

  for (const auto& [name, value] : extraEnvironment) SetEnvironmentVariableA(name.c_str(), value.c_str());
  HANDLE out = InheritableFile((streams_.path() / "out").string());
  HANDLE err = InheritableFile((streams_.path() / "err").string());
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = out;
  startup.hStdError = err;
  PROCESS_INFORMATION process{};
  if (CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr,
                     nullptr, &startup, &process)) {
    CloseHandle(process.hThread);
    process_ = reinterpret_cast<intptr_t>(process.hProcess);
  }
  CloseHandle(out);
  CloseHandle(err);
  for (const auto& entry : extraEnvironment) SetEnvironmentVariableA(entry.first.c_str(), nullptr);
}

RunResult StartedProgram::Wait() {
  if (process_) {
    const HANDLE process = reinterpret_cast<HANDLE>(static_cast<intptr_t>(process_));
    WaitForSingleObject(process, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    result_.exitCode = static_cast<int>(code);
    CloseHandle(process);
    process_ = 0;
    result_.output = ReadFile(streams_.path() / "out");
    result_.errors = ReadFile(streams_.path() / "err");
  }
  return result_;
}

#else

StartedProgram::StartedProgram(const std::string& program,
                               const std::vector<std::string>& arguments,
                               const Environment& extraEnvironment, const std::string& input) {
  const std::string outPath = (streams_.path() / "out").string();
  const std::string errPath = (streams_.path() / "err").string();
  const pid_t child = fork();
  if (child == 0) {
    int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int in = open(input.empty() ? "/dev/null" : input.c_str(), O_RDWR);
    dup2(out, 1);
    dup2(err, 2);
    dup2(in, 0);
    for (const auto& [name, value] : extraEnvironment) setenv(name.c_str(), value.c_str(), 1);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  process_ = child > 0 ? child : 0;
}

RunResult StartedProgram::Wait() {
  int status = 0;
  if (process_ && waitpid(static_cast<pid_t>(process_), &status, 0) == process_) {
    result_.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result_.output = ReadFile(streams_.path() / "out");
    result_.errors = ReadFile(streams_.path() / "err");
  }
  process_ = 0;
  return result_;
}

#endif

RunResult RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                     const Environment& extraEnvironment) {
  return StartedProgram(program, arguments, extraEnvironment).Wait();
}

Kit::Kit() : programName_(fs::path(InstallerExecutable()).filename().string()) {
  fs::create_directories(kitFolder());
  fs::copy_file(fs::path(InstallerExecutable()), executable());
}

fs::path Kit::executable() const { return kitFolder() / programName_; }

void Kit::RenameProgram(const std::string& fileName) {
  const fs::path renamed = kitFolder() / fileName;
  fs::rename(executable(), renamed);
  programName_ = fileName;
}

void Kit::UseKillPointsProgram() const {
  fs::copy_file(fs::path(HostPath(QUORVEX_KILL_POINTS_EXE)), executable(),
                fs::copy_options::overwrite_existing);
}

void Kit::WriteSettings(const std::string& iniText) const {
  WriteFile(kitFolder() / "Quorvex.ini", iniText);
}

void Kit::AddSourceFile(const std::string& relativePath, const std::string& content) const {
  WriteFile(sourceFolder() / relativePath, content);
}

RunResult Kit::Run(const std::vector<std::string>& arguments, Environment extraEnvironment) const {
#ifndef _WIN32
  extraEnvironment.emplace_back("QUORVEX_HKLM", HivePath().string());
#endif
  return RunProgram(executable().string(), arguments, extraEnvironment);
}

RunResult Kit::RunInto(const fs::path& installFolder) const {
  return Run({"/p" + installFolder.string()});
}

std::unique_ptr<StartedProgram> Kit::Start(const std::vector<std::string>& arguments,
                                           Environment extraEnvironment,
                                           const std::string& input) const {
#ifndef _WIN32
  extraEnvironment.emplace_back("QUORVEX_HKLM", HivePath().string());
#endif
  return std::make_unique<StartedProgram>(executable().string(), arguments, extraEnvironment,
                                          input);
}

std::string StartedProgram::ErrorsSoFar() const {
  std::ifstream errors(streams_.path() / "err", std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(errors), {});
}

#ifndef _WIN32
HoldingProcess::HoldingProcess(const fs::path& file, const char* name, bool lease) {
  int ready[2], release[2];
  if (pipe2(ready, O_CLOEXEC) != 0) return;
  if (pipe2(release, O_CLOEXEC) != 0) {
    close(ready[0]);
    close(ready[1]);
    return;
  }
  const pid_t child = fork();
  if (child == 0) {
    // Only calls that are safe after a fork of a threaded process.
    close(release[1]);
    close(ready[0]);
    prctl(PR_SET_NAME, name);
    signal(SIGIO, SIG_IGN);  // a broken lease's notice
    const int fd = open(file.c_str(), (lease ? O_RDWR : O_RDONLY) | O_CLOEXEC);
    char held = fd >= 0 && (!lease || fcntl(fd, F_SETLEASE, F_WRLCK) == 0) ? 'y' : 'n';
    if (write(ready[1], &held, 1) == 1) {
      while (read(release[0], &held, 1) > 0) {
      }
    }
    _exit(0);
  }
  close(ready[1]);
  close(release[0]);
  release_ = release[1];
  char held = 'n';
  if (child > 0) {
    process_ = child;
    holding_ = read(ready[0], &held, 1) == 1 && held == 'y';
  }
  close(ready[0]);
}

HoldingProcess::~HoldingProcess() {
  close(release_);
  if (process_ > 0) waitpid(static_cast<pid_t>(process_), nullptr, 0);
}
#endif

}  // namespace testing_support
