#include "install_list/installed_files.h"

#include <string.h>

#include <algorithm>

#include "platform/win32.h"

namespace {

constexpr char kFormatVersion[] = "1";

// What tells the two kinds of file apart, and the entries each holds.
struct Kind {
  const char* title;  // the first line's, before the format version
  const char* description;
  const char* folderKeyword;
  const char* fileKeyword;
};
const Kind kList = {"quorvex installed files", "a list of installed files", "folder", "file"};
const Kind kNote = {"quorvex run in progress", "a note of a run in progress", "folder-before",
                    "file-before"};

const char* OriginWord(FileOrigin origin) {
  return origin == FileOrigin::Installed ? "installed" : "before";
}

bool StartsWith(std::string_view text, std::string_view start) {
  return text.substr(0, start.size()) == start;
}

std::string Hex8(uint32_t value) {
  static const char kHex[] = "0123456789abcdef";
  std::string text(8, '0');
  for (int i = 7; i >= 0; --i, value >>= 4) text[static_cast<size_t>(i)] = kHex[value & 0xF];
  return text;
}

// Decimal digits as written: no sign, no leading zero, no overflow.
bool ParseNumber(std::string_view text, uint64_t& value) {
  if (text.empty() || (text.size() > 1 && text[0] == '0')) return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    if (value > (UINT64_MAX - digit) / 10) return false;
    value = value * 10 + digit;
  }
  return true;
}

bool EqualNoCase(std::string_view text, const char* word) {
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (word[i] == '\0' || c != word[i]) return false;
  }
  return word[text.size()] == '\0';
}

// CON, PRN, AUX, NUL, COM1-9 or LPT1-9, which Windows opens as the device
// whatever the extension or blanks after them.
bool IsDeviceName(std::string_view component) {
  std::string_view stem = component.substr(0, component.find('.'));
  while (!stem.empty() && stem.back() == ' ') stem.remove_suffix(1);
  for (const char* device : {"CON", "PRN", "AUX", "NUL"}) {
    if (EqualNoCase(stem, device)) return true;
  }
  return stem.size() == 4 &&
         (EqualNoCase(stem.substr(0, 3), "COM") || EqualNoCase(stem.substr(0, 3), "LPT")) &&
         stem[3] >= '1' && stem[3] <= '9';
}

// Neither '.' nor ' ' is ever the second byte of a double-byte character.
bool IsPlainComponent(std::string_view component) {
  // Also refuses "." and "..".
  if (component.empty() || component.back() == '.' || component.back() == ' ') return false;
  return !IsDeviceName(component);
}

class Writer {
 public:
  Writer(const Kind& kind, const ListOwner& owner, const std::string& version)
      : text_(std::string(kind.title) + '\t' + kFormatVersion + '\n') {
    Line("product").Text(owner.productGuid).End();
    Line("language").Text(owner.language).End();
    Line("directory").Text(owner.installDirectory).End();
    Line("view").Text(owner.view).End();
    Line("version").Text(version).End();
  }

  Writer& Line(const char* keyword) {
    text_ += keyword;
    return *this;
  }
  Writer& Word(const char* word) {
    text_ += '\t';
    text_ += word;
    return *this;
  }
  Writer& Number(uint64_t number) { return Word(std::to_string(number).c_str()); }
  Writer& Text(const std::string& bytes) { return Word(ListText(bytes).c_str()); }
  void End() {
    text_ += '\n';
    ++lines_;
  }

  // The count of lines after the first, then the checksum of all before it.
  std::string Seal() {
    text_ += "end\t" + std::to_string(lines_) + '\n';
    return text_ + "checksum\t" + Hex8(Crc32(text_)) + '\n';
  }

 private:
  std::string text_;
  size_t lines_ = 0;
};

class Reader {
 public:
  enum Entry { kFolder, kFile, kNone };

  Reader(const Kind& kind, std::string& why) : kind_(kind), why_(why) {}

