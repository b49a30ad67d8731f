// Path utilities shared by the driver and the copy. Texts are in the ANSI
// code page, which may be a double-byte one: the second byte of a
// double-byte character is never taken for a separator.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

// The folder of the running executable, ending in a backslash
// (D:\Setup\Quorvex.exe gives D:\Setup\). Fails when the executable's name
// cannot be read or does not fit MAX_PATH bytes.
bool GetProgramDirectory(std::string& directory);

// True when folder (ending in a separator) is a folder whose attributes can
// be read and whose entries can be listed. An elevated program started from
// a drive that only the user's own session has mapped sees neither.
bool IsReadableFolder(const std::string& folder);

// Whether folder (ending in a separator) holds something named name.
bool HoldsEntry(const std::string& folder, const std::string& name);

// Code of the last character of text: the byte of a single-byte character,
// lead byte * 256 + second byte of a double-byte one; 0 for an empty text.
uint16_t LastCharacter(const char* text);

// path as Windows takes it: a relative one from the current folder, a last
// name without its trailing dots and blanks. The copy looks folders up one
// by one as they are spelled, so every install directory is made full
// first, and so is the one a list names. A device path (\\.\, \\?\) names
// no folder of a volume: false, as for a path that cannot be made full.
bool MakeFullPath(std::string& path);

// Appends "\" unless the last character is "\" or "/".
void EnsureTrailingSeparator(std::string& path);

// A path relative to a folder with the platform's separators, for people
// to read; "\" as the second byte of a double-byte character stays.
std::string DisplayPath(const std::string& relativePath);

// The folders that path goes through and names, from the top, without the
// trailing separator: C:\Orvinel\docs\ gives C:\Orvinel and
// C:\Orvinel\docs. A drive's root, and the server and share of a UNC
// path, are not among them.
std::vector<std::string> FoldersAlong(const std::string& path);

