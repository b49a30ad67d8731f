#include "copy/space_need.h"

#include <stdio.h>

#include <map>
#include <vector>

#include "copy/copy_walk.h"
#include "platform/folder_identities.h"

namespace {

// What the copy takes on one volume.
struct VolumeNeed {
  uint64_t volume = 0;
  VolumeSpace space;
  std::string folder;
  uint64_t growth = 0;
  uint64_t largest = 0;
};

const size_t kUnknownVolume = static_cast<size_t>(-1);

uint64_t Ticks(const FILETIME& time) {
  return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// The walk of a copy that only reads what the install tree holds.
class SpaceSteps : public CopySteps {
 public:
  bool CreateFolder(const HeldFolder& parent, const std::string& name, HeldFolder& created,
                    FolderEntry&, std::string&) override {
    created = HeldFolder(parent.Path() + name + '\\');
    volumeOf_[created.Path()] = VolumeOf(parent);
    return true;
  }
  bool PassOver(FileToWrite& file) override {
    Count(file);
    return true;
  }
  // Only in folders that the copy creates.
  bool WriteFile(FileToWrite& file, OverwritePolicy) override {
    Count(file);
    return true;
  }
  void FolderDone(const std::string&, const HeldFolder& folder, bool,
                  const std::vector<WalkedFile>&) override {
    // The highest folder of each volume names it.
    const size_t index = VolumeOf(folder);
    if (index != kUnknownVolume && folder.Path().size() < volumes_[index].folder.size()) {
      volumes_[index].folder = folder.Path();
    }
    identities_.erase(&folder);
  }

  const std::vector<VolumeNeed>& Volumes() const { return volumes_; }

 private:
  void Count(const FileToWrite& file) {
    const size_t index = VolumeOf(*file.folder);
    if (index == kUnknownVolume) return;
    VolumeNeed& need = volumes_[index];
    const uint64_t unit = need.space.allocationUnit;
    const uint64_t size = AllocatedSize(file.listed.size, unit);
    FileIdentity installed;
    if (file.folder->IsHeld() && Identities(*file.folder).Find(file.name, installed)) {
      if (installed.size == file.listed.size &&
          installed.lastWriteTime == Ticks(file.listed.lastWriteTime)) {
        return;
      }
      const uint64_t old = AllocatedSize(installed.size, unit);
      if (size > old) need.growth += size - old;
    } else {
      need.growth += size;
    }
    if (size > need.largest) need.largest = size;
  }

  // The volume of folder by its index, asked once per folder.
  size_t VolumeOf(const HeldFolder& folder) {
    const auto known = volumeOf_.find(folder.Path());
    if (known != volumeOf_.end()) return known->second;
    size_t index = kUnknownVolume;
    VolumeSpace space;
    if (folder.QueryVolume(space)) {
      for (index = 0; index < volumes_.size() && volumes_[index].volume != space.volume; ++index) {
      }
      if (index == volumes_.size()) volumes_.push_back({space.volume, space, folder.Path()});
    }
    volumeOf_[folder.Path()] = index;
    return index;
  }

  const FolderIdentities& Identities(const HeldFolder& folder) {
    return identities_.emplace(&folder, FolderIdentities(folder)).first->second;
  }

  std::vector<VolumeNeed> volumes_;
  std::map<std::string, size_t> volumeOf_;  // by folder path
  std::map<const HeldFolder*, FolderIdentities> identities_;
};

// bytes in MB with one decimal, rounded up or down.
std::string Megabytes(uint64_t bytes, bool up) {
  const uint64_t unit = 1024 * 1024;
  uint64_t tenths = bytes / unit * 10 + bytes % unit * 10 / unit;
  if (up && bytes % unit * 10 % unit != 0) ++tenths;
  char text[32];
  snprintf(text, sizeof text, "%llu.%llu MB", static_cast<unsigned long long>(tenths / 10),
           static_cast<unsigned long long>(tenths % 10));
  return text;
}

std::string WithoutTrailingSeparator(std::string path) {
  if (path.size() > 1 && (path.back() == '\\' || path.back() == '/') &&
      path[path.size() - 2] != ':') {
    path.pop_back();
  }
  return path;
}

}  // namespace

uint64_t AllocatedSize(uint64_t size, uint64_t unit) {
  if (unit == 0 || size % unit == 0) return size;
  return size - size % unit + unit;
}

bool CopyFits(const std::string& source, const std::string& destination,
              SpaceShortfall& shortfall) {
  SpaceSteps steps;
  WalkCopyTree(source, destination, OverwritePolicy::CompareTimes, steps);
  for (const VolumeNeed& need : steps.Volumes()) {
    if (need.largest == 0 && need.growth == 0) continue;
    const uint64_t needed = need.growth + need.largest + kSpaceMargin;
    if (needed <= need.space.freeToCaller) continue;
    shortfall.folder = WithoutTrailingSeparator(need.folder);
    shortfall.needed = needed;
    shortfall.free = need.space.freeToCaller;
    return false;
  }
  return true;
}

std::string ShortfallText(const SpaceShortfall& shortfall) {
  return "not enough free space: " + Megabytes(shortfall.needed, true) + " needed, " +
         Megabytes(shortfall.free, false) + " free";
}
