// The rules Windows applies to one file or folder name, with the name's bytes
// read in a given ANSI code page (932 or 1252).
#pragma once

#include <string>

namespace kit {

// Why Windows does not take name as it is, as a phrase to follow "the name"
// (holds the character ":", which Windows does not allow in names); empty
// when it takes it.
std::string InvalidNameReason(const std::string& name, int codePage);

// The name with its letters folded to one case as Windows compares names:
// two names of one folder with equal keys are one file there. Folds ASCII
// letters; Latin-1 letters in 1252; full-width Latin, Greek and Cyrillic
// letters in 932.
std::string CaseFoldKey(const std::string& name, int codePage);

// The name for a message: bytes below 0x20 and 0x7F written as \xNN.
std::string Printable(const std::string& name);

}  // namespace kit
