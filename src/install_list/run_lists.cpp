#include "install_list/run_lists.h"

#include <stdio.h>

#include <algorithm>
#include <iterator>
#include <random>

#include "install_list/listed_removal.h"
#include "paths/paths.h"
#include "platform/kill_points.h"
#include "platform/path_separator.h"
#include "registry/registry_key.h"
#include "registry/version_record.h"
#include "text/text_encoding.h"

const char kListFolderSubkey[] = "Files";

namespace {

// A name of one component from text: letters, digits and "{}-._" stay,
// anything else becomes "_".
std::string PlainName(const std::string& text, size_t longest) {
  std::string name;
  for (char c : text.substr(0, longest)) {
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                       c == '{' || c == '}' || c == '-' || c == '.' || c == '_';
    name += plain ? c : '_';
  }
  return name;
}

template <typename T>
void SortUnique(std::vector<T>& items) {
  std::sort(items.begin(), items.end());
  items.erase(std::unique(items.begin(), items.end()), items.end());
}

}  // namespace

std::string RegistryViewName() {
#ifdef _WIN32
  return sizeof(void*) == 8 ? "64" : "32";
#else
  return "native";
#endif
}

RunLists::RunLists(const InstallerSettings& settings, const std::string& installDirectory,
                   HKEY recordKey, const std::string& sourceRoot)
    : settings_(settings), recordKey_(recordKey), sourceRoot_(sourceRoot) {
  owner_.productGuid = settings.productGuid;
  owner_.language = settings.language;
  owner_.installDirectory = installDirectory;
  if (owner_.installDirectory.empty() || (owner_.installDirectory.back() != '\\' &&
                                          owner_.installDirectory.back() != '/')) {
    owner_.installDirectory += kPlatformSeparator;
  }
  owner_.view = RegistryViewName();
  if (sourceRoot_.empty() || (sourceRoot_.back() != '\\' && sourceRoot_.back() != '/')) {
    sourceRoot_ += '\\';
  }
}

// Both views' installers of a product share its folder: each keeps its own.
std::string RunLists::ListFileName() const { return ListFileNameOf(owner_.view); }
std::string RunLists::ListFileNameOf(const std::string& view) const {
  return PlainName(settings_.language, 64) + "-" + view + ".list";
}
std::string RunLists::NoteFileName() const {
  return PlainName(settings_.language, 64) + "-" + owner_.view + ".note";
}

std::string RunLists::Relative(const std::string& sourceFolder) const {
  return sourceFolder.size() > sourceRoot_.size() ? sourceFolder.substr(sourceRoot_.size()) : "";
}

bool RunLists::Fail(const std::string& why, DWORD error, const std::string& path) {
  if (failure_.empty()) {
    failure_ = why;
    failureError_ = error;
    failurePath_ = path;
  }
  return false;
}

