#include "copy/copy_job.h"

#include "copy/copy_walk.h"
#include "copy/kit_survey.h"
#include "copy/space_need.h"
#include "copy/vouched_files.h"
#include "install_list/run_lists.h"
#include "platform/folder_identities.h"
#include "platform/durable_writes.h"
#include "platform/file_holders.h"
#include "platform/kill_points.h"
#include "platform/replace_file.h"
#include "platform/win32.h"

namespace {

bool IsReadOnly(const HeldFolder& folder, const std::string& name) {
  DWORD attributes = AttributesIn(folder, name);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
}

// The steps of a real installation.
class InstallSteps : public CopySteps {
 public:
  InstallSteps(std::string source, std::string destination, DurableWrites* written,
               CopyCounts* counts, RunLists* lists, CopyProgress* progress)
      : source_(std::move(source)),
        destination_(std::move(destination)),
        written_(written),
        counts_(counts),
        lists_(lists),
        progress_(progress),
        vouched_(lists) {}

  // The copy did not fit, and wrote nothing.
  bool OutOfSpace() const { return outOfSpace_; }

  void FileStarting(const FileToWrite& file) override {
    if (progress_) progress_->FileStarting(file.sourceFolder + file.name, file.listed.size);
  }

  // A file that the list vouches for is as the last install left it.
  bool PassOver(FileToWrite& file) override {
    if (!vouched_.Unchanged(file)) return false;
    if (counts_) ++counts_->filesPassedOver;
    return true;
  }

  bool ListVouchesFor(const FileToWrite& file) override { return vouched_.LeftByLastInstall(file); }

  void FolderDone(const std::string& sourceFolder, const HeldFolder& folder, bool created,
                  const std::vector<WalkedFile>& files) override {
    vouched_.FolderDone(folder);
    // What the copy left, listed afresh.
    if (lists_) lists_->FolderDone(sourceFolder, created, files, FolderIdentities(folder));
  }

  // A folder that another run created between the look and the creation is
  // reused like one that was there before.
  bool CreateFolder(const HeldFolder& parent, const std::string& name, HeldFolder& created,
                    FolderEntry& entry, std::string& why) override {
    if (!CopyFitsOnTheDisk() || !BeforeFirstWrite()) return false;
    if (parent.Create(name, created)) {
      if (counts_) ++counts_->foldersCreated;
      NoteFolder(created, true);
      return true;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS) {
      entry = parent.Enter(name, created, &why);
      if (entry != FolderEntry::Absent) return true;
    }
    Failed(parent.Path() + name, error);
    return false;
  }

  // A file that another program holds open is tried again for as long as
  // a person who sees the run asks for it.
  bool WriteFile(FileToWrite& file, OverwritePolicy policy) override {
    while (!WriteOnce(file, policy)) {
      if (!heldOpen_ || !progress_) return false;
      ReleaseReplaceLock();
      const std::string destination = file.destinationFolder + file.name;
      if (!progress_->RetryHeldFile(destination, lastError_)) return false;
      if (counts_ && counts_->failedPath == destination) {
        counts_->failedPath.clear();
        counts_->failedError = 0;
      }
    }
    return true;
  }

  void KeepFile(const std::string&, const std::string&) override { Kept(); }

