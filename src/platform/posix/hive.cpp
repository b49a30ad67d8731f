#include "hive.h"

#include <stdio.h>

namespace standin {

namespace {

const char kHeader[] = "REGEDIT4";
const char kRootName[] = "HKEY_LOCAL_MACHINE";

bool IsLead(const std::string& text, size_t i) {
  return _ismbblead(static_cast<unsigned char>(text[i])) && i + 1 < text.size();
}

std::string FoldCase(const std::string& name) {
  std::string folded = name;
  for (size_t i = 0; i < folded.size(); ++i) {
    if (IsLead(folded, i)) {
      ++i;
    } else if (folded[i] >= 'a' && folded[i] <= 'z') {
      folded[i] = static_cast<char>(folded[i] - 'a' + 'A');
    }
  }
  return folded;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads 1 to 8 hex digits at pos.
bool ParseHexNumber(const std::string& text, size_t& pos, DWORD& number) {
  size_t start = pos;
  number = 0;
  while (pos < text.size() && pos - start < 8 && HexDigit(text[pos]) >= 0) {
    number = number * 16 + static_cast<DWORD>(HexDigit(text[pos++]));
  }
  return pos > start;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

// A quoted name or text at pos, with "\\" and "\"" escaped. Double-byte
// characters are taken whole, as regedit reads its files in the ANSI code page.
bool ParseQuoted(const std::string& line, size_t& pos, std::string& text) {
  if (pos >= line.size() || line[pos] != '"') return false;
  for (++pos; pos < line.size();) {
    if (IsLead(line, pos)) {
      text.append(line, pos, 2);
      pos += 2;
      continue;
    }
    char c = line[pos++];
    if (c == '"') return true;
    if (c == '\\') {
      if (pos >= line.size() || (line[pos] != '\\' && line[pos] != '"')) return false;
      c = line[pos++];
    }
    text += c;
  }
  return false;
}

std::string Quote(const std::string& text) {
  std::string quoted = "\"";
  for (size_t i = 0; i < text.size(); ++i) {
    if (IsLead(text, i)) {
      quoted.append(text, i++, 2);
      continue;
    }
    if (text[i] == '\\' || text[i] == '"') quoted += '\\';
    quoted += text[i];
  }
  return quoted + "\"";
}

bool RestIsBlank(const std::string& line, size_t pos) {
  for (; pos < line.size(); ++pos) {
    if (!IsBlank(line[pos])) return false;
  }
  return true;
}

std::string TrimEnd(std::string text) {
  while (!text.empty() && IsBlank(text.back())) text.pop_back();
  return text;
}

// Comma-separated bytes in hex, as in "61,00,ff".
bool ParseHexBytes(const std::string& list, std::string& bytes) {
  size_t pos = 0;
  if (list.empty()) return true;
  while (true) {
    int high = pos < list.size() ? HexDigit(list[pos]) : -1;
    if (high < 0) return false;
    ++pos;
    int value = high;
    int low = pos < list.size() ? HexDigit(list[pos]) : -1;
    if (low >= 0) {
      value = high * 16 + low;
      ++pos;
    }
    bytes += static_cast<char>(value);
    if (pos == list.size()) return true;
    if (list[pos++] != ',') return false;
  }
}

// Data in hex form from pos of lines[index]; a line ending in "\" continues
// on the next. Advances index to the last line used.
bool ParseHexData(const std::vector<std::string>& lines, size_t& index, size_t pos,
                  HiveValue& value) {
  std::string source = TrimEnd(lines[index].substr(pos));
  std::string list;
  size_t typeEnd = 0;
  if (source.compare(0, 4, "hex:") == 0) {
    value.type = REG_BINARY;
    typeEnd = 4;
  } else if (source.compare(0, 4, "hex(") == 0) {
    size_t at = 4;
    if (!ParseHexNumber(source, at, value.type) || source.compare(at, 2, "):") != 0) {
      return false;
    }
    typeEnd = at + 2;
  } else {
    return false;
  }
  std::string piece = source.substr(typeEnd);
  while (!piece.empty() && piece.back() == '\\') {
    piece.pop_back();
    list += TrimEnd(piece);
    if (++index >= lines.size()) return false;
    const std::string next = TrimEnd(lines[index]);
    source += "\n" + next;
    size_t start = 0;
    while (start < next.size() && IsBlank(next[start])) ++start;
    piece = next.substr(start);
  }
  list += piece;
  value.source = source;
  return ParseHexBytes(list, value.data);
}

bool ParseValueData(const std::vector<std::string>& lines, size_t& index, size_t pos,
                    HiveValue& value) {
  const std::string& line = lines[index];
  if (pos < line.size() && line[pos] == '"') {
    std::string text;
    if (!ParseQuoted(line, pos, text) || !RestIsBlank(line, pos)) return false;
    value.type = REG_SZ;
    value.data = text + '\0';
    return true;
  }
  if (line.compare(pos, 6, "dword:") == 0) {
    size_t at = pos + 6;
    DWORD number = 0;
    if (!ParseHexNumber(line, at, number) || !RestIsBlank(line, at)) return false;
    value.type = REG_DWORD;
    for (int shift = 0; shift < 32; shift += 8) {
      value.data += static_cast<char>((number >> shift) & 0xFF);
    }
    value.source = TrimEnd(line.substr(pos));
    return true;
  }
  return ParseHexData(lines, index, pos, value);
}

bool ParseValueLine(const std::vector<std::string>& lines, size_t& index, HiveValue& value) {
  const std::string& line = lines[index];
  size_t pos = 0;
  if (line[0] == '@') {
    pos = 1;
  } else if (!ParseQuoted(line, pos, value.name)) {
    return false;
  }
  while (pos < line.size() && IsBlank(line[pos])) ++pos;
  if (pos >= line.size() || line[pos++] != '=') return false;
  while (pos < line.size() && IsBlank(line[pos])) ++pos;
  return ParseValueData(lines, index, pos, value);
}

bool ParseSectionLine(const std::string& line, std::string& path) {
  if (line.size() < 2 || line.back() != ']') return false;
  const std::string inner = line.substr(1, line.size() - 2);
  const size_t rootLength = sizeof kRootName - 1;
  if (!SameRegistryName(inner.substr(0, rootLength), kRootName)) return false;
  if (inner.size() > rootLength && inner[rootLength] != '\\') return false;
  path = NormalizeKeyPath(inner.substr(rootLength));
  return true;
}

// Text form only for a zero-terminated text that holds no other zero, no
// line break and no dangling lead byte; any other data of a text value is
// kept in hex(1) form.
bool HasTextForm(const HiveValue& value) {
  if (value.type != REG_SZ || value.data.empty() || value.data.back() != '\0') return false;
  const std::string text = value.data.substr(0, value.data.size() - 1);
  return text.find('\0') == std::string::npos && IsStorableName(text);
}

std::string FormatData(const HiveValue& value) {
  if (!value.source.empty()) return value.source;
  if (HasTextForm(value)) return Quote(value.data.substr(0, value.data.size() - 1));
  char number[32];
  if (value.type == REG_DWORD && value.data.size() == 4) {
    DWORD dword = 0;
    for (int i = 3; i >= 0; --i) dword = dword * 256 + static_cast<unsigned char>(value.data[i]);
    snprintf(number, sizeof number, "dword:%08x", static_cast<unsigned>(dword));
    return number;
  }
  std::string text;
  if (value.type == REG_BINARY) {
    text = "hex:";
  } else {
    snprintf(number, sizeof number, "hex(%x):", static_cast<unsigned>(value.type));
    text = number;
  }
  for (size_t i = 0; i < value.data.size(); ++i) {
    snprintf(number, sizeof number, i ? ",%02x" : "%02x",
             static_cast<unsigned char>(value.data[i]));
    text += number;
  }
  return text;
}

void PutParsedValue(HiveKey& key, HiveValue value) {
  for (HiveValue& existing : key.values) {
    if (SameRegistryName(existing.name, value.name)) {
      existing = std::move(value);
      return;
    }
  }
  key.values.push_back(std::move(value));
}

}  // namespace

const HiveValue* HiveKey::FindValue(const std::string& name) const {
  for (const HiveValue& value : values) {
    if (SameRegistryName(value.name, name)) return &value;
  }
  return nullptr;
}

bool HiveKey::SetValue(const std::string& name, DWORD type, std::string data) {
  for (HiveValue& value : values) {
    if (!SameRegistryName(value.name, name)) continue;
    if (value.type == type && value.data == data) return false;
    value.type = type;
    value.data = std::move(data);
    value.source.clear();
    return true;
  }
  values.push_back(HiveValue{name, type, std::move(data), ""});
  return true;
}

bool HiveKey::DeleteValue(const std::string& name) {
  for (auto it = values.begin(); it != values.end(); ++it) {
    if (SameRegistryName(it->name, name)) {
      values.erase(it);
      return true;
    }
  }
  return false;
}

Hive::Hive() : keys_(1) {}

HiveKey* Hive::FindKey(const std::string& path) {
  const std::string folded = FoldCase(NormalizeKeyPath(path));
  for (HiveKey& key : keys_) {
    if (FoldCase(key.path) == folded) return &key;
  }
  return nullptr;
}

const HiveKey* Hive::FindKey(const std::string& path) const {
  return const_cast<Hive*>(this)->FindKey(path);
}

namespace {

// Whether a normalized key path is a single name: no separator in it.
bool IsOneName(const std::string& path) {
  for (size_t i = 0; i < path.size(); i += IsLead(path, i) ? 2 : 1) {
    if (path[i] == '\\') return false;
  }
  return true;
}

}  // namespace

std::vector<std::string> Hive::SubkeyNames(const std::string& path) const {
  const std::string folded = FoldCase(NormalizeKeyPath(path));
  const std::string prefix = folded.empty() ? "" : folded + "\\";
  std::vector<std::string> names;
  for (const HiveKey& key : keys_) {
    const std::string candidate = FoldCase(key.path);
    if (key.path.empty() || candidate.compare(0, prefix.size(), prefix) != 0) continue;
    const std::string rest = key.path.substr(prefix.size());
    if (!rest.empty() && IsOneName(rest)) names.push_back(rest);
  }
  return names;
}

LONG Hive::DeleteKey(const std::string& path) {
  const std::string folded = FoldCase(NormalizeKeyPath(path));
  if (folded.empty()) return ERROR_ACCESS_DENIED;
  for (size_t i = 1; i < keys_.size(); ++i) {
    if (FoldCase(keys_[i].path) != folded) continue;
    if (!SubkeyNames(keys_[i].path).empty()) return ERROR_ACCESS_DENIED;
    keys_.erase(keys_.begin() + static_cast<std::ptrdiff_t>(i));
    return ERROR_SUCCESS;
  }
  return ERROR_FILE_NOT_FOUND;
}

HiveKey& Hive::CreateKey(const std::string& path, bool* created) {
  const std::string normalized = NormalizeKeyPath(path);
  std::string stored;  // the path of the deepest key so far, as stored
  bool added = false;
  size_t start = 0;
  while (start < normalized.size()) {
    size_t end = start;
    while (end < normalized.size() && normalized[end] != '\\') end += IsLead(normalized, end) ? 2 : 1;
    std::string candidate = normalized.substr(start, end - start);
    if (!stored.empty()) candidate = stored + "\\" + candidate;
    if (HiveKey* existing = FindKey(candidate)) {
      stored = existing->path;
      added = false;
    } else {
      keys_.push_back(HiveKey{candidate, {}});
      stored = candidate;
      added = true;
    }
    start = end + 1;
  }
  if (created) *created = added;
  return *FindKey(stored);
}

std::string NormalizeKeyPath(const std::string& path) {
  std::string normalized, part;
  auto flush = [&] {
    if (part.empty()) return;
    if (!normalized.empty()) normalized += '\\';
    normalized += part;
    part.clear();
  };
  for (size_t i = 0; i < path.size(); ++i) {
    if (IsLead(path, i)) {
      part.append(path, i++, 2);
    } else if (path[i] == '\\') {
      flush();
    } else {
      part += path[i];
    }
  }
  flush();
  return normalized;
}

bool IsStorableName(const std::string& name) {
  for (size_t i = 0; i < name.size(); ++i) {
    if (_ismbblead(static_cast<unsigned char>(name[i])) && ++i >= name.size()) return false;
    if (name[i] == '\n' || name[i] == '\r') return false;
  }
  return true;
}

bool SameRegistryName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && FoldCase(a) == FoldCase(b);
}

bool ParseHive(const std::string& text, Hive& hive) {
  hive = Hive();
  const std::vector<std::string> lines = SplitLines(text);
  if (lines.empty() || lines[0] != kHeader) return false;
  std::string section;
  bool inSection = false;
  for (size_t index = 1; index < lines.size(); ++index) {
    const std::string& line = lines[index];
    if (RestIsBlank(line, 0)) continue;
    if (line[0] == '[') {
      if (!ParseSectionLine(line, section)) return false;
      hive.CreateKey(section);
      inSection = true;
      continue;
    }
    HiveValue value;
    if (!inSection || !ParseValueLine(lines, index, value)) return false;
    PutParsedValue(*hive.FindKey(section), std::move(value));
  }
  return true;
}

std::string FormatHive(const Hive& hive) {
  std::string text = std::string(kHeader) + "\n\n";
  for (const HiveKey& key : hive.keys()) {
    if (key.path.empty() && key.values.empty()) continue;
    text += "[";
    text += kRootName;
    if (!key.path.empty()) text += "\\" + key.path;
    text += "]\n";
    for (const HiveValue& value : key.values) {
      text += value.name.empty() ? "@" : Quote(value.name);
      text += "=" + FormatData(value) + "\n";
    }
    text += "\n";
  }
  return text;
}

}  // namespace standin