// The folder named under the record key when it is still trusted; with
// create, a new one when there is none, its name recorded.
bool RunLists::OpenFolder(bool create) {
  if (folder_.IsHeld()) return true;
  std::string recorded;
  ScopedRegKey subkey;
  if (recordKey_ &&
      RegOpenKeyExA(recordKey_, kListFolderSubkey, 0, KEY_READ, subkey.Receive()) == ERROR_SUCCESS &&
      QueryTextValue(subkey.Get(), "", recorded) && IsPlainRelativePath(recorded) &&
      recorded.find('\\') == std::string::npos) {
    const ListFolderFound found = ListFolder::Open(recorded, folder_, restrictAccess_);
    if (found == ListFolderFound::Trusted) return true;
    // Its lists are there, but cannot be read: none of them counts as absent.
    if (found == ListFolderFound::Unreadable) {
      return Fail("the lists' folder " + AnsiToUtf8(ListBaseFolder() + recorded) + " cannot be read",
                  GetLastError());
    }
    if (!create && found == ListFolderFound::Absent) {
      notes_.push_back("the lists' folder " + AnsiToUtf8(recorded) + " is missing");
    } else if (!create) {
      unusable_ = true;
      notes_.push_back("the lists' folder " + AnsiToUtf8(recorded) +
                       " is not used: accounts other than administrators could have changed it");
    }
  }
  if (!create) return false;
  const std::string base =
      "Quorvex " + PlainName(settings_.product, 60) + " " + PlainName(settings_.productGuid, 80);
  // A name that someone else took is passed by; the next ones cannot be
  // guessed, so no one can take them all beforehand.
  std::random_device random;
  for (int attempt = 1; attempt <= 16; ++attempt) {
    char suffix[16];
    snprintf(suffix, sizeof suffix, " %08x", static_cast<unsigned>(random()));
    const std::string name = attempt == 1 ? base : base + suffix;
    ListFolderFound found = ListFolder::Open(name, folder_, true);
    if (found == ListFolderFound::Absent && !ListFolder::Create(name, folder_)) {
      if (GetLastError() == ERROR_ALREADY_EXISTS) continue;
      return Fail("the lists' folder " + AnsiToUtf8(ListBaseFolder() + name) + " cannot be made",
                  GetLastError());
    }
    if (!folder_.IsHeld()) continue;
    ScopedRegKey named;
    const LONG created = RegCreateKeyExA(recordKey_, kListFolderSubkey, 0, nullptr, 0,
                                         KEY_SET_VALUE, nullptr, named.Receive(), nullptr);
    const LONG set = created != ERROR_SUCCESS
                         ? created
                         : RegSetValueExA(named.Get(), "", 0, REG_SZ,
                                          reinterpret_cast<const BYTE*>(name.c_str()),
                                          static_cast<DWORD>(name.size() + 1));
    if (set != ERROR_SUCCESS) {
      folder_ = ListFolder();
      return Fail("the lists' folder cannot be recorded", static_cast<DWORD>(set));
    }
    return true;
  }
  return Fail("no folder for the lists can be made that only administrators may change",
              ERROR_ACCESS_DENIED);
}

// Reads file of the lists' folder; false when it is not there, or, with the
// run failed, when it is there but cannot be read in full.
bool RunLists::ReadListFile(const std::string& file,
                            const std::function<void(const PieceSource&)>& consume) {
  if (folder_.Read(file, consume)) return true;
  const DWORD error = GetLastError();
  if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
    const bool note = file == NoteFileName();
    Fail(std::string(note ? "the note " : "the list ") + AnsiToUtf8(folder_.Path() + file) +
             " cannot be read",
         error, folder_.Path() + file);
  }
  return false;
}

namespace {

// Install directories are made full before a run uses them: one that a list
// of an earlier release names as it was given is compared the same way.
void SpellAsRunsDo(ListOwner& owner) {
  std::string directory = owner.installDirectory;
  if (!MakeFullPath(directory)) return;
  if (directory.back() != '\\' && directory.back() != '/') directory += kPlatformSeparator;
  owner.installDirectory = directory;
}

}  // namespace

