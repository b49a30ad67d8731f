// A file name as the text it is, for judging whether a code page can hold
// it.
#pragma once

#include <string>

// The name, as listed by FindFirstFileA/FindNextFileA, as UTF-16 text; empty
// when its text is not known (then only its bytes can be judged). On
// Windows a listed name is in the ANSI code page; in the Linux build names
// are read as UTF-8, as Linux file systems hold them, and a name that is not
// UTF-8 (or is plain ASCII) has no text.
std::u16string NameAsText(const std::string& listedName);
