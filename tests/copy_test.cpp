// The manual copy on real files: the real Win32 calls under Wine, the
// stand-in file layer natively.
#include <gtest/gtest.h>
#include <stdlib.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <algorithm>
#include <set>

#include "copy/copy_job.h"
#include "copy/space_need.h"
#include "platform/held_folder.h"
#include "platform/scoped_handle.h"
#include "platform/win32.h"
#include "support/kit.h"
#include "support/kit_scenario.h"
#include "support/small_volume.h"

using testing_support::HostPath;
using testing_support::IsReadOnly;
using testing_support::kSecond;
using testing_support::kTime;
using testing_support::SetReadOnly;
using testing_support::SetWriteTime;
using testing_support::WriteTime;
using testing_support::ReadFile;
using testing_support::TempFolder;
using testing_support::WriteFile;

namespace {

std::string Text(const fs::path& path) { return HostPath(path.string()); }

void MakeReadOnly(const fs::path& path) { SetReadOnly(path, true); }

// Every path below root, relative to it.
std::set<std::string> TreeOf(const fs::path& root) {
  std::set<std::string> entries;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    entries.insert(entry.path().lexically_relative(root).generic_string());
  }
  return entries;
}

#ifndef _WIN32
// Sets a fault-injection variable of the stand-in for one scope.
class ScopedFault {
 public:
  ScopedFault(const char* name, const char* value) : name_(name) { setenv(name, value, 1); }
  ~ScopedFault() { unsetenv(name_); }

 private:
  const char* name_;
};
#endif

// A source tree and a destination tree in a folder of their own.
class CopyScene {
 public:
  CopyScene() {
    fs::create_directories(source());
    fs::create_directories(destination());
  }
  fs::path source() const { return temp_.path() / "src"; }
  fs::path destination() const { return temp_.path() / "dst"; }
  fs::path folder() const { return temp_.path(); }

  void AddSource(const std::string& path, const std::string& content, uint64_t time = kTime) {
    WriteFile(source() / path, content);
    SetWriteTime(source() / path, time);
  }
  void AddExisting(const std::string& path, const std::string& content, uint64_t time) {
    WriteFile(destination() / path, content);
    SetWriteTime(destination() / path, time);
  }
  std::string Installed(const std::string& path) const { return ReadFile(destination() / path); }

  int Copy() const { return CopyFrom(source()); }
  int CopyFrom(const fs::path& sourceRoot) const {
    return ManualCopyJob(Text(destination()), Text(sourceRoot)).Run(OverwritePolicy::CompareTimes);
  }

 private:
  TempFolder temp_;
};

