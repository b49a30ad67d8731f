// The folders of the install tree that a copy works in, each held open from
// the moment the copy enters it until it leaves it. Every look, create,
// copy, rename and attribute change of the copy in the install tree goes
// relative to a held folder, never through a name looked up again from the
// top: a folder renamed or swapped for a link meanwhile cannot send a write
// anywhere else.
//
// A symbolic link or junction on the way is followed only when no other
// account could have made it or could swap it: natively when root or the
// running user owns it; on Windows when Administrators, SYSTEM or
// TrustedInstaller own it and no one else may change it or delete entries
// of its folder (platform/win32/link_trust.h). A folder that is there but
// cannot be opened is not walked through either.
#pragma once

#include <stdint.h>

#include <string>

#include "platform/scoped_handle.h"

// Windows' path calls refuse to create a folder whose path has 248 bytes or
// more (CreateDirectoryA leaves room for an 8.3 name) and take no file path
// of MAX_PATH bytes or more; calls relative to a held folder know no such
// limit, so the held folder keeps them in both builds, and QuorvexKit
// predicts the same failures.
constexpr size_t kFolderPathLimit = MAX_PATH - 12;
constexpr size_t kFilePathLimit = MAX_PATH;

enum class FolderEntry {
  Enter,    // a folder, or a link that may be followed: held
  Refused,  // a link that may not be followed, or what cannot be opened: nothing goes through it
  Absent,   // nothing there
  NotAFolder,  // a file where a folder belongs: nothing can be written in it
};

// The volume a folder is on, as its handle shows it.
struct VolumeSpace {
  uint64_t volume = 0;          // the volume serial number; natively the device
  uint64_t allocationUnit = 0;  // bytes: a file takes whole units
  uint64_t freeToCaller = 0;    // bytes this account may still take (quotas count)
};

class HeldFolder {
 public:
  // Holds nothing: names in it are absent, and nothing can be made in it
  // (a folder that a plan only means to create, or a file where a folder
  // belongs).
  explicit HeldFolder(std::string path = std::string()) : path_(std::move(path)) {}
  HeldFolder(HeldFolder&&) = default;
  HeldFolder& operator=(HeldFolder&&) = default;

  // Holds the folder path, opened by its name; what the link rule refuses
  // or cannot be opened is held as nothing. For the top of a walk.
  static HeldFolder Open(const std::string& path, FolderEntry* entry = nullptr,
                         std::string* why = nullptr);
  // Holds the top of a volume or a share (C:\, \\server\share\, /), where a
  // walk begins: no account could have made it a link.
  static HeldFolder OpenTop(const std::string& top, FolderEntry* entry = nullptr);
  // What held holds, under another spelling of its path.
  static HeldFolder Adopt(std::string path, HeldFolder&& held) {
    held.path_ = std::move(path);
    return std::move(held);
  }

  // The same folder, held by a handle of its own.
  HeldFolder HoldAgain() const;

  const std::string& Path() const { return path_; }  // ends in a separator
  bool IsHeld() const { return handle_.IsValid(); }
  HANDLE Get() const { return handle_.Get(); }

  // Enters the folder name of this one: child holds it when the answer is
  // Enter. A refusal sets why to a phrase that follows "a link" ("that
  // another account made").
  FolderEntry Enter(const std::string& name, HeldFolder& child, std::string* why = nullptr) const;
  // Creates the folder name in this one and holds it. False with the last
  // error set, ERROR_ALREADY_EXISTS when something has the name.
  bool Create(const std::string& name, HeldFolder& child) const;
  // The file name opened for reading at its start, sharing reading, as the
  // overwrite decision opens it, with its last-write time; invalid with the
  // last error set when it cannot be (a folder among them). Only a plain
  // file with one name is opened: a link at the name is not followed, and
  // neither it nor a file with other names is opened.
  ScopedHandle OpenForReading(const std::string& name, FILETIME* lastWrite = nullptr) const;
  // The volume the folder is on, read through the handle held: false with
  // the last error set when it cannot be read, or nothing is held.
  bool QueryVolume(VolumeSpace& space) const;

 private:
  // path ending in a separator, as every folder's path here does.
  static std::string AsFolderPath(std::string path) {
    if (!path.empty() && path.back() != '\\' && path.back() != '/') path += '\\';
    return path;
  }

  std::string path_;
  ScopedHandle handle_;
};

// Whether name has the shape of an 8.3 short name, which Windows (GUIDE~1.HTM)
// and Wine (GUID~K2B.HTM) give files with longer names: a base of at most 8
// characters with a "~" after its first, and an extension of at most 3.
// Only such a name can open a file whose own name is another.
inline bool HasShortNameShape(const std::string& name) {
  const size_t dot = name.find('.');
  const size_t base = dot == std::string::npos ? name.size() : dot;
  const size_t extension = dot == std::string::npos ? 0 : name.size() - dot - 1;
  const size_t tilde = name.find('~', 1);
  return base >= 3 && base <= 8 && extension <= 3 && tilde < base - 1 &&
         (dot == std::string::npos || name.find('.', dot + 1) == std::string::npos);
}

// The name that file, opened in its folder as name, has there: name itself,
// or its long name where name matched it only as its 8.3 short name. Name
// where the file's name cannot be read, and natively, where files have no
// short names.
std::string OwnNameOf(HANDLE file, const std::string& name);
