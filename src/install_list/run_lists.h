// The lists of one installation run. Before the copy: the previous list
// and a note that a run which did not finish left. Before the copy writes
// anything: what is there before it, in a note of its own, flushed. After
// the copy and its flush, before the version is recorded: the new list.
//
// The previous list of the same manual version lets the copy pass over a
// file without opening it, when the kit's file has the size and time the
// list gives, and the installed file the identity it was left with, in a
// folder that only administrators can change.
#pragma once

#include <functional>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "install_list/installed_files.h"
#include "install_list/listed_removal.h"
#include "install_list/walked_file.h"
#include "platform/folder_identities.h"
#include "platform/list_store.h"
#include "platform/replace_file.h"
#include "platform/win32.h"
#include "settings/settings.h"

// The name of the value-less subkey of the record key whose default value
// names the lists' folder.
extern const char kListFolderSubkey[];

class RunLists {
 public:
  RunLists(const InstallerSettings& settings, const std::string& installDirectory,
           HKEY recordKey, const std::string& sourceRoot);

  // Reads the previous list, a note left behind and the other manuals'
  // lists; what cannot be used is said in Notes(). One that is there but
  // cannot be read in full, or a lists' folder that cannot be opened, fails
  // the run (Failure says which): nothing may be written then, and nothing
  // read is used.
  // anyDirectory: with no install directory given (an uninstall after the
  // product's own), the list's directory is taken for it.
  void Load(bool anyDirectory = false);
  // The same for a run that changes the install: a lists' folder that
  // gives anyone else access is first given the permissions of a new one.
  void LoadToChange(bool anyDirectory = false) {
    restrictAccess_ = true;
    Load(anyDirectory);
  }
  const std::string& InstallDirectory() const { return owner_.installDirectory; }
  const std::vector<std::string>& Notes() const { return notes_; }

  // Whether the file name of sourceFolder (under the source root), found
  // in the installed folder that identities lists, is as the previous list
  // left it, so that it need not be opened.
  bool Unchanged(const std::string& sourceFolder, const std::string& name,
                 const ListedFile& source, const FolderIdentities& identities, bool vouch) const;
  bool MaySkip() const { return skipVersion_; }
  // The previous list's entry of the file name of sourceFolder, or null.
  const InstalledFile* Listed(const std::string& sourceFolder, const std::string& name) const;

  // What of the kit the install directory holds already, walked without
  // writing: its files and folders, relative to the roots; a file that
  // listed names is not looked at.
  using Survey = std::function<void(const std::string& sourceRoot,
                                    const std::string& installDirectory,
                                    const std::deque<InstalledFile>& listed,
                                    std::vector<std::string>& files,
                                    std::vector<std::string>& folders)>;
  // Before the first write: notes what of the kit is in the install
  // directory already, as survey finds it, and the previous list does not
  // name, durably. False when that cannot be done (Failure says why);
  // nothing may be written then.
  bool BeforeFirstWrite(const Survey& survey);

  // The kit's folder sourceFolder, done: created tells that this run made
  // it; files are its files as the walk met them, identities what the
  // installed folder holds now.
  void FolderDone(const std::string& sourceFolder, bool created,
                  const std::vector<WalkedFile>& files, const FolderIdentities& identities);

  // With RemoveOldFiles, after a copy of another version than the previous
  // list's: removes what the previous version installed that this kit no
  // longer has, as an uninstall would, and drops it from the list. Then
  // writes the new list and removes the note. False when the list cannot
  // be written (Failure says why): the previous list and the note stay,
  // for the next run.
  bool WriteList();
  // What WriteList removed of the previous version, and what it kept of
  // it that an uninstall would have removed.
  size_t OldFilesRemoved() const { return oldRemoved_; }
  const std::vector<std::string>& OldFilesKept() const { return oldKept_; }