TEST(CopyTree, FreshCopyRecreatesTheTreeWithTimesAndReadOnly) {
  CopyScene scene;
  std::string large(3 << 20, '\0');
  for (size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>(i * 7919 >> 5);
  scene.AddSource("index.html", "<index>");
  scene.AddSource("LICENSE", "no dot in the name", kTime + 1);
  scene.AddSource(".hidden", "copied like the rest");
  scene.AddSource("guide/start.html", large, kTime - kSecond);
  scene.AddSource("guide/images/main.svg", "<svg/>");
  MakeReadOnly(scene.source() / "guide/images/main.svg");
  fs::create_directories(scene.source() / "empty");

  EXPECT_EQ(scene.Copy(), kCopyComplete);

  EXPECT_EQ(TreeOf(scene.destination()), TreeOf(scene.source()));
  for (const char* file :
       {"index.html", "LICENSE", ".hidden", "guide/start.html", "guide/images/main.svg"}) {
    EXPECT_EQ(scene.Installed(file), ReadFile(scene.source() / file)) << file;
    EXPECT_EQ(WriteTime(scene.destination() / file), WriteTime(scene.source() / file)) << file;
  }
  EXPECT_EQ(WriteTime(scene.destination() / "LICENSE"), kTime + 1);
  EXPECT_TRUE(IsReadOnly(scene.destination() / "guide/images/main.svg"));
  EXPECT_FALSE(IsReadOnly(scene.destination() / "index.html"));
  EXPECT_TRUE(IsReadOnly(scene.source() / "guide/images/main.svg"));
}

TEST(CopyTree, ReplacesAnExistingFileUnlessItIsNewer) {
  CopyScene scene;
  for (const char* name : {"a.txt", "b.txt", "c.txt"}) scene.AddSource(name, std::string("new ") + name);
  scene.AddExisting("a.txt", "newer", kTime + 1);
  scene.AddExisting("b.txt", "same time", kTime);
  scene.AddExisting("c.txt", "older", kTime - kSecond);
  scene.AddExisting("d.txt", "read-only", kTime - kSecond);
  scene.AddSource("d.txt", "new d.txt");
  MakeReadOnly(scene.destination() / "d.txt");
  // Of the source's size and time: its bytes decide.
  scene.AddSource("e.txt", "new e.txt");
  scene.AddExisting("e.txt", "old e.txt", kTime);
  scene.AddSource("f.txt", "new f.txt");
  scene.AddExisting("f.txt", "new f.txt", kTime);
  MakeReadOnly(scene.destination() / "f.txt");
#ifndef _WIN32
  struct stat identical;
  ASSERT_EQ(stat((scene.destination() / "f.txt").c_str(), &identical), 0);
#endif

#ifdef _WIN32
  // Wine shows every file as the running account's, who may have planted
  // the newer one; the test build trusts that account, as the installer
  // trusts Administrators.
  _putenv_s("QUORVEX_TRUST_RUNNING_USER", "1");
  EXPECT_EQ(scene.Copy(), kCopyComplete);
  _putenv_s("QUORVEX_TRUST_RUNNING_USER", "");
#else
  EXPECT_EQ(scene.Copy(), kCopyComplete);
#endif
  EXPECT_EQ(scene.Installed("e.txt"), "new e.txt");
  EXPECT_EQ(scene.Installed("f.txt"), "new f.txt");
  EXPECT_FALSE(IsReadOnly(scene.destination() / "f.txt"));
#ifndef _WIN32
  struct stat after;
  ASSERT_EQ(stat((scene.destination() / "f.txt").c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, identical.st_ino) << "an identical file was written again";
#endif
  EXPECT_EQ(scene.Installed("a.txt"), "newer");
  EXPECT_EQ(WriteTime(scene.destination() / "a.txt"), kTime + 1);
  EXPECT_EQ(scene.Installed("b.txt"), "new b.txt");
  EXPECT_EQ(scene.Installed("c.txt"), "new c.txt");
  EXPECT_EQ(WriteTime(scene.destination() / "c.txt"), kTime);
  EXPECT_EQ(scene.Installed("d.txt"), "new d.txt");
  EXPECT_FALSE(IsReadOnly(scene.destination() / "d.txt"));
}

TEST(CopyTree, ReusesAnExistingFolder) {
  CopyScene scene;
  scene.AddSource("guide/start.html", "start");
  scene.AddExisting("guide/notes.txt", "the user's", kTime);
  EXPECT_EQ(scene.Copy(), kCopyComplete);
  EXPECT_EQ(scene.Installed("guide/start.html"), "start");
  EXPECT_EQ(scene.Installed("guide/notes.txt"), "the user's");
}

TEST(CopyTree, MissingOrEmptySourceCopiesNothing) {
  CopyScene scene;
  EXPECT_EQ(scene.CopyFrom(scene.folder() / "missing"), kCopyComplete);
  EXPECT_EQ(scene.Copy(), kCopyComplete);
  EXPECT_TRUE(fs::is_empty(scene.destination()));
}

TEST(CopyTree, NeverCreatesTheDestinationRoot) {
  for (const char* first : {"a.txt", "a/b.txt"}) {
    CopyScene scene;
    scene.AddSource(first, "x");
    fs::remove(scene.destination());
    EXPECT_EQ(scene.Copy(), fs::path(first).has_parent_path() ? kCopyFolderCreationFailed
                                                              : kCopyFileFailed)
        << first;
    EXPECT_FALSE(fs::exists(scene.destination()));
  }
}

// A file where the source has a folder is kept, and no folder is made: the
// first file copied into it fails, and so does the first folder created in it.
TEST(CopyTree, FileNamedLikeASourceFolderIsKept) {
  struct Case {
    const char* sourceEntry;
    int result;
  };
  for (const Case& c : {Case{"guide/start.html", kCopyFileFailed},
                        Case{"guide/images/", kCopyFolderCreationFailed}, Case{"guide/", 0}}) {
    CopyScene scene;
    if (fs::path(c.sourceEntry).has_filename()) {
      scene.AddSource(c.sourceEntry, "x");
    } else {
      fs::create_directories(scene.source() / c.sourceEntry);
    }
    scene.AddExisting("guide", "a file", kTime);
    EXPECT_EQ(scene.Copy(), c.result) << c.sourceEntry;
    EXPECT_TRUE(fs::is_regular_file(scene.destination() / "guide")) << c.sourceEntry;
    EXPECT_EQ(scene.Installed("guide"), "a file");
  }
}

// Both builds list a folder sorted by name, so "later" is well defined.
TEST(CopyTree, FailureInANestedFolderStopsTheWholeCopy) {
  for (const char* failing : {"b/c/d/e.txt", "b/c/e.txt"}) {
    CopyScene scene;
    for (const char* file : {"a.txt", failing, "b/z.txt", "x/y.txt", "y.txt"}) {
      scene.AddSource(file, file);
    }
    fs::create_directories(scene.destination() / "b");
    scene.AddExisting("b/c", "a file where a folder belongs", kTime);
    const bool folderFails = fs::path(failing).parent_path() != "b/c";
    EXPECT_EQ(scene.Copy(), folderFails ? kCopyFolderCreationFailed : kCopyFileFailed);
    EXPECT_EQ(scene.Installed("a.txt"), "a.txt");
    EXPECT_EQ(TreeOf(scene.destination()), (std::set<std::string>{"a.txt", "b", "b/c"}))
        << failing;
  }
}

TEST(CopyTree, FailedFileCopyKeepsTheOldFileWithoutReadOnly) {
  CopyScene scene;
  scene.AddSource("a.txt", "a");
  scene.AddSource("doc.txt", "new");
  scene.AddSource("z.txt", "z");
  scene.AddExisting("doc.txt", "old", kTime - kSecond);
  MakeReadOnly(scene.destination() / "doc.txt");
  {
#ifdef _WIN32
    // Another program holds the destination open without sharing it.
    ScopedHandle lock(CreateFileA(Text(scene.destination() / "doc.txt").c_str(), GENERIC_READ, 0,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(lock.IsValid());
#else
    ScopedFault fault("QUORVEX_FAULT_COPYFILE", "doc.txt");
#endif
    EXPECT_EQ(scene.Copy(), kCopyFileFailed);
  }
  EXPECT_EQ(scene.Installed("doc.txt"), "old");
  EXPECT_FALSE(IsReadOnly(scene.destination() / "doc.txt"));
  EXPECT_EQ(TreeOf(scene.destination()), (std::set<std::string>{"a.txt", "doc.txt"}));
}

TEST(CopyTree, FolderWhereAFileBelongsFailsTheCopy) {
  CopyScene scene;
  scene.AddSource("index.html", "index");
  fs::create_directories(scene.destination() / "index.html" / "inside");
  EXPECT_EQ(scene.Copy(), kCopyFileFailed);
  EXPECT_TRUE(fs::is_directory(scene.destination() / "index.html" / "inside"));
}

// A source whose time cannot be read is copied, so that the copy fails
// instead of keeping the (here newer) destination without a word.
TEST(CopyTree, UnreadableSourceFailsTheCopy) {
  CopyScene scene;
  scene.AddSource("doc.txt", "new");
  scene.AddExisting("doc.txt", "installed", kTime + kSecond);
#ifdef _WIN32
  ScopedHandle lock(CreateFileA(Text(scene.source() / "doc.txt").c_str(), GENERIC_READ, 0,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(lock.IsValid());
#else
  fs::remove(scene.source() / "doc.txt");
  fs::create_symlink("nowhere", scene.source() / "doc.txt");
#endif
  EXPECT_EQ(scene.Copy(), kCopyFileFailed);
  EXPECT_EQ(scene.Installed("doc.txt"), "installed");
}

// A folder whose search pattern ("...\sub\*.*") reaches 260 bytes cannot be
// listed: its files would be missing, so the copy fails.
TEST(CopyTree, FolderTooDeepToListFailsTheCopy) {
  CopyScene scene;
  fs::path root = scene.folder() / "s";
  const size_t length = Text(root).size();
  ASSERT_LT(length, 200u);
  root += std::string(230 - length, 's');
  const std::string sub(25, 'f');  // root + "\" + sub + "\*.*" is 260 bytes
  WriteFile(root / "a.txt", "a");
  WriteFile(root / sub / "f.txt", "f");
  EXPECT_EQ(scene.CopyFrom(root), kCopyFileFailed);
  EXPECT_EQ(TreeOf(scene.destination()), (std::set<std::string>{"a.txt", sub}));
}

#ifndef _WIN32
TEST(CopyTree, FolderThatCannotBeCreatedStopsBeforeItsContent) {
  CopyScene scene;
  for (const char* file : {"a.txt", "blocked/inner.txt", "c.txt"}) scene.AddSource(file, file);
  ScopedFault fault("QUORVEX_FAULT_MKDIR", "blocked");
  EXPECT_EQ(scene.Copy(), kCopyFolderCreationFailed);
  EXPECT_EQ(TreeOf(scene.destination()), (std::set<std::string>{"a.txt"}));
}

TEST(CopyTree, ListingThatBreaksOffFailsTheCopy) {
  CopyScene scene;
  for (const char* file : {"a.txt", "broken/inner.txt", "c.txt"}) scene.AddSource(file, file);
  ScopedFault fault("QUORVEX_FAULT_FINDNEXT", "broken");
  EXPECT_EQ(scene.Copy(), kCopyFileFailed);
  EXPECT_EQ(TreeOf(scene.destination()), (std::set<std::string>{"a.txt", "broken"}));
}

TEST(CopyTree, SymbolicLinkLoopEndsAtThePathLimit) {
  CopyScene scene;
  scene.AddSource("a/f.txt", "f");
  fs::create_directory_symlink("..", scene.source() / "a" / "loop");
  EXPECT_EQ(scene.Copy(), kCopyFileFailed);
  EXPECT_EQ(scene.Installed("a/loop/a/loop/a/f.txt"), "f");
}
#endif

TEST(CopyFits, SizesAreRoundedToWholeAllocationUnits) {
  struct Row {
    uint64_t size, unit, allocated;
  };
  for (const Row& row : {Row{0, 4096, 0}, Row{1, 4096, 4096}, Row{4096, 4096, 4096},
                         Row{4097, 4096, 8192}, Row{5, 0, 5}, Row{1 << 20, 512, 1 << 20}}) {
    EXPECT_EQ(AllocatedSize(row.size, row.unit), row.allocated) << row.size << " in " << row.unit;
  }
}

// What a copy needs, read on a volume too small for any copy (the margin
// alone fills it): each file's growth in whole units, the largest file
// written, the margin. A file of the kit's size and time counts for
// nothing, nor does one that shrinks but for its new copy.
TEST(CopyFits, TheNeedIsTheGrowthPlusTheLargestFilePlusTheMargin) {
  struct Row {
    const char* name;
    uint64_t kitSize;
    int64_t installedSize;  // -1: not there
    bool sameTime;
    uint64_t growthUnits, largestUnits;  // besides a 1-byte new page
  };
  for (const Row& row : {Row{"a.html", 5, -1, false, 1, 1}, Row{"a.html", 9000, 5000, false, 1, 3},
                         Row{"a.html", 8000, 8000, true, 0, 0}, Row{"a.html", 100, 10000, false, 0, 1},
                         Row{"new/a.html", 4097, -1, false, 2, 2},
                         Row{"a.html", 8192, -1, false, 2, 2}}) {
    SCOPED_TRACE(std::string(row.name) + " " + std::to_string(row.kitSize));
    CopyScene scene;
    testing_support::SmallVolume volume(scene.destination(), 1);
    if (!volume.Failure().empty()) GTEST_SKIP() << "no tmpfs can be mounted: " << volume.Failure();
    scene.AddSource("page.html", "p");
    scene.AddSource(row.name, std::string(row.kitSize, 'k'));
    if (row.installedSize >= 0) {
      scene.AddExisting(row.name, std::string(row.installedSize, 'i'),
                        row.sameTime ? kTime : kTime - kSecond);
    }
    VolumeSpace space;
    ASSERT_TRUE(HeldFolder::OpenTop(volume.Path()).QueryVolume(space));
    const uint64_t unit = space.allocationUnit;
    SpaceShortfall shortfall;
    ASSERT_FALSE(CopyFits(Text(scene.source()), volume.Path(), shortfall));
    const uint64_t page = AllocatedSize(1, unit);
    const uint64_t largest = std::max(page, row.largestUnits * unit);
    EXPECT_EQ(shortfall.needed, page + row.growthUnits * unit + largest + kSpaceMargin);
    EXPECT_EQ(shortfall.free, space.freeToCaller);
    EXPECT_EQ(shortfall.folder, volume.Path());
  }
}

}  // namespace