 private:
  // Replaces the destination with a complete copy of source, read-only or
  // not, unless it already is one. Another run may put a read-only file
  // there between the clearing and the replace: the decision is then taken
  // once more for the file that is there now.
  bool WriteOnce(FileToWrite& file, OverwritePolicy policy) {
    heldOpen_ = false;
    const std::string destination = file.destinationFolder + file.name;
    if (!file.opened.shortNameOf.empty()) {
      return RefusedShortName(destination, file.opened.shortNameOf);
    }
    // Only a file whose time the decision found equal may be a copy
    // already: an identical rerun asks nothing of the disk's space.
    const bool maybeIdentical = file.opened.destination.IsValid() && file.opened.sameWriteTime;
    if ((!maybeIdentical && !CopyFitsOnTheDisk()) || !BeforeFirstWrite()) return false;
    const HeldFolder& folder = *file.folder;
    const std::string source = file.sourceFolder + file.name;
    if (counts_ && file.opened.newerNotTrusted) counts_->replacedNotTrusted.push_back(destination);
    file.opened.newerNotTrusted = false;  // told once, however often the file is tried
    if (IsIdenticalCopy(file, false)) {
      if (counts_) ++counts_->filesUnchanged;
      NoteFolder(folder, false);
      return Written(folder, file.name, false);
    }
    if (!CopyFitsOnTheDisk()) return false;
    // The replace moves a file over the destination: nothing of ours may
    // hold it open. The source it may copy from, shared for reading.
    file.opened.destination.Reset();
    // Nothing is there where the decision found nothing.
    DWORD existing = file.opened.destinationAbsent ? INVALID_FILE_ATTRIBUTES
                                                   : AttributesIn(folder, file.name);
    if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_READONLY)) {
      ClearReadOnly(folder, file.name);
      existing &= ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
      AtKillPoint(KillPoint::ReadOnlyCleared, destination);
    }
    const ReplaceFacts facts{file.listed, existing, file.opened.source.Get()};
    NoteFolder(folder, false);
    if (ReplaceFileWithCopy(file.sourceFolder, folder, file.name, &facts)) {
      return Written(folder, file.name);
    }
    const DWORD error = GetLastError();
    if (!IsReadOnly(folder, file.name)) return Failed(destination, error);
    DecisionFiles again;
    if (!ShouldReplaceFile(folder, file.name, source, policy, &again)) return Kept();
    if (!again.shortNameOf.empty()) return RefusedShortName(destination, again.shortNameOf);
    again = DecisionFiles();  // closed for the replace
    ClearReadOnly(folder, file.name);
    if (ReplaceFileWithCopy(file.sourceFolder, folder, file.name)) return Written(folder, file.name);
    return Failed(destination, GetLastError());
  }

 public:
  void ListingFailed(const std::string& sourceFolder) override {
    if (counts_ && counts_->failedPath.empty()) {
      counts_->failedPath = sourceFolder;
      counts_->failure = "this folder of SRC cannot be listed completely";
    }
  }

  void RefusedLink(const std::string& destinationFolder, const std::string& why) override {
    if (counts_ && counts_->failedPath.empty()) {
      counts_->failedPath = destinationFolder;
      counts_->failure = "a link " + why + ": nothing is written through it";
    }
  }

 private:
  // Nothing is written unless the copy fits, asked once, before the first
  // write that is certain to come.
  bool CopyFitsOnTheDisk() {
    if (!spaceChecked_) {
      spaceChecked_ = true;
      SpaceShortfall shortfall;
      outOfSpace_ = !CopyFits(source_, destination_, shortfall);
      if (outOfSpace_ && counts_ && counts_->failedPath.empty()) {
        counts_->failedPath = shortfall.folder;
        counts_->failure = ShortfallText(shortfall) + "; nothing was written";
        counts_->spaceNeeded = shortfall.needed;
        counts_->spaceFree = shortfall.free;
      }
    }
    return !outOfSpace_;
  }
  // What is there before the copy is noted before it writes anything.
  bool BeforeFirstWrite() { return !lists_ || lists_->BeforeFirstWrite(&SurveyKit); }

  // changed: this run wrote the file, rather than found it complete.
  bool Written(const HeldFolder& folder, const std::string& name, bool changed = true) {
    if (written_) written_->Note(folder, name, changed);
    if (counts_ && changed) ++counts_->filesWritten;
    return true;
  }
  // The folders that files go into, each once, for the volumes to flush.
  void NoteFolder(const HeldFolder& folder, bool created) {
    if (!written_ || folder.Path() == notedFolder_) return;
    written_->NoteFolder(folder, created);
    notedFolder_ = folder.Path();
  }
  bool Kept() {
    if (counts_) ++counts_->filesKeptNewer;
    return true;
  }
  bool RefusedShortName(const std::string& path, const std::string& longName) {
    if (counts_ && counts_->failedPath.empty()) {
      counts_->failedPath = path;
      counts_->failure = "this name is the short name of " + longName + ": it is not written";
    }
    return false;
  }
  bool Failed(const std::string& path, DWORD error) {
    lastError_ = error;
    heldOpen_ = IsHeldOpenError(error);
    if (counts_ && counts_->failedPath.empty()) {
      counts_->failedPath = path;
      counts_->failedError = error;
    }
    return false;
  }

  std::string source_;
  std::string destination_;
  DurableWrites* written_;
  CopyCounts* counts_;
  RunLists* lists_;
  CopyProgress* progress_;
  VouchedFiles vouched_;
  std::string notedFolder_;
  DWORD lastError_ = ERROR_SUCCESS;
  bool heldOpen_ = false;  // the last write failed for a file another program holds
  bool spaceChecked_ = false;
  bool outOfSpace_ = false;
};

}  // namespace

int CopyTree(std::string source, std::string destination, OverwritePolicy policy,
             DurableWrites* written, CopyCounts* counts, RunLists* lists, CopyProgress* progress) {
  InstallSteps steps(source, destination, written, counts, lists, progress);
  int result = WalkCopyTree(std::move(source), std::move(destination), policy, steps);
  // A folder to create may have been the first write refused.
  if (steps.OutOfSpace()) result = kCopyFileFailed;
  ReleaseReplaceLock();
  const std::string note = TakeReplaceNote();
  if (counts) counts->note = note;
  return result;
}

int ManualCopyJob::Run(OverwritePolicy policy, DurableWrites* written, CopyCounts* counts,
                       RunLists* lists, CopyProgress* progress) const {
  return CopyTree(sourceRoot_, destinationRoot_, policy, written, counts, lists, progress);
}
