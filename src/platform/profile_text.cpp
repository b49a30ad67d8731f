#include "platform/profile_text.h"

#include <ctype.h>
#include <stdint.h>

#include "platform/win32.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// Names and values end at a zero byte, as the reader's strings do.
std::string UpToZero(std::string_view text) { return std::string(text.substr(0, text.find('\0'))); }

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (tolower(static_cast<unsigned char>(a[i])) != tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

// The arguments lose their spaces, not their other blanks.
std::string_view TrimSpaces(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

// UTF-16 LE text after its mark, in the ANSI code page.
std::string FromUtf16(std::string_view bytes, ProfileText& profile) {
  if (bytes.size() % 2) {
    profile.wellFormed = false;
    bytes.remove_suffix(1);
  }
  std::vector<WCHAR> units(bytes.size() / 2);
  for (size_t i = 0; i < units.size(); ++i) {
    units[i] = static_cast<WCHAR>(static_cast<unsigned char>(bytes[2 * i]) |
                                  (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
  }
  for (size_t i = 0; i < units.size(); ++i) {
    const bool high = units[i] >= 0xD800 && units[i] <= 0xDBFF;
    const bool low = units[i] >= 0xDC00 && units[i] <= 0xDFFF;
    if (high && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
      ++i;
    } else if (high || low) {
      profile.wellFormed = false;
    }
  }
  if (units.empty()) return "";
  const int count = static_cast<int>(units.size());
  const int size = WideCharToMultiByte(CP_ACP, 0, units.data(), count, nullptr, 0, nullptr, nullptr);
  std::string text(size > 0 ? static_cast<size_t>(size) : 0, '\0');
  if (size > 0) {
    WideCharToMultiByte(CP_ACP, 0, units.data(), count, &text[0], size, nullptr, nullptr);
  }
  // What has no form of its own: replaced, or on Windows given a look-alike.
  if (GetACP() != CP_UTF8) {
    BOOL replaced = FALSE;
    std::string exact(text.size() * 2 + 8, '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, units.data(), count, &exact[0],
                        static_cast<int>(exact.size()), nullptr, &replaced);
    profile.unmappable = replaced != FALSE;
  }
  return text;
}

// The first line of text, without its end (LF, CR LF or a lone CR), taken
// off text.
std::string_view TakeLine(std::string_view& text) {
  const size_t end = text.find_first_of("\r\n");
  const std::string_view line = text.substr(0, end);
  size_t next = end == std::string_view::npos ? text.size() : end + 1;
  if (end != std::string_view::npos && text[end] == '\r' && next < text.size() &&
      text[next] == '\n') {
    ++next;
  }
  text.remove_prefix(next);
  return line;
}

void ReadLines(std::string_view text, ProfileText& profile) {
  ProfileSection* section = nullptr;
  for (int number = 1; !text.empty(); ++number) {
    const std::string_view line = Trim(TakeLine(text));
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      const size_t close = line.find(']');
      ProfileSection next;
      next.line = number;
      next.closed = close != std::string_view::npos;
      next.name = UpToZero(Trim(line.substr(1, next.closed ? close - 1 : std::string_view::npos)));
      if (next.closed) next.afterClose = std::string(Trim(line.substr(close + 1)));
      profile.sections.push_back(std::move(next));
      section = &profile.sections.back();
      continue;
    }
    if (!section) continue;  // before any section: no key can reach it
    ProfileEntry entry;
    entry.line = number;
    const size_t equals = line.find('=');
    entry.hasEquals = equals != std::string_view::npos;
    entry.key = UpToZero(Trim(line.substr(0, equals)));
    if (entry.hasEquals) {
      std::string_view value = Trim(line.substr(equals + 1));
      if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
          value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
      }
      entry.value = UpToZero(value);
    }
    section->entries.push_back(std::move(entry));
  }
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

ProfileText ParseProfile(std::string_view bytes) {
  ProfileText profile;
  if (StartsWith(bytes, "\xFE\xFF")) {
    profile.encoding = ProfileEncoding::Utf16BigEndian;
    return profile;
  }
  if (StartsWith(bytes, "\xFF\xFE")) {
    profile.encoding = ProfileEncoding::Utf16LittleEndian;
    ReadLines(FromUtf16(bytes.substr(2), profile), profile);
    return profile;
  }
  if (StartsWith(bytes, "\xEF\xBB\xBF")) {
    profile.encoding = ProfileEncoding::Utf8WithMark;
    std::string_view rest = bytes.substr(3);
    profile.markLine = std::string(Trim(TakeLine(rest)));
  }
  ReadLines(bytes, profile);
  return profile;
}

bool FindProfileValue(const ProfileText& profile, std::string_view section, std::string_view key,
                      std::string& value) {
  section = TrimSpaces(section);
  key = TrimSpaces(key);
  for (const ProfileSection& candidate : profile.sections) {
    if (!EqualNoCase(candidate.name, section)) continue;
    for (const ProfileEntry& entry : candidate.entries) {
      if (!EqualNoCase(entry.key, key)) continue;
      if (!entry.hasEquals) return false;
      value = entry.value;
      return true;
    }
    return false;  // only the first section of a name is searched
  }
  return false;
}

std::string_view CutProfileValue(std::string_view value, size_t size) {
  if (size == 0) return {};
  if (value.size() <= size - 1) return value;
  size_t length = 0;
  for (size_t width; length < size - 1; length += width) {
    width = _ismbblead(static_cast<unsigned char>(value[length])) ? 2 : 1;
    if (length + width > size - 1) break;
  }
  return value.substr(0, length);
}

unsigned ProfileNumber(std::string_view text) {
  size_t at = 0;
  const auto next = [&](size_t ahead = 0) { return at + ahead < text.size() ? text[at + ahead] : '\0'; };
  while (next() && static_cast<unsigned char>(next()) <= ' ') ++at;
  bool negative = false;
  if (next() == '+' || next() == '-') negative = text[at++] == '-';
  unsigned base = 10;
  if (next() == '0') {
    const char prefix = static_cast<char>(tolower(static_cast<unsigned char>(next(1))));
    base = prefix == 'x' ? 16 : prefix == 'o' ? 8 : prefix == 'b' ? 2 : 10;
    if (base != 10) at += 2;
  }
  uint32_t value = 0;
  for (;; ++at) {
    const char c = next();
    unsigned digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<unsigned>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      digit = static_cast<unsigned>(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'F') {
      digit = static_cast<unsigned>(c - 'A' + 10);
    } else {
      break;
    }
    if (digit >= base) break;
    value = value * base + digit;
  }
  return negative ? 0u - value : value;
}

const char* ProfileEncodingName(ProfileEncoding encoding) {
  switch (encoding) {
    case ProfileEncoding::Ansi: return "ANSI";
    case ProfileEncoding::Utf8WithMark: return "UTF-8 with a byte-order mark";
    case ProfileEncoding::Utf16LittleEndian: return "UTF-16 LE";
    case ProfileEncoding::Utf16BigEndian: return "UTF-16 BE";
  }
  return "";
}
