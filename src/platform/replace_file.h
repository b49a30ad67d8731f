// Replacing an installed file with a copy of the source, so that the file's
// name never shows a partly written copy: the copy is written under a
// temporary name in the destination's folder and moved over the name only
// once it is complete. A run killed at any moment leaves the old file or the
// new one under that name; the temporary file it may leave behind is
// removed by the next run that writes a file of that folder under that
// name, which never writes into anything already under it.
#pragma once

#include <stdint.h>

#include <string>

#include "platform/held_folder.h"
#include "platform/win32.h"

// What the listing of its folder said of a source file.
struct ListedFile {
  DWORD attributes = INVALID_FILE_ATTRIBUTES;
  uint64_t size = 0;
  FILETIME lastWriteTime{};
};

// Files open for reading at their start, lent by the caller; either may be
// INVALID_HANDLE_VALUE, and is then opened where it is needed.
struct LentFiles {
  HANDLE source = INVALID_HANDLE_VALUE;
  HANDLE destination = INVALID_HANDLE_VALUE;
};

// A destination that already holds the source's bytes is not written again
// (rsync's quick check, confirmed by content): when the file name of folder
// is a plain file with a single name, of the source's size and last-write
// time, whose bytes equal the source's, it only gets what a copy would give
// it that it lacks (the source's attributes; natively its permission bits
// and times), and the answer is true. The result cannot be told from a
// replace. False otherwise: the file is to be written. With lookOnly the
// same answer is given and nothing is changed, for a preview.
bool KeepIdenticalCopy(const std::string& source, const HeldFolder& folder,
                       const std::string& name, const ListedFile& listed, LentFiles lent = {},
                       bool lookOnly = false);

// What the caller has just read, so that the replace need not read it
// again.
struct ReplaceFacts {
  ListedFile source;                                      // as listed
  DWORD destinationAttributes = INVALID_FILE_ATTRIBUTES;  // as it is now
  // The source, open for reading at its start, lent by the caller; the
  // Linux build copies from it rather than opening it again.
  HANDLE lentSource = INVALID_HANDLE_VALUE;
};

// Replaces the file name of folder with a copy of sourceFolder + name (it
// ends in a separator): its content, last-write time and attributes. The
// copy is created new, relative to the held folder, and moved over the
// name; a link there is replaced, never written through. A destination
// that is a folder, or read-only, is not replaced. False with the last
// error set; a failed replace leaves the old destination as it was and
// removes its temporary file.
bool ReplaceFileWithCopy(const std::string& sourceFolder, const HeldFolder& folder,
                         const std::string& name, const ReplaceFacts* facts = nullptr);

// The attributes of the entry name of folder itself (a link's own),
// INVALID_FILE_ATTRIBUTES with the last error set when there is none.
DWORD AttributesIn(const HeldFolder& folder, const std::string& name);

// Clears the read-only attribute of the installed file name of folder,
// keeping the others, only through a handle that shows a plain file with
// one name: a hard link that another account planted keeps it. A failure
// is no failure of the copy.
void ClearReadOnly(const HeldFolder& folder, const std::string& name);

// Runs that replace files in one folder at the same moment take turns; a
// replace holds its folder's turn for the replaces into that folder that
// follow it. Lets the last one go, once a copy has ended.
void ReleaseReplaceLock();
// What the replaces met that is no failure and the run's log should tell
// (a lock done without, and why), once; empty when nothing.
std::string TakeReplaceNote();

// The longest temporary name: it fits wherever a folder that
// CreateDirectoryA made leaves room for an 8.3 name.
constexpr size_t kTemporaryNameLength = 11;

// The temporary name that the copy of name is written under, in a
// destination folder of destinationFolderLength bytes: "~q" and nine hex
// digits derived from the name, cut down where the folder leaves less room,
// so that it fits wherever the destination's own path fits. Should the
// source folder itself hold a file of that name (a manual may hold
// anything), other digits are taken until it names nothing there, so that
// the temporary file never stands for a manual file; empty when none fits.
std::string TemporaryCopyName(const std::string& sourceFolder, const std::string& name,
                              size_t destinationFolderLength = 0);
// The same, from the choice after the one in choice on (the first call
// passes 0 and gets the first name); choice is set to the one returned.
std::string NextTemporaryCopyName(const std::string& sourceFolder, const std::string& name,
                                  size_t destinationFolderLength, uint64_t& choice);

// The first choice of TemporaryCopyName, without looking at the source folder.
std::string FirstTemporaryCopyName(const std::string& name, size_t destinationFolderLength = 0);
