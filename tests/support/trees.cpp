#include "support/trees.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <random>
#include <stdexcept>

namespace testing_support {

namespace {

constexpr time_t kBaseTime = 1704067200;  // 2024-01-01
constexpr int kFilesPerFolder = 30;
constexpr int kFoldersPerFolder = 5;

std::string Content(std::mt19937& random, size_t size) {
  std::string content(size, '\0');
  for (size_t i = 0; i < size; i += 4) {
    const uint32_t word = random();
    for (size_t j = 0; j < 4 && i + j < size; ++j) content[i + j] = static_cast<char>(word >> (8 * j));
  }
  return content;
}

void WriteWithTime(const fs::path& path, const std::string& content, const timespec& when,
                   bool readOnly) {
  WriteFile(path, content);
  const timespec times[2] = {when, when};
  if (utimensat(AT_FDCWD, path.c_str(), times, 0) != 0 ||
      (readOnly && chmod(path.c_str(), 0444) != 0)) {
    throw std::runtime_error("cannot set up " + path.string());
  }
}

struct Entry {
  bool folder = false;
  struct stat status {};
};

std::map<std::string, Entry> Entries(const fs::path& root) {
  std::map<std::string, Entry> entries;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
       ++it) {
    Entry entry;
    lstat(it->path().c_str(), &entry.status);
    entry.folder = S_ISDIR(entry.status.st_mode);
    entries[it->path().lexically_relative(root).string()] = entry;
  }
  return entries;
}

bool SameContent(const fs::path& a, const fs::path& b) {
  return fs::file_size(a) == fs::file_size(b) && ReadFile(a) == ReadFile(b);
}

}  // namespace

void WriteManualTree(const fs::path& root, const TreeShape& shape, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<fs::path> folders{root};
  fs::create_directories(root);
  const int folderCount = (shape.files + kFilesPerFolder - 1) / kFilesPerFolder;
  for (int k = 1; k < folderCount; ++k) {
    folders.push_back(folders[(k - 1) / kFoldersPerFolder] / ("section" + std::to_string(k)));
    fs::create_directory(folders.back());
  }
  for (int n = 0; n < shape.files; ++n) {
    const bool large = shape.largeEvery > 0 && n % shape.largeEvery == shape.largeEvery - 1;
    size_t size = large ? shape.largeSize : 512 + random() % 8192;
    if (n % 53 == 7) size = 0;
    const fs::path path =
        folders[n / kFilesPerFolder] / ((large ? "figure" : "page") + std::to_string(n) +
                                        (large ? ".png" : ".html"));
    const timespec when{kBaseTime + n, static_cast<long>(random() % 1000000000)};
    WriteWithTime(path, Content(random, size), when, n % 9 == 4);
  }
}

bool IsPartialCopyName(const std::string& name) {
  return name.size() > 2 && name.compare(0, 2, "~q") == 0;
}

std::string CompareTrees(const fs::path& source, const fs::path& installed) {
  const auto expected = Entries(source);
  const auto actual = Entries(installed);
  for (const auto& [path, entry] : actual) {
    if (!expected.count(path)) return "not in the source: " + path;
  }
  for (const auto& [path, entry] : expected) {
    auto found = actual.find(path);
    if (found == actual.end()) return "missing: " + path;
    if (entry.folder != found->second.folder) return "file or folder: " + path;
    if (entry.folder) continue;
    const struct stat& want = entry.status;
    const struct stat& got = found->second.status;
    if (!S_ISREG(got.st_mode) || !SameContent(source / path, installed / path)) {
      return "content: " + path;
    }
    if (want.st_mtim.tv_sec != got.st_mtim.tv_sec || want.st_mtim.tv_nsec != got.st_mtim.tv_nsec) {
      return "last-write time: " + path;
    }
    if ((want.st_mode & 07777) != (got.st_mode & 07777)) return "permissions: " + path;
  }
  return "";
}

std::string CheckNothingHalfWritten(const fs::path& source, const fs::path& installed,
                                    bool complete) {
  const auto entries = Entries(installed);
  if (complete) {
    for (const auto& [path, entry] : Entries(source)) {
      if (!entries.count(path)) return "missing: " + path;
    }
  }
  for (const auto& [path, entry] : entries) {
    const fs::path from = source / path;
    if (IsPartialCopyName(fs::path(path).filename().string()) && S_ISREG(entry.status.st_mode)) {
      continue;
    }
    if (entry.folder) {
      if (!fs::is_directory(from)) return "folder not in the source: " + path;
      continue;
    }
    if (!S_ISREG(entry.status.st_mode) || !fs::is_regular_file(from)) {
      return "not a source file: " + path;
    }
    if (!SameContent(from, installed / path)) return "half written: " + path;
  }
  return "";
}

BackgroundRun::BackgroundRun(const std::string& program, const std::vector<std::string>& arguments,
                             const Environment& environment, int gate) {
  pid_ = fork();
  if (pid_ != 0) return;
  const int null = open("/dev/null", O_RDWR);
  dup2(null, 0);
  dup2(null, 1);
  dup2(null, 2);
  for (const auto& [name, value] : environment) setenv(name.c_str(), value.c_str(), 1);
  if (gate >= 0) {
    // Every other end of the gate is closed here, or it would never open.
    for (int fd = 3; fd < 1024; ++fd) {
      if (fd != gate) close(fd);
    }
    char byte;
    while (read(gate, &byte, 1) > 0) {
    }
    close(gate);
  }
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  execv(program.c_str(), argv.data());
  _exit(127);
}

BackgroundRun::~BackgroundRun() {
  if (pid_ > 0 && status_ == -1) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

void BackgroundRun::Kill() {
  if (pid_ > 0 && status_ == -1) kill(pid_, SIGKILL);
}

int BackgroundRun::Wait(int seconds) {
  if (pid_ <= 0) return -1;
  if (status_ != -1) return status_;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  const timespec pause{0, 1000000};
  bool late = false;
  int status = 0;
  pid_t done;
  while ((done = waitpid(pid_, &status, WNOHANG)) == 0 || (done < 0 && errno == EINTR)) {
    if (!late && std::chrono::steady_clock::now() > deadline) {
      kill(pid_, SIGKILL);
      late = true;
    }
    nanosleep(&pause, nullptr);
  }
  if (done != pid_) {
    pid_ = -1;
    return -1;
  }
  status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return late ? -1 : status_;
}

}  // namespace testing_support
