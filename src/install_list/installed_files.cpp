#include "install_list/installed_files.h"

#include <string.h>

#include <algorithm>
#include <utility>

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

// Writes a file's lines to a sink in pieces of about 64 KB, with the count
// of lines and the checksum of everything before it at the end.
class Writer {
 public:
  Writer(const Kind& kind, const ListOwner& owner, const std::string& version,
         const TextSink& sink)
      : sink_(sink), text_(std::string(kind.title) + '\t' + kFormatVersion + '\n') {
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
    if (text_.size() >= kPiece) Pass();
  }

  // The count of lines after the first, then the checksum of all before it.
  bool Seal() {
    text_ += "end\t" + std::to_string(lines_) + '\n';
    crc_ = Crc32(text_, crc_);
    text_ += "checksum\t" + Hex8(crc_) + '\n';
    written_ = written_ && sink_(text_);
    return written_;
  }

 private:
  static constexpr size_t kPiece = 64 * 1024;

  void Pass() {
    crc_ = Crc32(text_, crc_);
    written_ = written_ && sink_(text_);
    text_.clear();
  }

  TextSink sink_;
  std::string text_;
  uint32_t crc_ = 0;
  size_t lines_ = 0;
  bool written_ = true;
};

// The lines of a text read in pieces, each without its line end, and the
// checksum of the bytes before the line last returned.
class Lines {
 public:
  explicit Lines(const TextSource& source) : source_(source) {}

  // False at the end; terminated tells whether the line had its line end.
  bool Next(std::string_view& line, bool& terminated) {
    crc_ = Crc32(std::string_view(buffer_).substr(0, taken_), crc_);
    buffer_.erase(0, taken_);
    taken_ = 0;
    size_t end = buffer_.find('\n');
    while (end == std::string::npos && !ended_) {
      const size_t searched = buffer_.size();
      ended_ = !source_(piece_);
      buffer_ += piece_;
      end = buffer_.find('\n', searched);
    }
    if (buffer_.empty()) return false;
    terminated = end != std::string::npos;
    taken_ = terminated ? end + 1 : buffer_.size();
    line = std::string_view(buffer_).substr(0, terminated ? end : buffer_.size());
    return true;
  }
  uint32_t CrcBefore() const { return crc_; }

 private:
  const TextSource& source_;
  std::string buffer_, piece_;
  size_t taken_ = 0;
  uint32_t crc_ = 0;
  bool ended_ = false;
};

const char* const kHeaders[] = {"product", "language", "directory", "view", "version"};

class Reader {
 public:
  enum Entry { kFolder, kFile, kNone };

  Reader(const Kind& kind, std::string& why) : kind_(kind), why_(why) {}

  // Reads source: its first line, then each line between it and the count
  // of lines to content (which reads the line that Take set), then the
  // count and the checksum. What is wrong with the file as a whole is told
  // before what is wrong with a line.
  bool Parse(const TextSource& source, ListOwner& owner, std::string& version,
             const std::function<bool()>& entry) {
    // The header lines first, then the entries.
    const auto content = [&] {
      bool owned = false;
      if (!ReadOwner(owner, version, owned)) return false;
      return !owned || entry();
    };
    Lines lines(source);
    std::string_view line;
    bool terminated = false;
    if (!lines.Next(line, terminated)) return Fail("is cut short");
    if (!ReadFirstLine(line, !terminated)) return false;
    if (!terminated) return Fail("is cut short");
    // The last two lines are held back: they may be the count and the checksum.
    std::string last, beforeLast;
    size_t held = 0, count = 0;
    bool checksumBefore = false, contentFailed = false;
    uint32_t crcBeforeLast = 0;
    std::string contentWhy;
    while (lines.Next(line, terminated)) {
      if (!terminated) return Fail("is cut short");
      if (held == 2) {
        checksumBefore = checksumBefore || StartsWith(beforeLast, "checksum\t");
        if (!contentFailed) {
          Take(beforeLast);
          contentFailed = !content();
          if (contentFailed) contentWhy = why_;
        }
        ++count;
      }
      beforeLast = std::move(last);
      last.assign(line.data(), line.size());
      crcBeforeLast = lines.CrcBefore();
      held = std::min<size_t>(held + 1, 2);
    }
    if (held == 0) return Fail("is cut short");
    if (!StartsWith(last, "checksum\t")) {
      const bool earlier = checksumBefore || (held == 2 && StartsWith(beforeLast, "checksum\t"));
      return Fail(earlier ? "has more after its checksum" : "is cut short");
    }
    if (last.substr(9) != Hex8(crcBeforeLast)) return Fail("fails its checksum");
    uint64_t counted = 0;
    if (held < 2 || !StartsWith(beforeLast, "end\t") ||
        !ParseNumber(std::string_view(beforeLast).substr(4), counted)) {
      return Fail("is cut short");
    }
    if (counted != count) return Fail("does not hold as many lines as it counts");
    if (contentFailed) return Fail(contentWhy);
    if (headers_ < 5) return Fail(std::string("lacks its ") + kHeaders[headers_] + " line");
    return true;
  }

