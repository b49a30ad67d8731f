// Replacing an installed file with a copy of the source, so that the file's
// name never shows a partly written copy: the copy is written under a
// temporary name in the destination's folder and moved over the name only
// once it is complete. A run killed at any moment leaves the old file or the
// new one under that name; the temporary file it may leave behind is taken
// over by the next run that writes that file.
#pragma once

#include <string>

#include "platform/win32.h"

// Replaces destinationFolder + name with a copy of sourceFolder + name (both
// folders end in a separator): its content, last-write time and attributes.
// A destination that is a folder, or read-only, is not replaced. False with
// the last error set; a failed replace leaves the old destination as it was
// and removes its temporary file.
bool ReplaceFileWithCopy(const std::string& sourceFolder, const std::string& destinationFolder,
                         const std::string& name);

// The temporary name that the copy of name is written under:
// "." + name + ".quorvex-partial", hidden on Windows. Each name has its own,
// so two files never share one. Should the source folder itself hold a file
// of that name (a manual may hold anything), "~" is appended until it names
// nothing there, so that the temporary file never stands for a manual file.
std::string TemporaryCopyName(const std::string& sourceFolder, const std::string& name);

// The first choice of TemporaryCopyName, without looking at the source folder.
std::string FirstTemporaryCopyName(const std::string& name);
