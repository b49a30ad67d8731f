// QuorvexKit's check on real kits: the real Win32 calls under Wine, the
// stand-in file layer natively.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "kit/check/check.h"
#include "kit/report/report_output.h"
#include "platform/scoped_handle.h"
#include "platform/win32.h"
#include "support/kit.h"

using testing_support::HostPath;
using testing_support::Kit;
using testing_support::WriteFile;

namespace {

const char kSeparator = static_cast<char>(fs::path::preferred_separator);
const char kCleanSettings[] =
    "[Product]\n"
    "ProductGUID={0B6E2F41-7C3A-4D95-8E1B-5A7F9C2D4E63}\n"
    "Language=en\n"
    "ManualVersion=3.0.2\n"
    "MessageDisplay=0\n"
    "Product=Quillmark\n";

// A finding's path: "SRC" and the parts, with the platform's separator.
std::string SourcePath(const std::vector<std::string>& parts) {
  std::string path = "SRC";
  for (const std::string& part : parts) path += kSeparator + part;
  return path;
}

std::string Describe(const kit::Report& report) {
  std::string text;
  for (const kit::Finding& f : report.findings) {
    text += f.severity + " " + f.code + " " + f.path + ": " + f.message + "\n";
  }
  return text;
}

std::vector<kit::Finding> FindingsOf(const kit::Report& report, const std::string& code) {
  std::vector<kit::Finding> found;
  for (const kit::Finding& f : report.findings) {
    if (f.code == code) found.push_back(f);
  }
  return found;
}

std::vector<std::string> PathsOf(const kit::Report& report, const std::string& code) {
  std::vector<std::string> paths;
  for (const kit::Finding& f : FindingsOf(report, code)) paths.push_back(f.path);
  return paths;
}

std::string Field(const std::vector<kit::Field>& fields, const std::string& name) {
  for (const kit::Field& field : fields) {
    if (field.name == name) return field.value;
  }
  return "(none)";
}

// A file whose name is exactly these bytes, made through the ANSI calls.
void CreateNamedFile(const fs::path& folder, const std::string& name) {
  fs::create_directories(folder);
  const std::string path = HostPath(folder.string()) + kSeparator + name;
  ScopedHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(file.IsValid()) << path;
}

void SetWriteTime(const fs::path& path, const FILETIME& time) {
  ScopedHandle file(CreateFileA(HostPath(path.string()).c_str(), GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(file.IsValid()) << path;
  ASSERT_TRUE(SetFileTime(file.Get(), nullptr, nullptr, &time)) << path;
}

bool MakeLink(const fs::path& link, const std::string& target, bool folder) {
#ifdef _WIN32
  const DWORD flags = (folder ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0) |
                      SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE;
  // Wine reports success and makes no link.
  const std::string path = HostPath(link.string());
  return CreateSymbolicLinkA(path.c_str(), target.c_str(), flags) != 0 &&
         GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
#else
  std::error_code error;
  if (folder) {
    fs::create_directory_symlink(target, link, error);
  } else {
    fs::create_symlink(target, link, error);
  }
  return !error;
#endif
}

class KitCheck : public ::testing::Test {
 protected:
  void SetUp() override { kit_.WriteSettings(kCleanSettings); }

  // The clean manual: three files, two folders, 14 bytes.
  void AddCleanManual() {
    kit_.AddSourceFile("index.html", "<html>");
    kit_.AddSourceFile("guide/a.html", "abc");
    kit_.AddSourceFile("guide/img/b.png", "12345");
  }

  kit::Report Check(const std::string& installDir = "", int codePage = 0) {
    kit::CheckOptions options;
    options.installDir = installDir;
    options.codePage = codePage;
    return kit::RunCheck(HostPath(kit_.kitFolder().string()), options);
  }

  Kit kit_;
};

TEST_F(KitCheck, CleanKitReportsNothing) {
  AddCleanManual();
  const kit::Report report = Check();
  EXPECT_TRUE(report.findings.empty()) << Describe(report);
  EXPECT_EQ(report.exitCode, 0);
  EXPECT_EQ(report.verb, "check");
  EXPECT_EQ(Field(report.settings, "manualVersion"), "3.0.2");
  EXPECT_EQ(Field(report.settings, "messageDisplay"), "0");
  EXPECT_EQ(Field(report.summary, "fileCount"), "3");
  EXPECT_EQ(Field(report.summary, "folderCount"), "2");
  EXPECT_EQ(Field(report.summary, "byteCount"), "14");
  EXPECT_EQ(Field(report.summary, "installDir"), "C:\\Program Files (x86)\\Quillmark\\");
  // guide\img\b.png (15 bytes) bounds it: 243 + "\" + 15 = 259.
  EXPECT_EQ(Field(report.summary, "longestInstallDir"), "243");
}

// The longest install directory stated is exact: one byte more and the
// deepest file no longer fits.
TEST_F(KitCheck, PathLengthsAgainstMaxPath) {
  AddCleanManual();
  const std::string longest = "C:\\" + std::string(240, 'd');
  const kit::Report fits = Check(longest);
  EXPECT_TRUE(FindingsOf(fits, "path-too-long").empty()) << Describe(fits);
  EXPECT_EQ(fits.exitCode, 0) << Describe(fits);
  // The temporary copy's short name fits wherever the file does.
  EXPECT_TRUE(PathsOf(fits, "partial-path-too-long").empty()) << Describe(fits);

  const kit::Report over = Check(longest + "d\\");
  EXPECT_EQ(PathsOf(over, "path-too-long"),
            (std::vector<std::string>{SourcePath({"guide", "img", "b.png"})}))
      << Describe(over);
  EXPECT_EQ(over.exitCode, 1);

  // A folder's listing pattern (folder\*.*) reaches the limit before its files do.
  kit_.AddSourceFile("guide/img/deeper/c", "");
  const kit::Report pattern = Check(longest);
  EXPECT_EQ(PathsOf(pattern, "path-too-long"),
            (std::vector<std::string>{SourcePath({"guide", "img", "deeper"}),
                                      SourcePath({"guide", "img", "deeper", "c"})}))
      << Describe(pattern);
}

// Where the kit is now, a deep SRC folder cannot be listed, whatever the
// install directory.
TEST_F(KitCheck, SourceSidePathTooLong) {
  const std::string deep = std::string(100, 'd') + "/" + std::string(100, 'e') + "/" + std::string(40, 'f');
  std::error_code error;
  fs::create_directories(kit_.sourceFolder() / deep, error);
  if (error) GTEST_SKIP() << "this file system takes no path that long: " << error.message();
  kit_.AddSourceFile("index.html", "x");
  const kit::Report report = Check("C:\\M");
  const std::vector<kit::Finding> tooLong = FindingsOf(report, "path-too-long");
  ASSERT_EQ(tooLong.size(), 1u) << Describe(report);
  EXPECT_EQ(tooLong[0].path.rfind(SourcePath({std::string(100, 'd')}), 0), 0u) << tooLong[0].path;
  EXPECT_NE(tooLong[0].message.find("where the kit is now"), std::string::npos);
  EXPECT_EQ(report.exitCode, 1);
  EXPECT_LT(std::stol(Field(report.summary, "longestKitDir")),
            static_cast<long>(HostPath(kit_.kitFolder().string()).size()));
}

TEST_F(KitCheck, MissingOrEmptySource) {
  const kit::Report missing = Check();
  EXPECT_EQ(PathsOf(missing, "no-src"), std::vector<std::string>{"SRC"}) << Describe(missing);
  EXPECT_EQ(missing.exitCode, 1);

  fs::create_directories(kit_.sourceFolder() / "guide" / "img");
  const kit::Report empty = Check();
  EXPECT_EQ(PathsOf(empty, "empty-src"), std::vector<std::string>{"SRC"}) << Describe(empty);
  EXPECT_TRUE(FindingsOf(empty, "no-src").empty());
  EXPECT_EQ(empty.exitCode, 1);
}

// UTF-8 names from a Linux build machine, and names of one code page only.
// Names are judged as the text they are: natively read as UTF-8, as Linux
// file systems hold them; on Windows as the system lists them. Bytes that
// are no such text are judged byte by byte.
TEST_F(KitCheck, NamesOutsideTheCodePages) {
  kit_.AddSourceFile("index.html", "x");
  CreateNamedFile(kit_.sourceFolder(), "\xC4\x81.html");         // UTF-8 a with macron
  CreateNamedFile(kit_.sourceFolder(), "caf\xE9.html");          // e acute in 1252
  CreateNamedFile(kit_.sourceFolder(), "r\xC3\xA9sum\xC3\xA9");  // UTF-8 e acute
  const std::string macron = SourcePath({"\xC4\x81.html"});
  const std::string cafe = SourcePath({"caf\xE9.html"});
  const std::string resume = SourcePath({"r\xC3\xA9sum\xC3\xA9"});

  const kit::Report japanese = Check("", 932);
  EXPECT_EQ(PathsOf(japanese, "not-in-code-page"), (std::vector<std::string>{cafe, resume, macron}))
      << Describe(japanese);
  EXPECT_EQ(japanese.exitCode, 1);
#ifdef _WIN32
  // Listed in code page 1252, the UTF-8 bytes are other characters.
  EXPECT_EQ(PathsOf(Check(), "utf8-name"), (std::vector<std::string>{resume, macron}));
#else
  const kit::Report both = Check();
  EXPECT_EQ(PathsOf(both, "not-in-code-page"),
            (std::vector<std::string>{cafe, resume, macron, macron}))
      << Describe(both);
  const std::vector<kit::Finding> found = FindingsOf(both, "not-in-code-page");
  // 1252 holds the first two: they install on Western Windows.
  EXPECT_EQ(found[0].severity, "warning");
  EXPECT_NE(found[0].message.find("is not valid text (from byte 0xE9 at offset 3): it cannot be "
                                  "installed on Japanese Windows (code page 932)"),
            std::string::npos) << found[0].message;
  EXPECT_EQ(found[1].severity, "warning");
  EXPECT_NE(found[1].message.find("holds U+00E9: it cannot be installed on Japanese Windows"),
            std::string::npos) << found[1].message;
  EXPECT_EQ(found[2].severity, "error");
  EXPECT_EQ(found[3].severity, "error");
  EXPECT_TRUE(FindingsOf(both, "utf8-name").empty()) << Describe(both);
  // Code page 1252 holds e acute, not a with macron.
  EXPECT_EQ(PathsOf(Check("", 1252), "not-in-code-page"), std::vector<std::string>{macron});
  // Japanese, Greek and Cyrillic text is held by 932, none of it by 1252.
  CreateNamedFile(kit_.sourceFolder() / "more", "\xE6\x97\xA5\xE6\x9C\xAC.html");  // "日本"
  CreateNamedFile(kit_.sourceFolder() / "more", "\xD0\x9F\xCE\xB1.html");            // "Пα"
  const kit::Report texts = Check();
  for (const kit::Finding& finding : FindingsOf(texts, "not-in-code-page")) {
    if (finding.path.rfind(SourcePath({"more"}), 0) != 0) continue;
    EXPECT_NE(finding.message.find("code page 1252"), std::string::npos) << finding.message;
  }
#endif
}

// By default names are judged in both code pages: a name that one of them
// cannot hold still installs on the other's Windows (a warning that says
// where it cannot), one that neither holds installs nowhere. --codepage
// makes the one named count.
TEST_F(KitCheck, CodePagesByDefaultAndByChoice) {
  kit_.AddSourceFile("index.html", "x");
  struct Row {
    const char* name;  // UTF-8
    // The severities of not-in-code-page, by default, with --codepage 932
    // and with --codepage 1252.
    const char* both;
    const char* japanese;
    const char* western;
    const char* where;  // said by default
  };
  const Row rows[] = {
      {"Caf\xC3\xA9 notes.txt", "warning", "error", "", "on Japanese Windows (code page 932)"},
      {"\xE6\x97\xA5\xE6\x9C\xAC.html", "warning", "", "error",  // "日本"
       "on Western Windows (code page 1252)"},
      {"\xC4\x81.html", "error error", "error", "error", "on Japanese Windows"},  // a with macron
      {"plain.html", "", "", "", ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const fs::path file = kit_.sourceFolder() / fs::u8path(row.name);
    WriteFile(file, "x");
    const std::pair<int, const char*> runs[] = {
        {0, row.both}, {932, row.japanese}, {1252, row.western}};
    for (const auto& [codePage, expected] : runs) {
      SCOPED_TRACE(codePage);
      const kit::Report report = Check("", codePage);
      const std::vector<kit::Finding> found = FindingsOf(report, "not-in-code-page");
      std::string severities;
      for (const kit::Finding& finding : found) {
        severities += (severities.empty() ? "" : " ") + finding.severity;
      }
      EXPECT_EQ(severities, expected) << Describe(report);
#ifdef _WIN32
      // The tests' Wine runs in code page 1252: what it cannot hold does not
      // open here either.
      const bool unreadableHere = *row.western != '\0';
#else
      const bool unreadableHere = false;
#endif
      const bool error = severities.find("error") != std::string::npos || unreadableHere;
      EXPECT_EQ(report.exitCode, error ? 1 : 0) << Describe(report);
      if (codePage == 0 && *row.where) {
        ASSERT_FALSE(found.empty());
        EXPECT_NE(found[0].message.find(std::string("cannot be installed ") + row.where),
                  std::string::npos) << found[0].message;
      }
    }
    fs::remove(file);
  }
}

#ifdef _WIN32
// A character the ANSI code page lacks lists as "?": no such file opens.
TEST_F(KitCheck, NameTheCodePageCannotHold) {
  kit_.AddSourceFile("index.html", "x");
  WriteFile(kit_.sourceFolder() / fs::path(L"\u3042.html"), "x");
  const kit::Report report = Check();
#ifdef _WIN32
  // Listed in code page 1252 as "?.html", seen as it is through the wide
  // listing: 932 holds it, 1252 does not.
  const std::vector<kit::Finding> outside = FindingsOf(report, "not-in-code-page");
  ASSERT_EQ(outside.size(), 1u) << Describe(report);
  EXPECT_NE(outside[0].message.find("holds U+3042: it cannot be installed on Western Windows"),
            std::string::npos) << outside[0].message;
  EXPECT_EQ(outside[0].severity, "warning");
  EXPECT_TRUE(FindingsOf(report, "invalid-name").empty()) << Describe(report);
#else
  EXPECT_EQ(PathsOf(report, "invalid-name"), std::vector<std::string>{SourcePath({"?.html"})})
      << Describe(report);
#endif
}
#else
std::vector<std::string> Sorted(std::vector<std::string> texts) {
  std::sort(texts.begin(), texts.end());
  return texts;
}

// Names that only a POSIX file system takes.
TEST_F(KitCheck, NamesWindowsRefuses) {
  const std::vector<std::string> refused = {
      "a:b.html", "what?.html", "tab\t.html", "pipe|", "back\\slash", "dot.",  "blank ",
      "nul.txt",  "COM1",       "Lpt9.log",   "aux .tar.gz"};
  const std::vector<std::string> taken = {"COM0.txt", "COM10", "console.html", "nul_.txt", ".hidden",
                                          "~$a.html", "GUIDE~1.HTML", "LONGNAME~1.TXT", "A~.TXT"};
  // Taken, but may be another file's short name (Windows' and Wine's shapes).
  const std::vector<std::string> shortShaped = {"GUIDE~1.HTM", "gu1a2b~1.htm", "GUID~K2B",
                                                "AB~~~XYZ.C"};
  std::vector<std::string> expected, expectedShort;
  for (const std::string& name : refused) {
    kit_.AddSourceFile(name, "x");
    expected.push_back(SourcePath({name}));
  }
  for (const std::string& name : taken) kit_.AddSourceFile(name, "x");
  for (const std::string& name : shortShaped) {
    kit_.AddSourceFile(name, "x");
    expectedShort.push_back(SourcePath({name}));
  }
  const kit::Report report = Check();
  EXPECT_EQ(Sorted(PathsOf(report, "invalid-name")), Sorted(expected)) << Describe(report);
  EXPECT_EQ(Sorted(PathsOf(report, "short-name-shape")), Sorted(expectedShort)) << Describe(report);
  EXPECT_EQ(report.exitCode, 1);
}

// A "\" that is the second byte of a code page 932 character is no separator there.
TEST_F(KitCheck, DoubleByteNameReadInEachCodePage) {
  kit_.AddSourceFile("\x95\x5C.html", "x");  // a kanji in 932
  const kit::Report report = Check();
  const std::vector<kit::Finding> invalid = FindingsOf(report, "invalid-name");
  ASSERT_EQ(invalid.size(), 1u) << Describe(report);
  EXPECT_NE(invalid[0].message.find("code page 1252"), std::string::npos) << invalid[0].message;
  EXPECT_TRUE(FindingsOf(Check("", 932), "invalid-name").empty());
}

TEST_F(KitCheck, CaseCollisions) {
  for (const char* name : {"Index.html", "index.html", "\xC9t\xE9", "\xE9t\xE9",
                           "\x82\x60.txt", "\x82\x81.txt", "\x83\x41", "\x83\x61"}) {
    kit_.AddSourceFile(name, "x");
  }
  kit_.AddSourceFile("guide/Index.html", "x");  // another folder: no collision
  const kit::Report report = Check();
  // "\x83\x61" and "\x83\x41" are two katakana in 932, but "fa" and "fA" in 1252.
  EXPECT_EQ(Sorted(PathsOf(report, "case-collision")),
            Sorted({SourcePath({"index.html"}), SourcePath({"\x82\x81.txt"}),
                    SourcePath({"\x83\x61"}), SourcePath({"\xE9t\xE9"})}))
      << Describe(report);
  // Latin-1 letters fold in 1252 only, full-width ones in 932 only.
  EXPECT_EQ(Sorted(PathsOf(Check("", 932), "case-collision")),
            Sorted({SourcePath({"index.html"}), SourcePath({"\x82\x81.txt"})}));
  EXPECT_EQ(Sorted(PathsOf(Check("", 1252), "case-collision")),
            Sorted({SourcePath({"index.html"}), SourcePath({"\x83\x61"}), SourcePath({"\xE9t\xE9"})}));
}
#endif

// Links are reported and not followed: a loop ends.
TEST_F(KitCheck, LinksInSource) {
  kit_.AddSourceFile("guide/a.html", "x");
  fs::create_directories(kit_.sourceFolder() / "other");
  if (!MakeLink(kit_.sourceFolder() / "guide" / "loop", "..", true) ||
      !MakeLink(kit_.sourceFolder() / "guide" / "alias.html", "a.html", false) ||
      !MakeLink(kit_.sourceFolder() / "guide" / "gone.html", "nothing-here.html", false) ||
      !MakeLink(kit_.sourceFolder() / "guide" / "here", "../other", true)) {
    GTEST_SKIP() << "no symbolic links here";
  }
  const kit::Report report = Check();
  // A link is copied as what it leads to: a warning. One that leads round
  // to a folder holding it, or nowhere, fails the installer: an error that
  // names its target.
  EXPECT_EQ(PathsOf(report, "link-in-src"),
            (std::vector<std::string>{SourcePath({"guide", "alias.html"}),
                                      SourcePath({"guide", "here"})}))
      << Describe(report);
  const std::vector<kit::Finding> loops = FindingsOf(report, "link-loop");
  ASSERT_EQ(loops.size(), 1u) << Describe(report);
  EXPECT_EQ(loops[0].path, SourcePath({"guide", "loop"}));
  EXPECT_NE(loops[0].message.find("a link to .., a folder that holds the link itself"),
            std::string::npos) << loops[0].message;
  const std::vector<kit::Finding> broken = FindingsOf(report, "broken-link");
  ASSERT_EQ(broken.size(), 1u) << Describe(report);
  EXPECT_NE(broken[0].message.find("a link to nothing-here.html, which names nothing"),
            std::string::npos) << broken[0].message;
  EXPECT_TRUE(FindingsOf(report, "unreadable-file").empty()) << Describe(report);
  EXPECT_EQ(report.exitCode, 1) << Describe(report);
  EXPECT_EQ(Field(report.summary, "linkCount"), "4");

  // The text lists the first few links and counts the rest; --verbose all.
  for (int n = 0; n < 5; ++n) {
    ASSERT_TRUE(MakeLink(kit_.sourceFolder() / "other" / ("l" + std::to_string(n) + ".html"),
                         "../guide/a.html", false));
  }
  const kit::Report many = Check();
  const std::string brief = kit::TextReport(many);
  const std::string verbose = kit::TextReport(many, {true, false});
  const auto lines = [](const std::string& text) { return std::count(text.begin(), text.end(), '\n'); };
  EXPECT_EQ(lines(verbose) - lines(brief), 3) << brief;
  EXPECT_NE(brief.find("warning link-in-src: 4 more links (7 in all; --verbose lists every one)"),
            std::string::npos) << brief;
}

TEST_F(KitCheck, FileStampedInTheFuture) {
  kit_.AddSourceFile("index.html", "x");
  kit_.AddSourceFile("later.html", "x");
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  const uint64_t twoDays = 2ull * 86400 * 10000000;
  const uint64_t later = ((static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime) + twoDays;
  SetWriteTime(kit_.sourceFolder() / "later.html",
               FILETIME{static_cast<DWORD>(later), static_cast<DWORD>(later >> 32)});
  const kit::Report report = Check();
  EXPECT_EQ(PathsOf(report, "future-time"), std::vector<std::string>{SourcePath({"later.html"})})
      << Describe(report);
  EXPECT_EQ(report.exitCode, 0);
}

// Versions are judged, and shown, by the installer's own reading.
TEST_F(KitCheck, VersionsAsTheInstallerReadsThem) {
  kit_.AddSourceFile("index.html", "x");
  struct Row {
    const char* version;
    const char* code;  // "" for none
    const char* shown;
  };
  const Row rows[] = {
      {"v2.1", "version-not-dotted-numbers", "reads it as 0.1"},
      {"2.1-beta", "version-not-dotted-numbers", "reads it as 2.1"},
      {"2..1", "version-not-dotted-numbers", "reads it as 2.0.1"},
      {"", "version-not-dotted-numbers", "reads it as 0"},
      {"1.", "version-not-dotted-numbers", "reads it as 1"},
      {".5", "version-not-dotted-numbers", "reads it as 0.5"},
      {"3.0.2", "", ""},
      {"2147483647.0.1", "", ""},
      {"1.2.3.4.5", "version-not-system-version", "5 components"},
      {"2147483648.1", "version-not-system-version", "over 2147483647"},
      {"200000", "version-not-system-version", "one number"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string("ManualVersion=") + row.version);
    kit_.WriteSettings(std::string("[Product]\nManualVersion=") + row.version + "\nMessageDisplay=1\n");
    const kit::Report report = Check();
    std::vector<kit::Finding> versions;
    for (const kit::Finding& f : report.findings) {
      if (f.code.rfind("version-", 0) == 0) versions.push_back(f);
    }
    if (!*row.code) {
      EXPECT_TRUE(versions.empty()) << Describe(report);
      continue;
    }
    ASSERT_EQ(versions.size(), 1u) << Describe(report);
    EXPECT_EQ(versions[0].code, row.code);
    EXPECT_EQ(versions[0].path, "Quorvex.ini");
    EXPECT_NE(versions[0].message.find(row.shown), std::string::npos) << versions[0].message;
    EXPECT_EQ(report.exitCode, versions[0].severity == "error" ? 1 : 0);
  }
}

TEST_F(KitCheck, SettingsTheInstallerReadsOtherwise) {
  kit_.AddSourceFile("index.html", "x");
  const std::string own = "ProductGUID={0B6E2F41-7C3A-4D95-8E1B-5A7F9C2D4E63}\nProduct=Quillmark\n";
  const std::string longProduct(5000, 'p');
  kit_.WriteSettings("[Product]\nManualVersion=1.0\nMessageDisplay=yes\nProduct=" + longProduct +
                     "\nProductGUID={0B6E2F41-7C3A-4D95-8E1B-5A7F9C2D4E63}\n");
  const kit::Report report = Check("C:\\M");
  EXPECT_EQ(Field(report.settings, "product"), longProduct.substr(0, 254));
  const std::vector<kit::Finding> cut = FindingsOf(report, "value-cut");
  ASSERT_EQ(cut.size(), 1u) << Describe(report);
  EXPECT_NE(cut[0].message.find("Product is 5000 bytes"), std::string::npos) << cut[0].message;
  const std::vector<kit::Finding> display = FindingsOf(report, "message-display");
  ASSERT_EQ(display.size(), 1u) << Describe(report);
  EXPECT_NE(display[0].message.find("reads it as 0"), std::string::npos) << display[0].message;
  EXPECT_EQ(report.exitCode, 0) << Describe(report);

  kit_.WriteSettings("[Product]\nManualVersion=1.0\nMessageDisplay=2\n" + own);
  EXPECT_EQ(FindingsOf(Check(), "message-display").size(), 1u);
  kit_.WriteSettings("[Product]\nManualVersion=1.0\nMessageDisplay=1\n" + own);
  EXPECT_TRUE(Check().findings.empty()) << Describe(Check());

  // What blocks every later version (a typo in a key or the section, no
  // ManualVersion, a file Windows cannot read) is an error naming what it
  // saw; what Windows reads otherwise than an editor shows is a warning
  // saying what Windows does.
  const std::u16string own16(own.begin(), own.end());
  const auto utf16 = [](const std::u16string& text, bool bigEndian) {
    std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (char16_t c : text) {
      const char low = static_cast<char>(c & 0xFF), high = static_cast<char>(c >> 8);
      bytes += bigEndian ? std::string{high, low} : std::string{low, high};
    }
    return bytes;
  };
  struct Row {
    std::string ini;
    const char* code;
    const char* said;
    const char* severity;
  };
  const Row rows[] = {
      {"[Product]\nManualVerison=2.0.1\n" + own, "settings-unknown-key",
       "\"ManualVerison\", which the installer does not read, probably meant as ManualVersion",
       "error"},
      {"[Prodcut]\nManualVersion=2.0.1\n" + own, "settings-unknown-section",
       "[Prodcut] is not read by the installer, probably meant as [Product]", "error"},
      {"[Prodcut]\nManualVersion=2.0.1\n" + own, "settings-no-product-section", "100000", "error"},
      {"[product]\nMessageDisplay=0\n" + own, "version-missing", "records ManualVersion 100000",
       "error"},
      // The sample's values left as shipped: its version blocks every later one.
      {"[Product]\nManualVersion=100000\n" + own, "sample-setting",
       "ManualVersion is the sample's 100000: the installer records ManualVersion 100000", "error"},
      {"[Product]\nManualVersion= 100000 \n" + own, "sample-setting",
       "ManualVersion is the sample's 100000", "error"},
      {"[Product]\nManualVersion=2.0.1\nProductGUID={5E1C7A20-3B9D-4C6F-A2E8-91D04B7F3C65}\n"
       "Product=Quillmark\n", "sample-setting",
       "ProductGUID is the sample's {5E1C7A20-3B9D-4C6F-A2E8-91D04B7F3C65}", "warning"},
      {"[Product]\nManualVersion=2.0.1\nProductGUID={0B6E2F41-7C3A-4D95-8E1B-5A7F9C2D4E63}\n"
       "Product=Orvinel\n", "sample-setting", "Product is the sample's \"Orvinel\"", "warning"},
      {"[Product]\nManualVersion=2.0.1\nColour=blue\n" + own, "settings-unknown-key",
       "\"Colour\", which the installer does not read", "error"},
      {"[Product]\nManualVersion=2.0.1\nRemoveOldFile=1\n" + own, "settings-unknown-key",
       "probably meant as RemoveOldFiles", "error"},
      {"\xEF\xBB\xBF[Product]\r\nManualVersion=2.0.1\r\n" + own, "settings-utf8-mark",
       "mark on the line of [Product]", "error"},
      {utf16(u"[Product]\r\nManualVersion=2.0.1\r\n" + own16, true), "settings-utf16-be",
       "UTF-16 BE, which Windows does not read", "error"},
      {utf16(u"[Product]\r\nManualVersion=2.0.1\r\n" + own16, false) + "A",
       "settings-encoding-invalid", "not valid UTF-16 LE", "error"},
      {"\xEF\xBB\xBF; settings\r\n[Product]\r\nManualVersion=2.0.1\r\n" + own,
       "settings-utf8-mark", "reads its sections as ANSI", "warning"},
      {"[Product\nManualVersion=2.0.1\n" + own, "settings-header-unclosed",
       "Windows still reads it as [Product]", "warning"},
      {"[Product] ; ours\nManualVersion=2.0.1\n" + own, "settings-text-after-header",
       "\"; ours\", which Windows ignores", "warning"},
      {"[Product]Language=ja\nManualVersion=2.0.1\n" + own, "settings-key-on-header-line",
       "that key is not read", "warning"},
      {"[Product]\nManualVersion=2.0.1\n" + own + "[Product]\nLanguage=ja\n",
       "settings-second-section", "(line 5): only the first is read", "warning"},
      {"[Product]\nManualVersion=2.0.1\nmanualversion=3.0\n" + own, "settings-duplicate-key",
       "manualversion is set again on line 3: the first value counts", "warning"},
      {utf16(u"[Product]\r\nManualVersion=2.0.1\r\nLanguage=\u4E00\r\n" + own16, false),
       "settings-character-not-in-code-page", "Windows shows \"?\" or a look-alike", "warning"},
  };
#ifndef _WIN32
  // The stand-in's ANSI code page is the locale's: Windows-1252 here.
  setenv("LC_ALL", "en_US.ISO-8859-1", 1);
#endif
  for (const Row& row : rows) {
    SCOPED_TRACE(row.ini);
    kit_.WriteSettings(row.ini);
    const kit::Report checked = Check();
    const std::vector<kit::Finding> found = FindingsOf(checked, row.code);
    ASSERT_EQ(found.size(), 1u) << Describe(checked);
    EXPECT_EQ(found[0].severity, row.severity);
    EXPECT_NE(found[0].message.find(row.said), std::string::npos) << found[0].message;
    const bool error = std::string(row.severity) == "error";
    EXPECT_EQ(checked.exitCode, error ? 1 : 0) << Describe(checked);
    EXPECT_TRUE(FindingsOf(checked, "version-not-system-version").empty()) << Describe(checked);
    // A version the file does not set is said once, not again as the sample's.
    if (std::string(row.code) != "sample-setting") {
      EXPECT_EQ(Describe(checked).find("ManualVersion is the sample's"), std::string::npos)
          << Describe(checked);
    }
    // A section that the mark hides is said once, as the mark.
    if (row.ini.compare(0, 3, "\xEF\xBB\xBF") == 0) {
      EXPECT_TRUE(FindingsOf(checked, "settings-no-product-section").empty()) << Describe(checked);
    }
  }
#ifndef _WIN32
  unsetenv("LC_ALL");
#endif
  EXPECT_EQ(Field(Check().settings, "settingsEncoding"), "UTF-16 LE");
  kit_.WriteSettings("[Product]\nManualVersion=2.0.1\n" + own);
  EXPECT_EQ(Field(Check().settings, "settingsEncoding"), "ANSI");

  fs::remove(kit_.kitFolder() / "Quorvex.ini");
  EXPECT_EQ(PathsOf(Check(), "no-settings"), std::vector<std::string>{"Quorvex.ini"});
  EXPECT_EQ(Check().exitCode, 1);
}

}  // namespace