  // Checks the first line, the checksum and the count of lines; the lines
  // between the first and the count are then read one by one.
  bool Open(std::string_view text) {
    const size_t firstEnd = text.find('\n');
    if (!ReadFirstLine(text.substr(0, firstEnd), firstEnd == std::string_view::npos)) return false;
    if (firstEnd == std::string_view::npos || text.back() != '\n') return Fail("is cut short");

    const size_t checksumStart = text.rfind('\n', text.size() - 2) + 1;
    if (checksumStart <= firstEnd) return Fail("is cut short");
    const std::string_view checksum = text.substr(checksumStart, text.size() - 1 - checksumStart);
    if (!StartsWith(checksum, "checksum\t")) {
      if (text.substr(0, checksumStart).find("\nchecksum\t") != std::string_view::npos) {
        return Fail("has more after its checksum");
      }
      return Fail("is cut short");
    }
    if (checksum.substr(9) != Hex8(Crc32(text.substr(0, checksumStart)))) {
      return Fail("fails its checksum");
    }

    if (checksumStart - 1 == firstEnd) return Fail("is cut short");
    const size_t endStart = text.rfind('\n', checksumStart - 2) + 1;
    const std::string_view end = text.substr(endStart, checksumStart - 1 - endStart);
    uint64_t count = 0;
    if (!StartsWith(end, "end\t") || !ParseNumber(end.substr(4), count)) {
      return Fail("is cut short");
    }
    rest_ = text.substr(firstEnd + 1, endStart - firstEnd - 1);
    if (count != static_cast<uint64_t>(std::count(rest_.begin(), rest_.end(), '\n'))) {
      return Fail("does not hold as many lines as it counts");
    }
    return true;
  }

  bool ReadOwner(ListOwner& owner, std::string& version) {
    if (!ReadHeader("product", owner.productGuid) || !ReadHeader("language", owner.language) ||
        !ReadHeader("directory", owner.installDirectory) || !ReadHeader("view", owner.view) ||
        !ReadHeader("version", version)) {
      return false;
    }
    if (owner.view != "32" && owner.view != "64" && owner.view != "native") {
      return Fail("names an unknown registry view: " + ListText(owner.view));
    }
    return true;
  }

  // Moves to the next line; false after the last.
  bool Next() {
    if (rest_.empty()) return false;
    const size_t end = rest_.find('\n');
    line_ = rest_.substr(0, end);
    rest_.remove_prefix(end + 1);
    ++lineNumber_;
    return true;
  }

  // Which entry the line is; kNone, and why, when it is none of its kind's
  // or comes before entries of another that it should follow.
  Entry ReadEntry() {
    const std::string_view keyword = line_.substr(0, line_.find('\t'));
    const Entry entry = keyword == kind_.folderKeyword ? kFolder
                        : keyword == kind_.fileKeyword ? kFile
                                                       : kNone;
    if (entry == kNone) {
      Fail("has an unknown entry on line " + std::to_string(lineNumber_));
      return kNone;
    }
    if (entry < lastEntry_) {
      Fail("has its entries out of order on line " + std::to_string(lineNumber_));
      return kNone;
    }
    lastEntry_ = entry;
    return entry;
  }

  // The line's fields after its keyword, the last holding the rest.
  bool Split(std::string_view* fields, size_t count) {
    std::string_view rest = line_;
    for (size_t i = 0; i <= count; ++i) {
      const size_t tab = i < count ? rest.find('\t') : rest.size();
      if (tab == std::string_view::npos) return Malformed();
      if (i > 0) fields[i - 1] = rest.substr(0, tab);
      rest.remove_prefix(std::min(tab + 1, rest.size()));
    }
    return true;
  }

  bool ReadText(std::string_view field, std::string& bytes) {
    switch (ReadListText(std::string(field), bytes)) {
      case ListTextRead::Read:
        return true;
      case ListTextRead::Malformed:
        return Fail("has malformed text on line " + std::to_string(lineNumber_));
      case ListTextRead::NotInCodePage:
        break;
    }
    return Fail("names a character the ANSI code page lacks on line " +
                std::to_string(lineNumber_));
  }

