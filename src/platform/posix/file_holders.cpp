// The holders natively: every other process whose descriptors lead to the
// file, as /proc shows them. What cannot be read (a process that ended, one
// of another user's without the rights) is passed over.
#include "platform/file_holders.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

#include "file_copy.h"
#include "standin_internal.h"

namespace {

const size_t kMostHolders = 64;

struct DirCloser {
  void operator()(DIR* listing) const { closedir(listing); }
};
using UniqueDir = std::unique_ptr<DIR, DirCloser>;

// The digits of a process's or a descriptor's entry, as a number; 0 for
// anything else.
unsigned long NumberOf(const char* name) {
  char* end = nullptr;
  const unsigned long number = strtoul(name, &end, 10);
  return name[0] >= '0' && name[0] <= '9' && *end == '\0' ? number : 0;
}

bool HoldsFile(const std::string& process, const struct stat& file) {
  const std::string fds = process + "/fd";
  UniqueDir listing(opendir(fds.c_str()));
  if (!listing) return false;
  while (const dirent* entry = readdir(listing.get())) {
    if (entry->d_name[0] == '.') continue;
    // stat follows the descriptor's link to what it holds.
    struct stat held;
    if (stat((fds + "/" + entry->d_name).c_str(), &held) == 0 && held.st_dev == file.st_dev &&
        held.st_ino == file.st_ino) {
      return true;
    }
  }
  return false;
}

std::string CommandName(const std::string& process) {
  standin::UniqueFd fd(open((process + "/comm").c_str(), O_RDONLY | O_CLOEXEC));
  char name[64];
  const ssize_t done = fd.IsValid() ? read(fd.Get(), name, sizeof name) : -1;
  if (done <= 0) return {};
  size_t length = static_cast<size_t>(done);
  if (name[length - 1] == '\n') --length;
  return std::string(name, length);
}

}  // namespace

std::vector<FileHolder> FindFileHolders(const std::string& path) {
  std::vector<FileHolder> holders;
  struct stat file;
  if (stat(standin::ToPosixPath(path.c_str()).c_str(), &file) != 0) return holders;
  UniqueDir processes(opendir("/proc"));
  if (!processes) return holders;
  const unsigned long own = static_cast<unsigned long>(getpid());
  while (const dirent* entry = readdir(processes.get())) {
    const unsigned long id = NumberOf(entry->d_name);
    if (id == 0 || id == own) continue;
    const std::string process = std::string("/proc/") + entry->d_name;
    if (!HoldsFile(process, file)) continue;
    holders.push_back({static_cast<DWORD>(id), CommandName(process)});
    if (holders.size() == kMostHolders) break;
  }
  return holders;
}
