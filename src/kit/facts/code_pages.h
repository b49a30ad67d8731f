// Which byte sequences are text in the ANSI code pages a kit is installed
// under: 932 (Japanese, double-byte) and 1252 (Western). Names are checked
// byte by byte, independent of the code page of the machine running the check.
#pragma once

#include <stddef.h>

#include <string>

namespace kit {

constexpr int kJapaneseCodePage = 932;
constexpr int kWesternCodePage = 1252;

// The length of the character at text[i] in codePage: 2 for a lead byte
// followed by a valid second byte, 1 otherwise.
size_t CharacterLength(const std::string& text, size_t i, int codePage);

// The offset of the first byte that starts no character in codePage (an
// undefined byte, or a lead byte without a valid second byte), or npos when
// the whole text is valid there.
size_t FindInvalidByte(const std::string& text, int codePage);

// The characters of text that codePage cannot hold (no best-fit stand-ins),
// as "U+00E9" words joined by spaces, each once; empty when it holds them
// all.
std::string CharactersOutside(const std::u16string& text, int codePage);

// text in codePage's bytes; what it cannot hold becomes "?".
std::string InCodePage(const std::u16string& text, int codePage);

// True when text holds a byte above 0x7F and is well-formed UTF-8 throughout.
bool IsNonAsciiUtf8(const std::string& text);

}  // namespace kit
