// The stand-in's file calls behave as the Windows ones the copy relies on.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "platform/posix/file_copy.h"
#include "platform/replace_file.h"
#include "platform/scoped_handle.h"
#include "platform/win32.h"
#include "support/kit.h"

using testing_support::ReadFile;
using testing_support::TempFolder;
using testing_support::WriteFile;

namespace {

constexpr uint64_t kUnixEpoch = 11644473600ull * 10000000;

uint64_t Intervals(const FILETIME& time) {
  return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

struct stat Status(const fs::path& path) {
  struct stat status {};
  EXPECT_EQ(lstat(path.c_str(), &status), 0) << path;
  return status;
}

// Windows-style text of a path: the stand-in takes backslashes.
std::string Windows(const fs::path& path) {
  std::string text = path.string();
  for (char& c : text) {
    if (c == '/') c = '\\';
  }
  return text;
}

struct Found {
  std::vector<std::string> names;
  std::vector<WIN32_FIND_DATAA> entries;
  DWORD endError = 0;
};

Found List(const std::string& pattern) {
  Found found;
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA(pattern.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) {
    found.endError = GetLastError();
    return found;
  }
  do {
    found.names.push_back(data.cFileName);
    found.entries.push_back(data);
  } while (FindNextFileA(find, &data));
  found.endError = GetLastError();
  EXPECT_TRUE(FindClose(find));
  return found;
}

TEST(StandInListing, ListsEveryEntrySortedWithItsDescription) {
  TempFolder temp;
  WriteFile(temp.path() / "b.txt", "four");
  WriteFile(temp.path() / "README", "");
  WriteFile(temp.path() / "a.TXT", "");
  chmod((temp.path() / "a.TXT").c_str(), 0444);
  fs::create_directory(temp.path() / "folder");
  WriteFile(temp.path() / "big", "");
  ASSERT_EQ(truncate((temp.path() / "big").c_str(), (off_t{1} << 32) + 3), 0);

  Found all = List(Windows(temp.path() / "*.*"));
  EXPECT_EQ(all.names,
            (std::vector<std::string>{".", "..", "README", "a.TXT", "b.txt", "big", "folder"}));
  EXPECT_EQ(all.endError, static_cast<DWORD>(ERROR_NO_MORE_FILES));
  ASSERT_EQ(all.entries.size(), 7u);
  EXPECT_EQ(all.entries[0].dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_EQ(all.entries[3].dwFileAttributes,
            static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(all.entries[4].dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_EQ(all.entries[4].nFileSizeLow, 4u);
  EXPECT_EQ(all.entries[5].nFileSizeHigh, 1u);
  EXPECT_EQ(all.entries[5].nFileSizeLow, 3u);
  EXPECT_EQ(all.entries[6].dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  const struct stat status = Status(temp.path() / "b.txt");
  EXPECT_EQ(Intervals(all.entries[4].ftLastWriteTime),
            kUnixEpoch + status.st_mtim.tv_sec * 10000000ull + status.st_mtim.tv_nsec / 100);

  EXPECT_EQ(List(Windows(temp.path() / "*.txt")).names,
            (std::vector<std::string>{"a.TXT", "b.txt"}));
  EXPECT_EQ(List(Windows(temp.path() / "?EADM*")).names, (std::vector<std::string>{"README"}));
  EXPECT_EQ(List(Windows(temp.path() / "*.none")).endError,
            static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(List(Windows(temp.path() / "missing" / "*.*")).endError,
            static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST(StandInListing, RefusesPatternsOfMaxPathBytes) {
  TempFolder temp;
  std::string folder = temp.Text();
  folder.append(MAX_PATH - 5 - folder.size(), 'f');
  ASSERT_TRUE(fs::create_directory(folder));
  EXPECT_EQ(List(folder + "\\*.*").names.size(), 2u);  // 259 bytes
  Found refused = List(folder + "\\*.**");
  EXPECT_TRUE(refused.names.empty());
  EXPECT_EQ(refused.endError, static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
}

TEST(StandInFiles, TimesKeepFullPrecisionAndCompareAsOnWindows) {
  TempFolder temp;
  const fs::path path = temp.path() / "t";
  WriteFile(path, "x");
  const uint64_t time = kUnixEpoch + 981173106ull * 10000000 + 7654321;
  {
    ScopedHandle file(CreateFileA(Windows(path).c_str(), GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file.IsValid());
    const FILETIME written{static_cast<DWORD>(time), static_cast<DWORD>(time >> 32)};
    ASSERT_TRUE(SetFileTime(file.Get(), nullptr, nullptr, &written));
  }
  EXPECT_EQ(Status(path).st_mtim.tv_sec, 981173106);
  EXPECT_EQ(Status(path).st_mtim.tv_nsec, 765432100);

  const struct timespec times[2] = {{0, UTIME_OMIT}, {981173106, 765432199}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  ScopedHandle file(CreateFileA(Windows(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_ARCHIVE, nullptr));
  FILETIME read{};
  ASSERT_TRUE(GetFileTime(file.Get(), nullptr, nullptr, &read));
  EXPECT_EQ(Intervals(read), time);

  const FILETIME low{0xFFFFFFFFu, 1}, high{0, 2};
  EXPECT_EQ(CompareFileTime(&low, &high), -1);
  EXPECT_EQ(CompareFileTime(&high, &low), 1);
  EXPECT_EQ(CompareFileTime(&low, &low), 0);
}

TEST(StandInFiles, OpeningFailsAsOnWindows) {
  TempFolder temp;
  WriteFile(temp.path() / "ro", "");
  chmod((temp.path() / "ro").c_str(), 0444);
  auto open = [&](const char* name, DWORD access) {
    HANDLE file = CreateFileA(Windows(temp.path() / name).c_str(), access, 0, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD error = GetLastError();
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    return file == INVALID_HANDLE_VALUE ? error : ERROR_SUCCESS;
  };
  EXPECT_EQ(open("ro", GENERIC_READ), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(open("ro", GENERIC_WRITE), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(open(".", GENERIC_READ), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(open("missing", GENERIC_READ), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));

  // The folder of the last path opened serves the next path in it only
  // while that path still names it: a folder renamed and made again under
  // its name is looked up anew.
  const auto read = [&](const fs::path& path) {
    HANDLE file = CreateFileA(Windows(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    char text[16] = {};
    DWORD got = 0;
    if (file != INVALID_HANDLE_VALUE) {
      ReadFile(file, text, sizeof text - 1, &got, nullptr);
      CloseHandle(file);
    }
    return std::string(text, got);
  };
  fs::create_directory(temp.path() / "sub");
  WriteFile(temp.path() / "sub" / "page", "old");
  EXPECT_EQ(read(temp.path() / "sub" / "page"), "old");
  fs::rename(temp.path() / "sub", temp.path() / "moved");
  fs::create_directory(temp.path() / "sub");
  WriteFile(temp.path() / "sub" / "page", "new");
  EXPECT_EQ(read(temp.path() / "sub" / "page"), "new");
  fs::remove_all(temp.path() / "sub");
  EXPECT_EQ(read(temp.path() / "sub" / "page"), "");
}

TEST(StandInFiles, ReadOnlyIsTheAbsenceOfWriteBits) {
  TempFolder temp;
  const fs::path path = temp.path() / "f";
  WriteFile(path, "");
  chmod(path.c_str(), 0664);
  const std::string name = Windows(path);
  EXPECT_EQ(GetFileAttributesA(name.c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
  ASSERT_TRUE(SetFileAttributesA(name.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(Status(path).st_mode & 0777, 0444u);
  ASSERT_TRUE(SetFileAttributesA(name.c_str(), FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_EQ(Status(path).st_mode & 0777, 0644u);

  // Through a symbolic link nothing is changed.
  chmod(path.c_str(), 0444);
  fs::create_symlink(path, temp.path() / "link");
  const std::string link = Windows(temp.path() / "link");
  EXPECT_EQ(GetFileAttributesA(link.c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_TRUE(SetFileAttributesA(link.c_str(), FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_EQ(Status(path).st_mode & 0777, 0444u);
  EXPECT_EQ(GetFileAttributesA(Windows(temp.path() / "none").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(StandInFiles, CreatesOneFolderLevel) {
  TempFolder temp;
  const std::string folder = Windows(temp.path() / "new");
  EXPECT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
  EXPECT_TRUE(fs::is_directory(temp.path() / "new"));
  EXPECT_FALSE(CreateDirectoryA(folder.c_str(), nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_FALSE(CreateDirectoryA((folder + "\\a\\b").c_str(), nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

class StandInCopy : public ::testing::Test {
 protected:
  BOOL Copy(const fs::path& from, const fs::path& to, BOOL failIfExists = FALSE) {
    return CopyFileA(Windows(from).c_str(), Windows(to).c_str(), failIfExists);
  }
  // Names in the folder: no temporary file may stay behind.
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(temp_.path())) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  fs::path At(const char* name) const { return temp_.path() / name; }
  TempFolder temp_;
};

TEST_F(StandInCopy, CopiesContentWriteTimeAndReadOnly) {
  std::string content(5 << 20, '\0');
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 31 >> 7);
  WriteFile(At("src"), content);
  chmod(At("src").c_str(), 0444);
  const struct timespec times[2] = {{1000000000, 1}, {1234567890, 123456789}};
  ASSERT_EQ(utimensat(AT_FDCWD, At("src").c_str(), times, 0), 0);

  ASSERT_TRUE(Copy(At("src"), At("dst")));
  EXPECT_EQ(ReadFile(At("dst")), content);
  const struct stat status = Status(At("dst"));
  EXPECT_EQ(status.st_mtim.tv_sec, 1234567890);
  EXPECT_EQ(status.st_mtim.tv_nsec, 123456789);
  EXPECT_EQ(status.st_mode & 0777, 0444u);
  EXPECT_EQ(Names(), (std::vector<std::string>{"dst", "src"}));
}

TEST_F(StandInCopy, CopiesAcrossFileSystems) {
  if (!fs::is_directory("/dev/shm")) GTEST_SKIP() << "no /dev/shm";
  const fs::path source = fs::path("/dev/shm") / ("quorvex-" + std::to_string(getpid()));
  WriteFile(source, "from another file system");
  EXPECT_TRUE(Copy(source, At("dst")));
  fs::remove(source);
  EXPECT_EQ(ReadFile(At("dst")), "from another file system");
}

// A copy of another size than the source had when it was looked at is no
// copy of it: a read that ends early does not end the file, and neither
// does a file that grew meanwhile.
TEST_F(StandInCopy, ACopyOfAnotherSizeThanTheSourcesFails) {
  WriteFile(At("src"), std::string(300000, 'x'));
  for (const off_t size : {off_t{300001}, off_t{299999}, off_t{0}}) {
    SCOPED_TRACE(size);
    standin::UniqueFd source(open(At("src").c_str(), O_RDONLY));
    standin::UniqueFd copy(open(At("dst").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644));
    struct stat status = Status(At("src"));
    status.st_size = size;
    EXPECT_FALSE(standin::WriteCopy(source.Get(), status, copy.Get()));
  }
  standin::UniqueFd source(open(At("src").c_str(), O_RDONLY));
  standin::UniqueFd copy(open(At("dst").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644));
  EXPECT_TRUE(standin::WriteCopy(source.Get(), Status(At("src")), copy.Get()));
}

// Windows' CopyFileA writes over an existing file in place: so does ours.
TEST_F(StandInCopy, CopiesInPlace) {
  WriteFile(At("src"), "new");
  WriteFile(At("dst"), "old");
  fs::create_hard_link(At("dst"), At("other-name"));
  ASSERT_TRUE(Copy(At("src"), At("dst")));
  EXPECT_EQ(ReadFile(At("dst")), "new");
  EXPECT_EQ(ReadFile(At("other-name")), "new");
}

// The replace renames its copy over the destination: a hard link keeps the
// old content, a symbolic link is replaced rather than written through.
class StandInReplace : public StandInCopy {
 protected:
  bool Replace(const char* name) {
    return ReplaceFileWithCopy(source_.Text(), HeldFolder::Open(temp_.path().string()), name);
  }
  fs::path Source(const char* name) const { return source_.path() / name; }
  TempFolder source_;
};

TEST_F(StandInReplace, ReplacesTheDestinationByRenaming) {
  WriteFile(Source("dst"), "new");
  WriteFile(Source("link"), "new");
  WriteFile(At("dst"), "old");
  fs::create_hard_link(At("dst"), At("other-name"));
  WriteFile(At("target"), "target");
  fs::create_symlink(At("target"), At("link"));

  ASSERT_TRUE(Replace("dst"));
  EXPECT_EQ(ReadFile(At("dst")), "new");
  EXPECT_EQ(ReadFile(At("other-name")), "old");
  ASSERT_TRUE(Replace("link"));
  EXPECT_FALSE(fs::is_symlink(At("link")));
  EXPECT_EQ(ReadFile(At("link")), "new");
  EXPECT_EQ(ReadFile(At("target")), "target");
}

// The temporary file is held under a lock while it is written: one that a
// killed writer left is removed, one that a live writer holds is left to it
// and never waited for, so that a lock that another account took first
// cannot hang a run.
TEST_F(StandInReplace, TemporaryFileOfADeadWriterIsRemovedAndOfALiveOneLeftAlone) {
  WriteFile(Source("dst"), "new");
  const std::string partial = FirstTemporaryCopyName("dst");
  WriteFile(At(partial.c_str()), "half of an earlier cop");
  chmod(At(partial.c_str()).c_str(), 0444);
  ASSERT_TRUE(Replace("dst"));
  EXPECT_EQ(ReadFile(At("dst")), "new");
  EXPECT_EQ(Names(), (std::vector<std::string>{"dst"}));

  WriteFile(At(partial.c_str()), "being written");
  const int held = open(At(partial.c_str()).c_str(), O_RDONLY);
  ASSERT_EQ(flock(held, LOCK_EX), 0);
  WriteFile(Source("dst"), "newer");
  EXPECT_TRUE(Replace("dst"));
  EXPECT_EQ(ReadFile(At("dst")), "newer");
  EXPECT_EQ(ReadFile(At(partial.c_str())), "being written");
  close(held);
  EXPECT_EQ(Names(), (std::vector<std::string>{"dst", partial}));
}

TEST_F(StandInReplace, NothingAtTheTemporaryNameIsWrittenThrough) {
  WriteFile(Source("dst"), "new");
  WriteFile(Source("other"), "new");
  WriteFile(At("outside"), "outside");
  const std::string dstPartial = FirstTemporaryCopyName("dst");
  const std::string otherPartial = FirstTemporaryCopyName("other");
  fs::create_symlink(At("outside"), At(dstPartial.c_str()));
  fs::create_directory(At(otherPartial.c_str()));
  EXPECT_TRUE(Replace("dst"));
  EXPECT_TRUE(Replace("other"));
  EXPECT_EQ(ReadFile(At("dst")), "new");
  EXPECT_EQ(ReadFile(At("other")), "new");
  EXPECT_EQ(ReadFile(At("outside")), "outside");
  EXPECT_TRUE(fs::is_symlink(At(dstPartial.c_str())));
  EXPECT_TRUE(fs::is_directory(At(otherPartial.c_str())));
}

// Names of the longest length are replaced through the short temporary name.
TEST_F(StandInReplace, NamesOfTheLongestLengthAreReplaced) {
  const std::string longest(NAME_MAX, 'n');
  WriteFile(source_.path() / longest, "new");
  WriteFile(At(longest.c_str()), "old");
  ASSERT_TRUE(Replace(longest.c_str()));
  EXPECT_EQ(ReadFile(At(longest.c_str())), "new");
  EXPECT_EQ(Names(), (std::vector<std::string>{longest}));
}

// A destination that already is a copy of the source keeps its inode and
// gets the permission bits and times of a copy; anything else is written.
TEST_F(StandInReplace, AnIdenticalCopyIsNotWrittenAgain) {
  const struct timespec times[2] = {{1000000000, 5}, {1234567890, 123456789}};
  auto plant = [&](const char* name, const std::string& source, const std::string& installed) {
    WriteFile(Source(name), source);
    WriteFile(At(name), installed);
    ASSERT_EQ(utimensat(AT_FDCWD, Source(name).c_str(), times, 0), 0);
    ASSERT_EQ(utimensat(AT_FDCWD, At(name).c_str(), times, 0), 0);
    chmod(Source(name).c_str(), 0444);
    chmod(At(name).c_str(), 0600);
  };
  const std::string page(300000, 'p');
  std::string changed = page;
  changed[250000] = 'q';
  plant("same", page, page);
  plant("changed", page, changed);
  plant("linked", page, page);
  fs::create_hard_link(At("linked"), At("other-name"));
  plant("longer", page, page + "!");

  std::map<std::string, ino_t> before;
  for (const char* name : {"same", "changed", "linked", "longer"}) before[name] = Status(At(name)).st_ino;
  for (const char* name : {"same", "changed", "linked", "longer"}) {
    ASSERT_TRUE(KeepIdenticalCopy(Source(name).string(), HeldFolder::Open(temp_.path().string()),
                                  name, ListedFile()) ||
                Replace(name))
        << name;
    const struct stat status = Status(At(name));
    EXPECT_EQ(ReadFile(At(name)), page) << name;
    EXPECT_EQ(status.st_mode & 0777, 0444u) << name;
    EXPECT_EQ(status.st_mtim.tv_sec, 1234567890) << name;
    EXPECT_EQ(status.st_mtim.tv_nsec, 123456789) << name;
    EXPECT_EQ(status.st_ino == before[name], std::string(name) == "same") << name;
  }
  EXPECT_EQ(ReadFile(At("other-name")), page);
  EXPECT_EQ(Status(At("other-name")).st_ino, before["linked"]);
  chmod(At("same").c_str(), 0600);
  for (const char* name : {"same", "changed", "linked", "longer"}) chmod(Source(name).c_str(), 0600);
}

TEST_F(StandInCopy, RefusesWhatWindowsRefuses) {
  WriteFile(At("src"), "new");
  WriteFile(At("dst"), "old");
  EXPECT_FALSE(Copy(At("src"), At("dst"), TRUE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
  EXPECT_TRUE(Copy(At("src"), At("fresh"), TRUE));

  chmod(At("dst").c_str(), 0444);
  EXPECT_FALSE(Copy(At("src"), At("dst")));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(ReadFile(At("dst")), "old");

  fs::create_directory(At("folder"));
  EXPECT_FALSE(Copy(At("src"), At("folder")));
  EXPECT_FALSE(Copy(At("folder"), At("copy")));
  EXPECT_FALSE(Copy(At("src"), At("missing") / "dst"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  ASSERT_EQ(mkfifo(At("fifo").c_str(), 0644), 0);
  EXPECT_FALSE(Copy(At("fifo"), At("copy")));  // and does not wait for a writer
  EXPECT_EQ(Names(), (std::vector<std::string>{"dst", "fifo", "folder", "fresh", "src"}));
}

}  // namespace
