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
  // not. Another run may put a read-only file there between the clearing and
  // the replace: the decision is then taken once more for the file that is
  // there now.
  bool WriteFile(const std::string& sourceFolder, const std::string& destinationFolder,
                 const std::string& name, OverwritePolicy policy) override {
    const std::string destination = destinationFolder + name;
    ClearReadOnly(destination);
    if (ReplaceFileWithCopy(sourceFolder, destinationFolder, name)) return Written(destination);
    if (!IsReadOnly(destination)) return false;
    if (!ShouldReplaceFile(destination, sourceFolder + name, policy)) return true;
    ClearReadOnly(destination);
    return ReplaceFileWithCopy(sourceFolder, destinationFolder, name) && Written(destination);
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
  return WalkCopyTree(std::move(source), std::move(destination), policy, steps);
}

int ManualCopyJob::Run(OverwritePolicy policy, DurableWrites* written) const {
  return CopyTree(sourceRoot_, destinationRoot_, policy, written);
}
