// A file name as the text it is, for judging whether a code page can hold
// it.
#pragma once

#include <map>
#include <string>

// The name, as listed by FindFirstFileA/FindNextFileA, as UTF-16 text; empty
// when its text is not known (then only its bytes can be judged). On
// Windows a listed name is in the ANSI code page; in the Linux build names
// are read as UTF-8, as Linux file systems hold them, and a name that is not
// UTF-8 (or is plain ASCII) has no text.
std::u16string NameAsText(const std::string& listedName);

// bytes of codePage as UTF-16 text; empty when they are not text there.
std::u16string DecodeName(const std::string& bytes, unsigned codePage);

// The names of folder (ending in a separator) whose listed form differs
// from the text they are, by listed name: on Windows, names that the ANSI
// listing cannot show as they are (it shows best-fit stand-ins or "?"),
// from the wide-character listing. Empty in the Linux build, whose listed
// names are the names.
std::map<std::string, std::u16string> NamesListedOtherwise(const std::string& folder);