void RunLists::Load(bool anyDirectory) {
  if (!OpenFolder(false)) return;
  std::string reason;
  const std::string listPath = AnsiToUtf8(folder_.Path() + ListFileName());
  InstalledFileList list;
  bool read = false;
  if (ReadListFile(ListFileName(), [&](const PieceSource& source) {
        read = ReadInstalledFileList(source, list, reason);
      })) {
    if (!read) {
      unusable_ = true;
      notes_.push_back("the list " + listPath + " is not used: it " + reason);
    } else {
      SpellAsRunsDo(list.owner);
      if (anyDirectory) owner_.installDirectory = list.owner.installDirectory;
      if (!(list.owner == owner_)) {
        if (list.owner.installDirectory != owner_.installDirectory) {
          listedElsewhere_ = list.owner.installDirectory;
        }
        unusable_ = true;
        notes_.push_back("the list " + listPath + " is not used: it is of another install directory");
      } else {
        previous_ = std::move(list);
        hasList_ = true;
        walked_.assign(previous_.files.size(), false);
        skipVersion_ = previous_.version == settings_.manualVersion;
      }
    }
  }
  std::string text;
  reason.clear();
  if (!Failed() && ReadListFile(NoteFileName(), [&](const PieceSource& source) {
        for (std::string piece; source(piece);) text += piece;
      })) {
    RunNote note;
    const bool parsed = ParseRunNote(text, note, reason);
    if (parsed) SpellAsRunsDo(note.owner);
    if (parsed && note.owner == owner_) {
      leftover_ = std::move(note);
      leftoverValid_ = true;
      notes_.push_back("a run that did not finish left a note of what was there before it");
    } else {
      if (reason.empty()) reason = "is of another install directory";
      notes_.push_back("the note " + AnsiToUtf8(folder_.Path() + NoteFileName()) +
                       " is not used: it " + reason);
    }
  }
  // The other manuals' lists too, before anything is written: one that
  // cannot be read fails the run here, not after the copy.
  if (!Failed()) OtherListedPaths();
  // Nothing read is used when something could not be.
  if (Failed()) {
    previous_ = InstalledFileList();
    hasList_ = skipVersion_ = leftoverValid_ = false;
    walked_.clear();
    listedElsewhere_.clear();
  }
}

bool RunLists::Unchanged(const std::string& sourceFolder, const std::string& name,
                         const ListedFile& source, const FolderIdentities& identities,
                         bool vouch) const {
  if (!skipVersion_ || !vouch) return false;
  const InstalledFile* entry = FindInstalledFile(previous_.files, Relative(sourceFolder) + name);
  const uint64_t sourceTime = (static_cast<uint64_t>(source.lastWriteTime.dwHighDateTime) << 32) |
                              source.lastWriteTime.dwLowDateTime;
  FileIdentity found;
  return entry && entry->sourceSize == source.size && entry->sourceLastWriteTime == sourceTime &&
         identities.Find(name, found) && found == entry->destination;
}

const InstalledFile* RunLists::Listed(const std::string& sourceFolder,
                                      const std::string& name) const {
  return FindInstalledFile(previous_.files, Relative(sourceFolder) + name);
}

bool RunLists::BeforeFirstWrite(const Survey& survey) {
  if (noteWritten_) return true;
  if (Failed()) return false;
  std::vector<std::string> files, folders;
  survey(sourceRoot_, owner_.installDirectory, previous_.files, files, folders);
  note_.owner = owner_;
  note_.version = settings_.manualVersion;
  // Only what no list or earlier note accounts for was there before: a file
  // that a run which did not finish wrote is an installed one, and so is
  // one that another manual of the directory installed.
  const std::vector<uint64_t> none;
  const std::vector<uint64_t>& otherManuals =
      files.empty() && folders.empty() ? none : OtherListedPaths();
  if (Failed()) return false;
  for (std::string& path : files) {
    if (!IsPlainRelativePath(path)) continue;
    if (std::binary_search(otherManuals.begin(), otherManuals.end(), PathHash(path))) continue;
    if (leftoverValid_ && !ContainsPath(leftover_.filesBefore, path)) continue;
    note_.filesBefore.push_back(std::move(path));
  }
  for (std::string& path : folders) {
    if (!IsPlainRelativePath(path) || ContainsPath(previous_.createdFolders, path)) continue;
    if (std::binary_search(otherManuals.begin(), otherManuals.end(), PathHash(path))) continue;
    if (leftoverValid_ && !ContainsPath(leftover_.foldersBefore, path)) continue;
    note_.foldersBefore.push_back(std::move(path));
  }
  SortUnique(note_.filesBefore);
  SortUnique(note_.foldersBefore);
  if (!OpenFolder(true)) return false;
  if (!folder_.Write(NoteFileName(), [&](const PieceSink& sink) {
        return WriteRunNote(note_, sink);
      })) {
    return Fail("the note of what was there before cannot be written to " +
                    AnsiToUtf8(folder_.Path() + NoteFileName()),
                GetLastError(), folder_.Path() + NoteFileName());
  }
  noteWritten_ = true;
  // Kept as hashes from here on: a first run over 50,000 files of an
  // earlier release notes them all.
  for (const std::string& path : note_.filesBefore) filesBefore_.push_back(PathHash(path));
  std::sort(filesBefore_.begin(), filesBefore_.end());
  note_.filesBefore = std::vector<std::string>();
  AtKillPoint(KillPoint::NoteWritten, owner_.installDirectory);
  return true;
}

