// What QuorvexKit reads of files and paths, without changing anything.
// Paths are in the ANSI code page, with "\" or "/" as separators.
#pragma once

#include <cstdint>
#include <string>

namespace kit {

enum class EntryKind { Absent, File, Folder };

EntryKind KindOf(const std::string& path);

// The folder that holds path, without a trailing separator unless it is a
// root ("C:\", "/").
std::string ParentFolder(const std::string& path);

// path without one trailing separator, unless that leaves a root or nothing.
std::string WithoutTrailingSeparator(const std::string& path);

bool CanOpenForReading(const std::string& path);

// Why an installed file that the installer replaces is replaced: its time
// compared with the kit's, or why that comparison could not be made.
std::string ReplaceReason(const std::string& installed, const std::string& source);

// True when both files can be read and hold the same bytes.
bool SameContent(const std::string& first, const std::string& second);

// The last-write time in FILETIME units; false when it cannot be read.
bool ReadWriteTime(const std::string& path, uint64_t& time);

}  // namespace kit
