// The identities of the files of a held folder, so that a rerun can tell a
// file that is as an earlier run left it without opening it. On Windows the
// folder is listed in bulk through its handle (FileIdBothDirectoryInfo), a
// few calls for hundreds of files; natively each file is asked once.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/file_identity.h"
#include "platform/held_folder.h"

class FolderIdentities {
 public:
  explicit FolderIdentities(const HeldFolder& folder) : folder_(&folder) {}

  // Whether an identity here can vouch for a file's content: only
  // Administrators, SYSTEM or TrustedInstaller may change the folder's
  // files (anyone with write-attributes access may put a file's times
  // back), on a file system that keeps file ids and change times (NTFS).
  // Natively: a folder of root or the running user that no one else may
  // write.
  bool Vouch() const;

  // The identity of the plain file name; false for anything else (absent,
  // a folder, a link).
  bool Find(const std::string& name, FileIdentity& identity) const;

  // The names of its plain files, sorted bytewise; none when it cannot be
  // listed.
  std::vector<std::string> Names() const;

 private:
  const HeldFolder* folder_;
#ifdef _WIN32
  void List() const;
  mutable bool listed_ = false;
  mutable std::vector<std::pair<std::string, FileIdentity>> files_;  // by name
#endif
};