void RunLists::FolderDone(const std::string& sourceFolder, bool created,
                          const std::vector<WalkedFile>& files, const FolderIdentities& identities) {
  const std::string relative = Relative(sourceFolder);
  if (!relative.empty()) {
    std::string folder = relative.substr(0, relative.size() - 1);
    if (created) createdFolders_.push_back(folder);
    kitFolders_.push_back(std::move(folder));
  }
  for (const WalkedFile& walked : files) {
    const std::string path = relative + walked.name;
    if (!IsPlainRelativePath(path)) continue;
    const auto listed = std::lower_bound(
        previous_.files.begin(), previous_.files.end(), path,
        [](const InstalledFile& entry, const std::string& key) { return entry.path < key; });
    InstalledFile* before =
        listed != previous_.files.end() && listed->path == path ? &*listed : nullptr;
    if (before) walked_[static_cast<size_t>(listed - previous_.files.begin())] = true;
    // What the list vouches for stays as it is listed; so does a newer file
    // that the policy kept, which is not what an install left, so that it
    // shows changed.
    if (before && walked.outcome != WalkedOutcome::Written) continue;
    InstalledFile file;
    file.sourceSize = walked.source.size;
    file.sourceLastWriteTime =
        (static_cast<uint64_t>(walked.source.lastWriteTime.dwHighDateTime) << 32) |
        walked.source.lastWriteTime.dwLowDateTime;
    if (!identities.Find(walked.name, file.destination)) continue;
    // An entry of the previous list takes what this run left in its place;
    // the previous list is looked up only for paths not yet walked.
    if (before) {
      before->sourceSize = file.sourceSize;
      before->sourceLastWriteTime = file.sourceLastWriteTime;
      before->destination = file.destination;
      continue;
    }
    file.path = path;
    const bool thereBefore =
        noteWritten_ ? std::binary_search(filesBefore_.begin(), filesBefore_.end(), PathHash(path))
        : leftoverValid_ ? ContainsPath(leftover_.filesBefore, path)
                         : true;
    file.origin = thereBefore ? FileOrigin::ThereBefore : FileOrigin::Installed;
    files_.push_back(std::move(file));
  }
}

