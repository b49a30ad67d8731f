// What installations of a manual left in an install directory, kept outside
// it so that a later run, QuorvexKit's verify and an uninstall can tell the
// files an install wrote from those that were there before, and an
// identical rerun can pass over files that are provably as it left them.
//
// Two kinds of file share one text format:
//   the list, written after a complete copy and its flush, before the
//   version is recorded;
//   the run-in-progress note, written and flushed before a copy writes
//   anything, naming what was there before it.
// Both are plain UTF-8 text an administrator can read, one entry a line,
// with a format version first and a checksum last: a file that is cut
// short, edited or damaged is not taken for one.
#pragma once

#include <stdint.h>

#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_identity.h"

enum class FileOrigin {
  Installed,    // written by an install of this manual
  ThereBefore,  // in the install directory before the first install wrote there
};

struct InstalledFile {
  // Relative to the install directory, folders separated by "\", in the
  // ANSI code page as the copy lists names.
  std::string path;
  FileOrigin origin = FileOrigin::Installed;
  uint64_t sourceSize = 0;           // the kit's file, as copied
  uint64_t sourceLastWriteTime = 0;  // FILETIME ticks
  FileIdentity destination;          // as the run left it
};

// Whom a list belongs to: a list of another install directory, registry
// view, product or language says nothing of this one.
struct ListOwner {
  std::string productGuid;
  std::string language;
  std::string installDirectory;  // as the run spelled it, ending in a separator
  std::string view;              // "32", "64" or "native"

  bool operator==(const ListOwner& other) const {
    return productGuid == other.productGuid && language == other.language &&
           installDirectory == other.installDirectory && view == other.view;
  }
};

struct InstalledFileList {
  ListOwner owner;
  std::string version;  // the ManualVersion the list was written for
  // Sorted by path, bytewise; a deque, which grows without copying what it
  // holds: a list of 50,000 files is read in a few megabytes.
  std::deque<InstalledFile> files;
  std::vector<std::string> createdFolders;     // by installs of this manual; sorted
};

// The run-in-progress note: what was there before a run wrote anything.
struct RunNote {
  ListOwner owner;
  std::string version;
  std::vector<std::string> filesBefore;    // sorted
  std::vector<std::string> foldersBefore;  // sorted
};

std::string FormatInstalledFileList(const InstalledFileList& list);
std::string FormatRunNote(const RunNote& note);

// A list of 50,000 files is megabytes of text: it is written and read in
// pieces. A sink takes the next piece and returns false when it cannot; a
// source puts the next piece into piece and returns false at the end.
using TextSink = std::function<bool(std::string_view piece)>;
using TextSource = std::function<bool(std::string& piece)>;
bool WriteInstalledFileList(const InstalledFileList& list, const TextSink& sink);
bool WriteRunNote(const RunNote& note, const TextSink& sink);
bool ReadInstalledFileList(const TextSource& source, InstalledFileList& list, std::string& why);
// The same, handing each file entry to each instead of keeping it in
// list.files. Entries come before the checksum is known: when the reading
// fails, what the caller made of them is to be dropped.
bool ReadInstalledFileList(const TextSource& source, InstalledFileList& list, std::string& why,
                           const std::function<void(InstalledFile&&)>& each);

// Reads text written by the formats above. False, with why saying what is
// wrong as a phrase that follows "the list" ("is cut short", "fails its
// checksum", "names a path outside the install directory: ..."), when the
// text is not one complete, intact file of that kind, or an entry's path is
// not a plain relative path (IsPlainRelativePath). Paths come back sorted
// and unique; a list that repeats one is refused.
bool ParseInstalledFileList(const std::string& text, InstalledFileList& list, std::string& why);
bool ParseRunNote(const std::string& text, RunNote& note, std::string& why);

// A path that names something inside the install directory and nothing
// else: components separated by single "\", none empty, "." or "..", no
// drive, no "\\?\" or UNC start, no ":" (streams), no "/", no control
// bytes, no device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9, with or
// without an extension), no component ending in a dot or a blank.
bool IsPlainRelativePath(const std::string& path);

// The entry of path in a sorted list, or null.
const InstalledFile* FindInstalledFile(const std::deque<InstalledFile>& files,
                                       const std::string& path);
bool ContainsPath(const std::vector<std::string>& sortedPaths, const std::string& path);

// A 64-bit hash of a path (FNV-1a): a set of many paths kept as a sorted
// vector of these takes an eighth of the memory.
uint64_t PathHash(const std::string& path);

// The text of a list's fields. Text of the ANSI code page is written as
// UTF-8; "%", control bytes and bytes that are no text of the code page (or
// whose text does not convert back to them) as "%XX". An all-ASCII text is
// written without asking the system.
std::string ListText(const std::string& bytes);

enum class ListTextRead {
  Read,
  Malformed,      // not as ListText writes any bytes
  NotInCodePage,  // a character that the ANSI code page lacks
};
ListTextRead ReadListText(const std::string& text, std::string& bytes);

// The CRC-32 of the IEEE polynomial, as zlib computes it: a list's checksum.
// previous: the CRC of the bytes before these, to go on from.
uint32_t Crc32(std::string_view bytes, uint32_t previous = 0);