  // Reads a header line, the first five after the first; true once they
  // are read.
  bool ReadOwner(ListOwner& owner, std::string& version, bool& done) {
    done = headers_ == 5;
    if (done) return true;
    std::string* const values[] = {&owner.productGuid, &owner.language, &owner.installDirectory,
                                   &owner.view, &version};
    if (!ReadHeader(kHeaders[headers_], *values[headers_])) return false;
    if (++headers_ == 5 && owner.view != "32" && owner.view != "64" && owner.view != "native") {
      return Fail("names an unknown registry view: " + ListText(owner.view));
    }
    return true;
  }

  void Take(std::string_view line) {
    line_ = line;
    ++lineNumber_;
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
    if (line_.substr(0, line_.find('\t')) != keyword) {
      return Fail(std::string("lacks its ") + keyword + " line");
    }
    return Split(&field, 1) && ReadText(field, value);
  }

  const Kind& kind_;
  std::string& why_;
  std::string_view line_;
  size_t headers_ = 0;  // header lines read
  size_t lineNumber_ = 1;
  Entry lastEntry_ = kFolder;
};

}  // namespace

bool WriteInstalledFileList(const InstalledFileList& list, const TextSink& sink) {
  Writer writer(kList, list.owner, list.version, sink);
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

namespace {

// What write passes to its sink, as one text.
std::string Collected(const std::function<bool(const TextSink&)>& write) {
  std::string text;
  write([&](std::string_view piece) {
    text += piece;
    return true;
  });
  return text;
}

}  // namespace

std::string FormatInstalledFileList(const InstalledFileList& list) {
  return Collected([&](const TextSink& sink) { return WriteInstalledFileList(list, sink); });
}

bool WriteRunNote(const RunNote& note, const TextSink& sink) {
  Writer writer(kNote, note.owner, note.version, sink);
  for (const std::string& folder : note.foldersBefore) {
    writer.Line(kNote.folderKeyword).Text(folder).End();
  }
  for (const std::string& file : note.filesBefore) writer.Line(kNote.fileKeyword).Text(file).End();
  return writer.Seal();
}

std::string FormatRunNote(const RunNote& note) {
  return Collected([&](const TextSink& sink) { return WriteRunNote(note, sink); });
}

namespace {

TextSource WholeText(const std::string& text) {
  return [&text, given = false](std::string& piece) mutable {
    piece = given ? std::string() : text;
    return !std::exchange(given, true);
  };
}

}  // namespace

bool ReadInstalledFileList(const TextSource& source, InstalledFileList& result, std::string& why) {
  return ReadInstalledFileList(source, result, why, nullptr);
}

bool ReadInstalledFileList(const TextSource& source, InstalledFileList& result, std::string& why,
                           const std::function<void(InstalledFile&&)>& each) {
  InstalledFileList list;
  std::string previous;
  Reader reader(kList, why);
  const auto content = [&] {
    const Reader::Entry entry = reader.ReadEntry();
    if (entry == Reader::kNone) return false;
    if (entry == Reader::kFolder) return reader.ReadPathEntry(list.createdFolders);
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
        !reader.ReadPath(fields[8], previous.empty() ? nullptr : &previous, file.path)) {
      return false;
    }
    previous = file.path;
    if (each) {
      each(std::move(file));
    } else {
      list.files.push_back(std::move(file));
    }
    return true;
  };
  if (!reader.Parse(source, list.owner, list.version, content)) return false;
  result = std::move(list);
  return true;
}

bool ParseInstalledFileList(const std::string& text, InstalledFileList& list, std::string& why) {
  return ReadInstalledFileList(WholeText(text), list, why);
}

bool ParseRunNote(const std::string& text, RunNote& result, std::string& why) {
  RunNote note;
  Reader reader(kNote, why);
  const auto content = [&] {
    const Reader::Entry entry = reader.ReadEntry();
    return entry != Reader::kNone &&
           reader.ReadPathEntry(entry == Reader::kFolder ? note.foldersBefore : note.filesBefore);
  };
  if (!reader.Parse(WholeText(text), note.owner, note.version, content)) return false;
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

const InstalledFile* FindInstalledFile(const std::deque<InstalledFile>& files,
                                       const std::string& path) {
  const auto found = std::lower_bound(
      files.begin(), files.end(), path,
      [](const InstalledFile& file, const std::string& wanted) { return file.path < wanted; });
  return found != files.end() && found->path == path ? &*found : nullptr;
}

bool ContainsPath(const std::vector<std::string>& sortedPaths, const std::string& path) {
  return std::binary_search(sortedPaths.begin(), sortedPaths.end(), path);
}

uint64_t PathHash(const std::string& path) {
  uint64_t hash = 14695981039346656037ull;
  for (char c : path) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  return hash;
}
