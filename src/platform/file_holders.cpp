#include "platform/file_holders.h"

#include <stdio.h>

#include <algorithm>

#include "text/text_encoding.h"

namespace {

const size_t kNamesShown = 3;
const size_t kNameBytes = 64;

// The length of the UTF-8 character at text[i], or 0 where none starts.
size_t CharacterLength(const std::string& text, size_t i) {
  const auto byte = [&](size_t at) { return static_cast<unsigned char>(text[at]); };
  const unsigned char lead = byte(i);
  if (lead < 0x80) return 1;
  size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // the second byte's range
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (i + length > text.size() || byte(i + 1) < low || byte(i + 1) > high) return 0;
  for (size_t next = i + 2; next < i + length; ++next) {
    if (byte(next) < 0x80 || byte(next) > 0xBF) return 0;
  }
  return length;
}

// name as text that stays on one line: at most kNameBytes of it, whole
// characters only, bytes that are no UTF-8 as "\xNN", controls escaped.
std::string ShownName(const std::string& name) {
  std::string kept;
  size_t i = 0;
  while (i < name.size() && i < kNameBytes) {
    const size_t length = CharacterLength(name, i);
    if (length == 0) {
      char escaped[5];
      snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned char>(name[i]));
      kept += escaped;
      ++i;
    } else if (i + length > kNameBytes) {
      break;
    } else {
      kept.append(name, i, length);
      i += length;
    }
  }
  if (i < name.size()) kept += "...";
  return VisibleUtf8(kept);
}

}  // namespace

std::string DescribeFileHolders(const std::vector<FileHolder>& holders, DWORD ownProcessId) {
  std::vector<DWORD> seen;
  std::string text;
  size_t shown = 0, more = 0;
  for (const FileHolder& holder : holders) {
    if (holder.processId == ownProcessId ||
        std::find(seen.begin(), seen.end(), holder.processId) != seen.end()) {
      continue;
    }
    seen.push_back(holder.processId);
    if (shown == kNamesShown) {
      ++more;
      continue;
    }
    if (shown++) text += ", ";
    const std::string process = "process " + std::to_string(holder.processId);
    text += holder.name.empty() ? process : ShownName(holder.name) + " (" + process + ")";
  }
  if (more) text += " and " + std::to_string(more) + " more";
  return text;
}

std::string DescribeHoldersOf(const std::string& path) {
  if (path.empty()) return std::string();
  return DescribeFileHolders(FindFileHolders(path), GetCurrentProcessId());
}