  bool ReadNumber(std::string_view field, uint64_t& value) {
    if (ParseNumber(field, value)) return true;
    return Fail("has a malformed number on line " + std::to_string(lineNumber_));
  }

  bool ReadOrigin(std::string_view field, FileOrigin& origin) {
    for (FileOrigin known : {FileOrigin::Installed, FileOrigin::ThereBefore}) {
      if (field == OriginWord(known)) {
        origin = known;
        return true;
      }
    }
    return Malformed();
  }

  // A plain relative path after previous, the entry before it of its kind.
  bool ReadPath(std::string_view field, const std::string* previous, std::string& path) {
    if (!ReadText(field, path)) return false;
    if (!IsPlainRelativePath(path)) {
      return Fail("names a path outside the install directory: " + std::string(field));
    }
    if (previous && *previous == path) return Fail("names a path twice: " + std::string(field));
    if (previous && path < *previous) {
      return Fail("has its paths out of order on line " + std::to_string(lineNumber_));
    }
    return true;
  }

  // Reads an entry that is only a path into paths, which it must follow.
  bool ReadPathEntry(std::vector<std::string>& paths) {
    std::string_view field;
    std::string path;
    if (!Split(&field, 1) || !ReadPath(field, paths.empty() ? nullptr : &paths.back(), path)) {
      return false;
    }
    paths.push_back(std::move(path));
    return true;
  }

 private:
  bool Fail(std::string why) {
    why_ = std::move(why);
    return false;
  }
  bool Malformed() { return Fail("has a malformed entry on line " + std::to_string(lineNumber_)); }

  // The kind and the format version; all of the text when it has no line end.
  bool ReadFirstLine(std::string_view first, bool last) {
    const std::string title = std::string(kind_.title) + '\t';
    if (last && StartsWith(title + kFormatVersion, first)) return Fail("is cut short");
    if (!StartsWith(first, title)) {
      const Kind& other = &kind_ == &kList ? kNote : kList;
      if (StartsWith(first, std::string(other.title) + '\t')) {
        return Fail(std::string("is ") + other.description + ", not " + kind_.description);
      }
      return Fail(std::string("does not begin as ") + kind_.description);
    }
    const std::string_view formatVersion = first.substr(title.size());
    uint64_t number = 0;
    if (formatVersion == kFormatVersion) return true;
    if (ParseNumber(formatVersion, number)) return Fail("is of another format version");
    return Fail(std::string("does not begin as ") + kind_.description);
  }

  bool ReadHeader(const char* keyword, std::string& value) {
    std::string_view field;
    if (!Next() || line_.substr(0, line_.find('\t')) != keyword) {
      return Fail(std::string("lacks its ") + keyword + " line");
    }
    return Split(&field, 1) && ReadText(field, value);
  }

  const Kind& kind_;
  std::string& why_;
  std::string_view rest_;  // the lines not yet read
  std::string_view line_;
  size_t lineNumber_ = 1;
  Entry lastEntry_ = kFolder;
};

}  // namespace

std::string FormatInstalledFileList(const InstalledFileList& list) {
  Writer writer(kList, list.owner, list.version);
  for (const std::string& folder : list.createdFolders) {
    writer.Line(kList.folderKeyword).Text(folder).End();
  }
  for (const InstalledFile& file : list.files) {
    const FileIdentity& destination = file.destination;
    writer.Line(kList.fileKeyword)
        .Word(OriginWord(file.origin))
        .Number(file.sourceSize)
        .Number(file.sourceLastWriteTime)
        .Number(destination.size)
        .Number(destination.lastWriteTime)
        .Number(destination.changeTime)
        .Number(destination.fileId)
        .Number(destination.volume)
        .Text(file.path)
        .End();
  }
  return writer.Seal();
}

