// Copying a file's bytes, permission bits and times between descriptors:
// shared by the stand-in's CopyFileA and its replace.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <utility>

namespace standin {

class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) : fd_(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  UniqueFd& operator=(UniqueFd&& other) {
    if (this != &other) {
      Reset();
      fd_ = other.Release();
    }
    return *this;
  }
  int Get() const { return fd_; }
  bool IsValid() const { return fd_ >= 0; }
  int Release() { return std::exchange(fd_, -1); }
  void Reset() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

// Writes the content of source (described by status), its permission bits
// and its times to copy.
bool WriteCopy(int source, const struct stat& status, int copy);

// Opens path without blocking on a FIFO.
int OpenFile(const char* path, int flags, mode_t mode = 0);

bool HasWriteBits(mode_t mode);

}  // namespace standin
