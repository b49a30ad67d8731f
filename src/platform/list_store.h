// Where the lists of installed files are kept: a folder of their own,
// outside every install directory, that only administrators can change. On
// Windows under the program-data folder (SHGetKnownFolderPath, never the
// environment); natively beside the stand-in's hive, or in the folder that
// QUORVEX_LISTS names. Users may create folders in the program-data folder,
// so a folder found under the chosen name is used only when it passes the
// trust rule of held folders (its owner and who may change it). Only
// Administrators and SYSTEM (natively root) have any access to it and its
// lists.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "platform/held_folder.h"

enum class ListFolderFound {
  Trusted,     // held
  Absent,      // nothing of that name
  Untrusted,   // something another account could have made or can change
  Unreadable,  // a folder that this account may not open, or one in use
};

using PieceSource = std::function<bool(std::string& piece)>;
using PieceSink = std::function<bool(std::string_view piece)>;

class ListFolder {
 public:
  // The folder name (one component) of the lists' base folder. With
  // restrictAccess, one that gives anyone else access (made by an earlier
  // release, which let Users read) is first given the permissions Create
  // gives, its files first, through the handle held; one where that cannot
  // be done is Untrusted. Without (a preview), it is left as it is.
  static ListFolderFound Open(const std::string& name, ListFolder& folder,
                              bool restrictAccess = false);
  // Creates it with permissions of its own, not inherited: Administrators
  // and SYSTEM may do everything, no one else anything. False with the last
  // error set, ERROR_ALREADY_EXISTS when the name is taken.
  static bool Create(const std::string& name, ListFolder& folder);

  const std::string& Path() const { return held_.Path(); }
  bool IsHeld() const { return held_.IsHeld(); }
  const HeldFolder& Held() const { return held_; }

  // Lets consume read file in pieces (its source returns false at the end,
  // or where a read fails). False with the last error set when file cannot
  // be opened, ERROR_FILE_NOT_FOUND when there is none, or when a read
  // failed before consume stopped.
  bool Read(const std::string& file, const std::function<void(const PieceSource&)>& consume) const;
  // Replaces file with what produce passes to its sink, durably: written
  // under a temporary name, flushed, renamed over file, and the folder
  // flushed. False with the last error set (or when produce returns false);
  // file is then as it was.
  bool Write(const std::string& file, const std::function<bool(const PieceSink&)>& produce) const;
  bool Write(const std::string& file, const std::string& text) const {
    return Write(file, [&](const PieceSink& sink) { return sink(text); });
  }
  // Removes file, durably; true when it is gone (or was never there).
  bool Remove(const std::string& file) const;
  // Lets go of the folder and removes it, durably, when it is empty; true
  // when it is gone.
  bool RemoveIfEmpty();

 private:
  HeldFolder held_;
};

// The folder the lists' folders are made in; empty when it cannot be told.
std::string ListBaseFolder();
