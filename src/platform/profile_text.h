// A settings file as Windows' profile reader (GetPrivateProfileStringA)
// reads it, for the stand-in's profile functions and for QuorvexKit's check
// in every build, so that neither inherits another reader's leniency.
//
// - Encodings: ANSI bytes as they are; UTF-16 LE after its mark, converted
//   to the ANSI code page (a character it lacks becomes "?"); a UTF-8 mark is
//   not understood and stays bytes of line 1, so a section header on that
//   line is no header; UTF-16 BE is not understood at all.
// - A line ends at LF, at CR LF or at a lone CR, in any mix; blanks (space,
//   tab, VT, FF) around names and values are dropped; a line starting with
//   ";" is a comment.
// - "[" starts a section whose name ends at the first "]" or at the line's
//   end; what follows the "]" is ignored, a key there included.
// - Names are compared in any case; only the first section of a name is
//   searched, and in it the first line of a key counts (one without "="
//   hides the key). A value in matching outer quotes loses them, and ends
//   at a zero byte.
#pragma once

#include <string>
#include <string_view>
#include <vector>

enum class ProfileEncoding { Ansi, Utf8WithMark, Utf16LittleEndian, Utf16BigEndian };

struct ProfileEntry {
  std::string key;
  std::string value;  // as the reader returns it
  bool hasEquals = true;
  int line = 0;
};

struct ProfileSection {
  std::string name;
  int line = 0;
  bool closed = true;           // the header has its "]"
  std::string afterClose;       // what follows the "]", trimmed: ignored
  std::vector<ProfileEntry> entries;
};

struct ProfileText {
  ProfileEncoding encoding = ProfileEncoding::Ansi;
  bool wellFormed = true;   // UTF-16: an even byte count and surrogates in pairs
  bool unmappable = false;  // UTF-16 text the ANSI code page cannot hold as it is
  // With a UTF-8 mark: line 1 after the mark, trimmed (a header there is lost).
  std::string markLine;
  std::vector<ProfileSection> sections;  // in the file's order, repeats included
};

ProfileText ParseProfile(std::string_view bytes);

// The value of key in the first section named section, as
// GetPrivateProfileStringA returns it before the caller's buffer cuts it;
// false when the reader finds no value (then the default comes back).
bool FindProfileValue(const ProfileText& profile, std::string_view section, std::string_view key,
                      std::string& value);

// What a caller's buffer of size bytes gets of value: size - 1 bytes at most,
// never half of a double-byte character of the ANSI code page.
std::string_view CutProfileValue(std::string_view value, size_t size);

// The number GetPrivateProfileIntA makes of a value's text: leading blanks,
// a sign, then decimal digits, or hexadecimal, octal or binary ones after
// 0x, 0o or 0b, up to the first other character; 0 without digits.
unsigned ProfileNumber(std::string_view text);

const char* ProfileEncodingName(ProfileEncoding encoding);