std::string FormatRunNote(const RunNote& note) {
  Writer writer(kNote, note.owner, note.version);
  for (const std::string& folder : note.foldersBefore) {
    writer.Line(kNote.folderKeyword).Text(folder).End();
  }
  for (const std::string& file : note.filesBefore) writer.Line(kNote.fileKeyword).Text(file).End();
  return writer.Seal();
}

bool ParseInstalledFileList(const std::string& text, InstalledFileList& result, std::string& why) {
  InstalledFileList list;
  Reader reader(kList, why);
  if (!reader.Open(text) || !reader.ReadOwner(list.owner, list.version)) return false;
  while (reader.Next()) {
    const Reader::Entry entry = reader.ReadEntry();
    if (entry == Reader::kNone) return false;
    if (entry == Reader::kFolder) {
      if (!reader.ReadPathEntry(list.createdFolders)) return false;
      continue;
    }
    InstalledFile file;
    FileIdentity& destination = file.destination;
    std::string_view fields[9];
    if (!reader.Split(fields, 9) || !reader.ReadOrigin(fields[0], file.origin) ||
        !reader.ReadNumber(fields[1], file.sourceSize) ||
        !reader.ReadNumber(fields[2], file.sourceLastWriteTime) ||
        !reader.ReadNumber(fields[3], destination.size) ||
        !reader.ReadNumber(fields[4], destination.lastWriteTime) ||
        !reader.ReadNumber(fields[5], destination.changeTime) ||
        !reader.ReadNumber(fields[6], destination.fileId) ||
        !reader.ReadNumber(fields[7], destination.volume) ||
        !reader.ReadPath(fields[8], list.files.empty() ? nullptr : &list.files.back().path,
                         file.path)) {
      return false;
    }
    list.files.push_back(std::move(file));
  }
  result = std::move(list);
  return true;
}

bool ParseRunNote(const std::string& text, RunNote& result, std::string& why) {
  RunNote note;
  Reader reader(kNote, why);
  if (!reader.Open(text) || !reader.ReadOwner(note.owner, note.version)) return false;
  while (reader.Next()) {
    const Reader::Entry entry = reader.ReadEntry();
    if (entry == Reader::kNone ||
        !reader.ReadPathEntry(entry == Reader::kFolder ? note.foldersBefore : note.filesBefore)) {
      return false;
    }
  }
  result = std::move(note);
  return true;
}

bool IsPlainRelativePath(const std::string& path) {
  if (path.empty()) return false;
  size_t start = 0;
  bool secondByte = false;
  for (size_t i = 0; i < path.size(); ++i) {
    const auto byte = static_cast<unsigned char>(path[i]);
    // None of these is ever the second byte of a double-byte character.
    if (byte < 0x20 || byte == 0x7F || byte == '/' || byte == ':') return false;
    if (secondByte) {
      secondByte = false;
    } else if (byte >= 0x80) {
      secondByte = _ismbblead(byte) != 0;
    } else if (strchr("*?\"<>|", byte)) {
      return false;  // wildcards and what no Windows name holds
    } else if (byte == '\\') {
      if (!IsPlainComponent(std::string_view(path).substr(start, i - start))) return false;
      start = i + 1;
    }
  }
  // A lead byte without its second byte is no name.
  return !secondByte && IsPlainComponent(std::string_view(path).substr(start));
}

const InstalledFile* FindInstalledFile(const std::vector<InstalledFile>& files,
                                       const std::string& path) {
  const auto found = std::lower_bound(
      files.begin(), files.end(), path,
      [](const InstalledFile& file, const std::string& wanted) { return file.path < wanted; });
  return found != files.end() && found->path == path ? &*found : nullptr;
}

bool ContainsPath(const std::vector<std::string>& sortedPaths, const std::string& path) {
  return std::binary_search(sortedPaths.begin(), sortedPaths.end(), path);
}