bool RunLists::WriteList() {
  // The previous list, as this run changed it, with the files it added.
  // Files of the manual that this kit no longer has stay installed, listed
  // as the last install left them, unless they are to be removed.
  InstalledFileList& list = previous_;
  if (RemovesOldFiles()) {
    RemoveOldFiles(list);
    if (Failed()) return false;
  }
  list.owner = owner_;
  list.version = settings_.manualVersion;
  const auto byPath = [](const InstalledFile& a, const InstalledFile& b) { return a.path < b.path; };
  std::sort(files_.begin(), files_.end(), byPath);
  const size_t listed = list.files.size();
  if (listed == 0) {
    list.files.swap(files_);
  } else {
    std::move(files_.begin(), files_.end(), std::back_inserter(list.files));
  }
  files_ = std::deque<InstalledFile>();
  std::inplace_merge(list.files.begin(), list.files.begin() + static_cast<ptrdiff_t>(listed),
                     list.files.end(), byPath);
  // Folders this run made, and those of the kit that neither an earlier
  // install nor anyone else is known to have made.
  SortUnique(kitFolders_);
  list.createdFolders.insert(list.createdFolders.end(), createdFolders_.begin(),
                             createdFolders_.end());
  if (noteWritten_) {
    for (const std::string& folder : kitFolders_) {
      if (!ContainsPath(note_.foldersBefore, folder)) list.createdFolders.push_back(folder);
    }
  }
  SortUnique(list.createdFolders);
  if (!OpenFolder(true)) return false;
  if (!folder_.Write(ListFileName(), [&](const PieceSink& sink) {
        return WriteInstalledFileList(list, sink);
      })) {
    // The previous list stays, and so does the note: together they tell
    // the next run what was there before this one.
    const DWORD error = GetLastError();
    return Fail("the list of installed files cannot be written to " +
                    AnsiToUtf8(folder_.Path() + ListFileName()),
                error, folder_.Path() + ListFileName());
  }
  AtKillPoint(KillPoint::ListWritten, owner_.installDirectory);
  if (noteWritten_ || leftoverValid_) folder_.Remove(NoteFileName());
  return true;
}

bool RunLists::RemovesOldFiles() const {
  return settings_.removeOldFiles != 0 && hasList_ && previous_.version != settings_.manualVersion;
}

void RunLists::SweepOldFiles(ListedRemoval& removal,
                             const std::function<void(size_t index, bool folder,
                                                      RemovalOutcome outcome,
                                                      const std::string& why)>& done) {
  // What the kit still has stays; of the rest, what the rule keeps.
  for (size_t i = 0; i < previous_.files.size(); ++i) {
    if (walked_[i]) continue;
    std::string why;
    const RemovalOutcome outcome = removal.RemoveFile(previous_.files[i], why);
    done(i, false, outcome, why);
  }
  // Folders that earlier installs made and this kit lacks, once empty.
  SortUnique(kitFolders_);
  const std::vector<std::string>& folders = previous_.createdFolders;
  for (size_t i = folders.size(); i-- > 0;) {
    if (std::binary_search(kitFolders_.begin(), kitFolders_.end(), folders[i])) continue;
    std::string why;
    const RemovalOutcome outcome = removal.RemoveFolder(folders[i], why);
    done(i, true, outcome, why);
  }
}

void RunLists::RemoveOldFiles(InstalledFileList& list) {
  const std::vector<uint64_t>& otherListed = OtherListedPaths();
  if (Failed()) return;
  ListedRemoval removal(owner_.installDirectory, otherListed, false);
  // What goes leaves the list, what stays keeps its entry (so that it
  // still shows as changed).
  std::vector<bool> fileGoes(list.files.size()), folderGoes(list.createdFolders.size());
  SweepOldFiles(removal, [&](size_t index, bool folder, RemovalOutcome outcome,
                             const std::string& why) {
    const bool goes = outcome == RemovalOutcome::Removed || outcome == RemovalOutcome::Gone;
    if (folder) {
      folderGoes[index] = goes;
      return;
    }
    fileGoes[index] = goes;
    if (outcome == RemovalOutcome::Removed) {
      ++oldRemoved_;
      AtKillPoint(KillPoint::FileRemoved, owner_.installDirectory);
    }
    if (outcome == RemovalOutcome::Remains || outcome == RemovalOutcome::KeptChanged) {
      const std::string& path = list.files[index].path;
      oldKept_.push_back(path + (why.empty() ? " (changed since it was installed)"
                                             : " (" + why + ")"));
    }
  });
  size_t stays = 0;
  for (size_t i = 0; i < list.files.size(); ++i) {
    if (fileGoes[i]) continue;
    if (stays != i) list.files[stays] = std::move(list.files[i]);
    ++stays;
  }
  list.files.resize(stays);
  walked_.clear();
  std::vector<std::string> folders;
  for (size_t i = 0; i < list.createdFolders.size(); ++i) {
    if (!folderGoes[i]) folders.push_back(std::move(list.createdFolders[i]));
  }
  list.createdFolders.swap(folders);
  if (!removal.Flush()) {
    Fail("what was removed of the previous version cannot be put on the disk", GetLastError());
  }
}

