// What a file in the install directory is, as a listing of its folder
// shows it: a file put back by anyone else differs in one of these.
#pragma once

#include <stdint.h>

struct FileIdentity {
  uint64_t size = 0;
  uint64_t lastWriteTime = 0;  // FILETIME ticks
  uint64_t changeTime = 0;     // FILETIME ticks; natively the inode's ctime
  uint64_t fileId = 0;         // natively the inode number
  uint64_t volume = 0;         // volume serial number; natively the device

  bool operator==(const FileIdentity& other) const {
    return size == other.size && lastWriteTime == other.lastWriteTime &&
           changeTime == other.changeTime && fileId == other.fileId && volume == other.volume;
  }
  bool operator!=(const FileIdentity& other) const { return !(*this == other); }
};