  // For an uninstall and its preview.
  // The previous list, when there is one of this install directory; the
  // list names nothing when there is none.
  bool HasList() const { return hasList_; }
  const InstalledFileList& List() const { return previous_; }
  bool HasLeftoverNote() const { return leftoverValid_; }
  // Whether a list is there that is not used: damaged, of another install,
  // or in a lists' folder that fails the trust rule.
  bool ListUnusable() const { return unusable_; }
  // The install directory of an intact list of this manual that names
  // another one; empty when there is none.
  const std::string& ListedElsewhere() const { return listedElsewhere_; }
  // Whether the lists' folder holds a list of this manual for the other
  // registry view (Windows): the other variant's installer wrote it.
  bool OtherViewHasList();
  // PathHash of every file and folder path that the other intact lists of
  // the install directory name, sorted; one that cannot be read fails the
  // run.
  const std::vector<uint64_t>& OtherListedPaths();
  // What RemoveOldFiles came to for one path of the previous list: a file
  // of the previous version that the walk did not meet, or a folder that
  // earlier installs made and the kit lacks (folders last, deepest first).
  using OldEntryDone = std::function<void(const std::string& path, bool folder,
                                          RemovalOutcome outcome, const std::string& why)>;
  // For a preview, once the walk has told FolderDone of every folder: what
  // WriteList would remove of the previous version, and keep, each told to
  // done; nothing is removed. Nothing is told without RemoveOldFiles, or
  // when the previous list is of this version.
  void PreviewOldFiles(const OldEntryDone& done);
  // Removes the list and any note, durably; then, when nothing else is
  // left in it, the lists' folder and the subkey that names it. False
  // when the list or the note remains.
  bool RemoveListFiles();

  // Why a list or the note could not be read or written, and the system's
  // error.
  const std::string& Failure() const { return failure_; }
  DWORD FailureError() const { return failureError_; }
  // The file or folder that failed, where one did; in the ANSI code page.
  const std::string& FailurePath() const { return failurePath_; }
  bool Failed() const { return !failure_.empty(); }

 private:
  std::string Relative(const std::string& sourceFolder) const;
  bool OpenFolder(bool create);
  bool ReadListFile(const std::string& file,
                    const std::function<void(const PieceSource&)>& consume);
  bool Fail(const std::string& why, DWORD error, const std::string& path = std::string());
  std::string ListFileName() const;
  std::string NoteFileName() const;
  std::string ListFileNameOf(const std::string& view) const;
  void RemoveOldFiles(InstalledFileList& list);
  bool RemovesOldFiles() const;
  // Removes, or with a dry run removal only judges, each old file and
  // folder; done is given the index in previous_.files or createdFolders.
  void SweepOldFiles(ListedRemoval& removal,
                     const std::function<void(size_t index, bool folder, RemovalOutcome outcome,
                                              const std::string& why)>& done);

  InstallerSettings settings_;
  ListOwner owner_;
  HKEY recordKey_;
  std::string sourceRoot_;
  ListFolder folder_;
  bool restrictAccess_ = false;  // a folder that others may read is restricted

  InstalledFileList previous_;  // empty when there is none to use
  bool hasList_ = false;
  bool unusable_ = false;
  bool otherListedRead_ = false;
  std::vector<uint64_t> otherListed_;
  std::string listedElsewhere_;
  std::vector<bool> walked_;  // by previous_.files: met by this run's walk
  size_t oldRemoved_ = 0;
  std::vector<std::string> oldKept_;
  bool skipVersion_ = false;  // previous is valid and of this version
  bool leftoverValid_ = false;
  RunNote leftover_;
  bool noteWritten_ = false;
  RunNote note_;

  std::deque<InstalledFile> files_;  // written, and in no previous list
  std::vector<uint64_t> filesBefore_;  // the note's files, as PathHash, sorted
  std::vector<std::string> kitFolders_;
  std::vector<std::string> createdFolders_;
  std::vector<std::string> notes_;
  std::string failure_;
  DWORD failureError_ = 0;
  std::string failurePath_;
};

// "32" or "64", the registry view of the build on Windows; "native" here.
std::string RegistryViewName();
