#include "copy/copy_job.h"

#include "copy/copy_walk.h"
#include "platform/durable_writes.h"
#include "platform/replace_file.h"
#include "platform/win32.h"

namespace {

bool IsReadOnly(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
}

void ClearReadOnly(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    SetFileAttributesA(path.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  }
}

// The steps of a real installation.
class InstallSteps : public CopySteps {
 public:
  explicit InstallSteps(DurableWrites* written) : written_(written) {}

  // A folder that another run created between the look and the creation is
  // reused like one that was there before.
  bool CreateFolder(const std::string& path) override {
    return CreateDirectoryA(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
  }

  // Replaces the destination with a complete copy of source, read-only or
  // not, unless it already is one. Another run may put a read-only file
  // there between the clearing and the replace: the decision is then taken
  // once more for the file that is there now.
  bool WriteFile(FileToWrite& file, OverwritePolicy policy) override {
    const std::string destination = file.destinationFolder + file.name;
    const std::string source = file.sourceFolder + file.name;
    // Only a file whose time the decision found equal may be a copy already.
    const bool opened = file.opened.destination.IsValid();
    if (opened && file.opened.sameWriteTime &&
        KeepIdenticalCopy(source, destination, file.listed,
                          {file.opened.source.Get(), file.opened.destination.Get()})) {
      return Written(destination);
    }
    // The replace moves a file over the destination: nothing of ours may
    // hold it open.
    file.opened.source.Reset();
    file.opened.destination.Reset();
    // Nothing is there yet in a folder that this copy made.
    DWORD existing = file.destinationFolderIsNew && !opened
                         ? INVALID_FILE_ATTRIBUTES
                         : GetFileAttributesA(destination.c_str());
    if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_READONLY)) {
      existing &= ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
      SetFileAttributesA(destination.c_str(), existing);
    }
    const ReplaceFacts facts{file.listed.attributes, existing};
    if (ReplaceFileWithCopy(file.sourceFolder, file.destinationFolder, file.name, &facts)) {
      return Written(destination);
    }
    if (!IsReadOnly(destination)) return false;
    if (!ShouldReplaceFile(destination, source, policy)) return true;
    ClearReadOnly(destination);
    return ReplaceFileWithCopy(file.sourceFolder, file.destinationFolder, file.name) &&
           Written(destination);
  }

 private:
  bool Written(const std::string& path) {
    if (written_) written_->Note(path);
    return true;
  }

  DurableWrites* written_;
};

}  // namespace

int CopyTree(std::string source, std::string destination, OverwritePolicy policy,
             DurableWrites* written) {
  InstallSteps steps(written);
  const int result = WalkCopyTree(std::move(source), std::move(destination), policy, steps);
  ReleaseReplaceLock();
  return result;
}

int ManualCopyJob::Run(OverwritePolicy policy, DurableWrites* written) const {
  return CopyTree(sourceRoot_, destinationRoot_, policy, written);
}
