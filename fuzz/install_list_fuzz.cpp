// The readers of the list of installed files and of the run-in-progress
// note over any bytes, as they stand and sealed with their checksum, in
// UTF-8, in the Japanese and in a Western code page: whatever they accept
// names only plain relative paths, in order, and formats into the very same
// bytes. Any bytes written as a list's text read back as themselves.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "install_list/installed_files.h"
#include "platform/win32.h"

namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

void CheckPaths(const std::vector<std::string>& paths) {
  for (size_t i = 0; i < paths.size(); ++i) {
    Check(IsPlainRelativePath(paths[i]));
    Check(i == 0 || paths[i - 1] < paths[i]);
  }
}

void CheckList(const std::string& text) {
  InstalledFileList list;
  std::string why;
  if (!ParseInstalledFileList(text, list, why)) {
    Check(!why.empty());
    return;
  }
  Check(FormatInstalledFileList(list) == text);
  std::vector<std::string> paths;
  for (const InstalledFile& file : list.files) {
    paths.push_back(file.path);
    Check(FindInstalledFile(list.files, file.path) == &file);
  }
  CheckPaths(paths);
  CheckPaths(list.createdFolders);
}

void CheckNote(const std::string& text) {
  RunNote note;
  std::string why;
  if (!ParseRunNote(text, note, why)) {
    Check(!why.empty());
    return;
  }
  Check(FormatRunNote(note) == text);
  CheckPaths(note.filesBefore);
  CheckPaths(note.foldersBefore);
}

// text with a checksum line that fits it.
std::string Sealed(const std::string& text) {
  static const char kHex[] = "0123456789abcdef";
  std::string checksum;
  for (uint32_t crc = Crc32(text), shift = 32; shift > 0; shift -= 4) {
    checksum += kHex[(crc >> (shift - 4)) & 0xF];
  }
  return text + "checksum\t" + checksum + "\n";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::string sealed = Sealed(text);
  // The stand-in's ANSI code page follows the locale; the runtime's with it.
  for (const char* locale : {"C.UTF-8", "ja_JP.SJIS", "C"}) {
    setenv("LC_ALL", locale, 1);
    if (_setmbcp(_MB_CP_ANSI) != 0) __builtin_trap();
    for (const std::string* candidate : {&text, &sealed}) {
      CheckList(*candidate);
      CheckNote(*candidate);
    }
    // A short piece: text that is no text of the code page asks the system
    // byte by byte.
    const std::string piece = text.substr(0, 64);
    std::string bytes;
    Check(ReadListText(ListText(piece), bytes) == ListTextRead::Read && bytes == piece);
  }
  return 0;
}