void RunLists::PreviewOldFiles(const OldEntryDone& done) {
  if (!RemovesOldFiles()) return;
  const std::vector<uint64_t>& otherListed = OtherListedPaths();
  if (Failed()) return;
  ListedRemoval removal(owner_.installDirectory, otherListed, true);
  SweepOldFiles(removal, [&](size_t index, bool folder, RemovalOutcome outcome,
                             const std::string& why) {
    done(folder ? previous_.createdFolders[index] : previous_.files[index].path, folder, outcome,
         why);
  });
}

bool RunLists::OtherViewHasList() {
#ifdef _WIN32
  const std::string other = owner_.view == "32" ? "64" : "32";
  FileIdentity found;
  if (OpenFolder(false) && FolderIdentities(folder_.Held()).Find(ListFileNameOf(other), found)) {
    return true;
  }
  // The other view's record may name a folder of its own.
  ScopedRegKey subkey;
  const REGSAM view = other == "64" ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
  const std::string key = ManualRecordKey(settings_) + "\\" + kListFolderSubkey;
  std::string name;
  ListFolder folder;
  return RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ | view, subkey.Receive()) ==
             ERROR_SUCCESS &&
         QueryTextValue(subkey.Get(), "", name) && IsPlainRelativePath(name) &&
         name.find('\\') == std::string::npos &&
         ListFolder::Open(name, folder) == ListFolderFound::Trusted &&
         FolderIdentities(folder.Held()).Find(ListFileNameOf(other), found);
#else
  return false;
#endif
}

const std::vector<uint64_t>& RunLists::OtherListedPaths() {
  // Read once a run: the survey before the first write and the removal
  // after the copy ask for them both.
  if (otherListedRead_) return otherListed_;
  otherListedRead_ = true;
  std::vector<uint64_t>& paths = otherListed_;
  if (!OpenFolder(false)) return paths;
  for (const std::string& name : FolderIdentities(folder_.Held()).Names()) {
    if (name == ListFileName() || name.size() < 5 || name.compare(name.size() - 5, 5, ".list") != 0) {
      continue;
    }
    std::vector<uint64_t> theirs;
    InstalledFileList list;
    std::string why;
    bool read = false;
    // One that is there but cannot be read could name any file.
    if (!ReadListFile(name, [&](const PieceSource& source) {
          read = ReadInstalledFileList(source, list, why, [&](InstalledFile&& file) {
            theirs.push_back(PathHash(file.path));
          });
        })) {
      if (Failed()) break;
      continue;
    }
    // A list of another install directory names other files.
    if (read) SpellAsRunsDo(list.owner);
    if (!read || list.owner.installDirectory != owner_.installDirectory) continue;
    for (const std::string& folder : list.createdFolders) theirs.push_back(PathHash(folder));
    paths.insert(paths.end(), theirs.begin(), theirs.end());
  }
  SortUnique(paths);
  return paths;
}

bool RunLists::RemoveListFiles() {
  if (!OpenFolder(false)) return true;
  bool removed = true;
  for (const std::string& file : {ListFileName(), NoteFileName()}) {
    if (removed && !folder_.Remove(file)) {
      removed = false;
      failurePath_ = folder_.Path() + file;
    }
  }
  AtKillPoint(KillPoint::ListRemoved, owner_.installDirectory);
  if (!removed) return false;
  // The folder goes with its last file; the subkey that names it after it.
  if (!FolderIdentities(folder_.Held()).Names().empty()) return true;
  if (!folder_.RemoveIfEmpty()) return true;
  if (recordKey_) RegDeleteKeyA(recordKey_, kListFolderSubkey);
  return true;
}
