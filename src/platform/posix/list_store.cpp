// The stand-in's lists live beside its hive, as the real ones live under
// the program-data folder: in a folder only root may enter. Test faults: a
// list fails to open (EACCES) when QUORVEX_FAULT_LIST_OPEN is a part of its
// path, and its reading fails after the first piece (EIO) when
// QUORVEX_FAULT_LIST_READ is.
#include "platform/list_store.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "hive_file.h"
#include "platform/folder_identities.h"
#include "platform/held_path.h"
#include "platform/stall_watch.h"
#include "standin_internal.h"
#include "trusted_path.h"

namespace {

using standin::UniqueFd;

constexpr size_t kPiece = 64 * 1024;

int Descriptor(const HeldFolder& folder) { return standin::DescriptorOf(folder.Get()); }

bool TrustedFolder(int fd) {
  struct stat status;
  return fstat(fd, &status) == 0 && S_ISDIR(status.st_mode) &&
         standin::IsTrustedOwner(status.st_uid) && !(status.st_mode & (S_IWGRP | S_IWOTH));
}

// Gives the folder and its files to root alone: its files first, so that a
// run stopped between them finds the folder still to be done. Only plain
// files of one name are taken.
bool Restrict(const HeldFolder& folder) {
  UniqueFd opened(openat(Descriptor(folder), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!opened.IsValid()) return false;
  for (const std::string& name : FolderIdentities(folder).Names()) {
    UniqueFd file(
        openat(opened.Get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat status;
    if (!file.IsValid() || fstat(file.Get(), &status) != 0 || !S_ISREG(status.st_mode) ||
        status.st_nlink != 1 || fchmod(file.Get(), 0600) != 0) {
      return false;
    }
  }
  return fchmod(opened.Get(), 0700) == 0;
}

bool SyncFolder(const HeldFolder& folder) {
  UniqueFd opened(openat(Descriptor(folder), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!opened.IsValid() || fsync(opened.Get()) != 0) return standin::FailWithErrno(errno);
  return true;
}

bool Fail(int error) { return standin::FailWithErrno(error); }

}  // namespace

std::string ListBaseFolder() {
  const char* named = getenv("QUORVEX_LISTS");
  std::string base = named && *named ? named : standin::HivePath();
  if (!(named && *named)) {
    const size_t slash = base.find_last_of('/');
    base = slash == std::string::npos ? "." : base.substr(0, slash);
  }
  if (base.empty() || base.back() != '/') base += '/';
  return base;
}

ListFolderFound ListFolder::Open(const std::string& name, ListFolder& folder,
                                 bool restrictAccess) {
  folder.held_ = HeldFolder();
  HeldPath along;
  const FolderEntry found = along.Walk(ListBaseFolder());
  if (found == FolderEntry::Absent) return ListFolderFound::Absent;
  if (found != FolderEntry::Enter) return ListFolderFound::Untrusted;
  HeldFolder held;
  const FolderEntry entry = along.Last().Enter(name, held);
  if (entry == FolderEntry::Absent) return ListFolderFound::Absent;
  if (entry != FolderEntry::Enter || !TrustedFolder(Descriptor(held))) {
    return ListFolderFound::Untrusted;
  }
  // An earlier release let everyone read the lists.
  struct stat status;
  if (fstat(Descriptor(held), &status) != 0 ||
      (restrictAccess && (status.st_mode & (S_IRWXG | S_IRWXO)) && !Restrict(held))) {
    return ListFolderFound::Untrusted;
  }
  folder.held_ = std::move(held);
  return ListFolderFound::Trusted;
}

bool ListFolder::Create(const std::string& name, ListFolder& folder) {
  folder.held_ = HeldFolder();
  const std::string base = ListBaseFolder();
  // The base itself, as the hive's folder is made.
  for (size_t slash = base.find('/', 1); slash != std::string::npos;
       slash = base.find('/', slash + 1)) {
    if (mkdir(base.substr(0, slash).c_str(), 0755) != 0 && errno != EEXIST) return Fail(errno);
  }
  if (standin::FaultInjected("QUORVEX_FAULT_LIST", base + name)) return false;
  HeldPath along;
  if (along.Walk(base) != FolderEntry::Enter) return Fail(ENOENT);
  if (mkdirat(Descriptor(along.Last()), name.c_str(), 0700) != 0) return Fail(errno);
  const FolderEntry entry = along.Last().Enter(name, folder.held_);
  if (entry != FolderEntry::Enter) {
    folder.held_ = HeldFolder();
    return Fail(EACCES);
  }
  return true;
}

bool ListFolder::Read(const std::string& file,
                      const std::function<void(const PieceSource&)>& consume) const {
  const std::string path = Path() + file;
  if (standin::FaultInjected("QUORVEX_FAULT_LIST_OPEN", path)) return false;
  // A file another program holds a lease on is in use: not waited for.
  UniqueFd fd(
      openat(Descriptor(held_), file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat status;
  if (!fd.IsValid() || fstat(fd.Get(), &status) != 0) return Fail(errno);
  if (!S_ISREG(status.st_mode)) return Fail(EINVAL);
  const bool faulty = standin::FaultInjected("QUORVEX_FAULT_LIST_READ", path);
  int error = 0;
  bool first = true;
  consume([&](std::string& piece) {
    piece.resize(kPiece);
    ssize_t done;
    do {
      if (faulty && !first) {
        done = -1;
        errno = EIO;
      } else {
        done = read(fd.Get(), &piece[0], piece.size());
      }
    } while (done < 0 && errno == EINTR);
    first = false;
    if (done < 0) error = errno;
    piece.resize(done > 0 ? static_cast<size_t>(done) : 0);
    stall_watch::Progress();
    return done > 0;
  });
  return error == 0 || Fail(error);
}

bool ListFolder::Write(const std::string& file,
                       const std::function<bool(const PieceSink&)>& produce) const {
  const int folder = Descriptor(held_);
  if (standin::FaultInjected("QUORVEX_FAULT_LIST", Path() + file)) return false;
  const std::string temporary = file + ".new";
  unlinkat(folder, temporary.c_str(), 0);
  UniqueFd fd(openat(folder, temporary.c_str(),
                     O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!fd.IsValid()) return Fail(errno);
  int error = 0;
  bool written = produce([&](std::string_view piece) {
    while (!piece.empty()) {
      const ssize_t done = write(fd.Get(), piece.data(), piece.size());
      if (done < 0 && errno == EINTR) continue;
      if (done <= 0) {
        error = done < 0 ? errno : ENOSPC;
        return false;
      }
      piece.remove_prefix(static_cast<size_t>(done));
    }
    stall_watch::Progress();
    return true;
  });
  if (!written && !error) error = EIO;
  if (written && (fsync(fd.Get()) != 0 ||
                  renameat(folder, temporary.c_str(), folder, file.c_str()) != 0)) {
    written = false;
    error = errno;
  }
  if (!written) {
    unlinkat(folder, temporary.c_str(), 0);
    return Fail(error);
  }
  return SyncFolder(held_);
}

bool ListFolder::Remove(const std::string& file) const {
  if (unlinkat(Descriptor(held_), file.c_str(), 0) != 0) return errno == ENOENT;
  return SyncFolder(held_);
}
