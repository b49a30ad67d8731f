#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "install_list/installed_files.h"
#include "paths/paths.h"
#include "text/text_encoding.h"
#include "platform/win32.h"
#include "support/kit.h"

#ifdef _WIN32
#include <sddl.h>

#include "platform/win32/link_trust.h"
#include "platform/win32/reparse_target.h"
#endif

namespace {

// Switches the runtime to the Japanese code page for one test.
class Cp932 : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(_setmbcp(932), 0); }
  void TearDown() override { _setmbcp(_MB_CP_ANSI); }
};

std::string WithSeparator(std::string path) {
  EnsureTrailingSeparator(path);
  return path;
}

TEST(EnsureTrailingSeparator, AppendsOnlyWhenMissing) {
  EXPECT_EQ(WithSeparator(""), "\\");
  EXPECT_EQ(WithSeparator("C:\\Docs"), "C:\\Docs\\");
  EXPECT_EQ(WithSeparator("C:\\Docs\\"), "C:\\Docs\\");
  EXPECT_EQ(WithSeparator("C:/Docs/"), "C:/Docs/");
  EXPECT_EQ(WithSeparator("/opt/orvinel"), "/opt/orvinel\\");
}

// Names, messages and links' texts from outside go into one line of a log.
TEST(VisibleUtf8, ControlCharactersAreWrittenOut) {
  const struct {
    const char* text;
    const char* visible;
  } rows[] = {
      {"plain text, caf\xC3\xA9", "plain text, caf\xC3\xA9"},
      {"a\r\nb\tc", "a\\x0D\\x0Ab\\x09c"},
      {"del\x7F", "del\\x7F"},
      {"next line \xC2\x85, C1 \xC2\x9B, not C1 \xC2\xA0", "next line \\u0085, C1 \\u009B, not C1 \xC2\xA0"},
      {"\xE2\x80\xA8line\xE2\x80\xA9paragraph \xE2\x80\xA6", "\\u2028line\\u2029paragraph \xE2\x80\xA6"},
      {"cut \xC2", "cut \xC2"},
  };
  for (const auto& row : rows) EXPECT_EQ(VisibleUtf8(row.text), row.visible) << row.text;
}

TEST(LastCharacter, SingleByteTexts) {
  EXPECT_EQ(LastCharacter(""), 0);
  EXPECT_EQ(LastCharacter("a"), 'a');
  EXPECT_EQ(LastCharacter("C:\\"), '\\');
}

TEST_F(Cp932, SecondByteBackslashIsNotASeparator) {
  // "表" is 0x95 0x5C in code page 932.
  const std::string folder = "C:\\\x95\x5C";
  EXPECT_EQ(LastCharacter(folder.c_str()), 0x955C);
  EXPECT_EQ(WithSeparator(folder), folder + "\\");
  // A real separator after a double-byte character still counts.
  EXPECT_EQ(WithSeparator(folder + "\\"), folder + "\\");
  // A dangling lead byte before the end is never a separator.
  EXPECT_EQ(WithSeparator("abc\x81"), "abc\x81\\");
}

TEST_F(Cp932, WalkSkipsTrailBytesOfEveryCharacter) {
  // "ソ\" : 0x83 0x5C then a real backslash, then "ソ" again.
  EXPECT_EQ(LastCharacter("\x83\x5C\\\x83\x5C"), 0x835C);
  EXPECT_EQ(LastCharacter("\x83\x5C\\"), '\\');
}

TEST(FoldersAlong, EveryFolderFromTheTopWithoutRootsOrShares) {
  using Folders = std::vector<std::string>;
  EXPECT_EQ(FoldersAlong("C:\\Orvinel\\docs\\"), (Folders{"C:\\Orvinel", "C:\\Orvinel\\docs"}));
  EXPECT_EQ(FoldersAlong("C:\\Orvinel/docs"), (Folders{"C:\\Orvinel", "C:\\Orvinel/docs"}));
  EXPECT_EQ(FoldersAlong("C:\\"), Folders{});
  EXPECT_EQ(FoldersAlong("\\\\server\\share\\manual\\"), Folders{"\\\\server\\share\\manual"});
  EXPECT_EQ(FoldersAlong("/srv/public/manual"), (Folders{"/srv", "/srv/public", "/srv/public/manual"}));
  EXPECT_EQ(FoldersAlong("manual\\"), Folders{"manual"});
}

#ifdef _WIN32
// Which folders are links: a name-surrogate reparse point, as the handle
// shows it; where the handle shows no reparse point (Wine's Unix links),
// the name's attributes.
TEST(FoldersAlong, OnlyNameSurrogatesAreLinks) {
  const DWORD reparse = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
  const DWORD folder = FILE_ATTRIBUTE_DIRECTORY;
  struct Row {
    const char* what;
    bool handleRead;
    DWORD handle, tag, named;
    bool link;
  };
  const Row rows[] = {
      {"a junction", true, reparse, IO_REPARSE_TAG_MOUNT_POINT, reparse, true},
      {"a symbolic link", true, reparse, IO_REPARSE_TAG_SYMLINK, reparse, true},
      {"a OneDrive folder (cloud files)", true, reparse, 0x9000601A, reparse, false},
      {"a deduplicated folder", true, reparse, IO_REPARSE_TAG_DEDUP, reparse, false},
      {"Wine: a Unix link, a reparse point by name only", true, folder, 0, reparse, true},
      {"a plain folder", true, folder, 0, folder, false},
      {"a handle that cannot be asked, a reparse point by name", false, 0, 0, reparse, true},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(IsLinkFolder(row.handleRead, row.handle, row.tag, row.named), row.link) << row.what;
  }
}

// Whether a link on the way may be followed, from the descriptors of the
// link and of its folder, as Windows would give them.
// A newer installed page is kept, and an existing log appended to, only
// where the owner is one that no standard user can be: a page planted in a
// folder where Users may create files (an administrator's folder under
// C:\ProgramData gives them that, and CREATOR OWNER full control of what
// they make, as observed) is owned by its planter. The log may also be the
// running account's own.
TEST(FoldersAlong, OnlyAdministratorsOwnPagesThatAreKept) {
  const std::string user = "S-1-5-21-1004336348-1177238915-682003330-1001";
  const struct {
    const char* what;
    std::string descriptor;
    bool trusted;
  } rows[] = {
      {"a page the installer wrote as SYSTEM", "O:SYD:(A;ID;FA;;;SY)(A;ID;FA;;;BA)", true},
      {"a page an elevated administrator wrote", "O:BAD:(A;ID;FA;;;BA)", true},
      {"a system file", "O:S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464D:", true},
      {"a page a user planted under C:\\ProgramData",
       "O:" + user + "D:(A;ID;FA;;;" + user + ")(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;0x1200a9;;;BU)",
       false},
      {"a page whose owner the descriptor does not give", "D:(A;;FA;;;BA)", false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(
        row.descriptor.c_str(), SDDL_REVISION_1, &descriptor, nullptr));
    EXPECT_EQ(WhyOwnerIsNotTrusted(descriptor, false).empty(), row.trusted);
    EXPECT_EQ(WhyOwnerIsNotTrusted(descriptor, true).empty(), row.trusted);
    LocalFree(descriptor);
  }
  // An existing log may also be the running account's; on a share, what a
  // run as SYSTEM made there is the computer account's.
  const std::string computer = "S-1-5-21-1004336348-1177238915-682003330-1105";
  const struct {
    const char* what;
    std::string owner;
    const char* running;
    bool trusted;
  } logs[] = {
      {"the running administrator's own log", "O:" + user + "D:", user.c_str(), true},
      {"another user's log", "O:" + user + "D:", "S-1-5-21-1004336348-1177238915-682003330-1002",
       false},
      {"SYSTEM's log on a share", "O:" + computer + "D:", "S-1-5-18", true},
      {"NETWORK SERVICE's log on a share", "O:" + computer + "D:", "S-1-5-20", true},
      {"the computer's file, run as a user", "O:" + computer + "D:", user.c_str(), false},
  };
  PSID computerSid = nullptr;
  ASSERT_TRUE(ConvertStringSidToSidA(computer.c_str(), &computerSid));
  for (const auto& row : logs) {
    SCOPED_TRACE(row.what);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PSID running = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(
        row.owner.c_str(), SDDL_REVISION_1, &descriptor, nullptr));
    ASSERT_TRUE(ConvertStringSidToSidA(row.running, &running));
    EXPECT_EQ(WhyOwnerIsNotTrusted(descriptor, running, computerSid).empty(), row.trusted);
    EXPECT_FALSE(WhyOwnerIsNotTrusted(descriptor, nullptr, nullptr).empty());
    LocalFree(running);
    LocalFree(descriptor);
  }
  LocalFree(computerSid);
}

TEST(FoldersAlong, LinksAreFollowedOnlyWhereNoOtherAccountCanChangeThem) {
  const std::string ti = "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
  const std::string user = "S-1-5-21-1004336348-1177238915-682003330-1001";
  const std::string drive =
      "O:SYD:PAI(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICIIO;GA;;;CO)(A;OICI;0x1200a9;;;BU)"
      "(A;CI;LC;;;AU)(A;OICIIO;SDGXGWGR;;;AU)";
  const std::string programFiles =
      "O:" + ti + "D:PAI(A;;FA;;;" + ti + ")(A;CIIO;GA;;;" + ti + ")(A;;0x1301bf;;;SY)"
      "(A;OICIIO;GA;;;SY)(A;;0x1301bf;;;BA)(A;OICIIO;GA;;;BA)(A;;0x1200a9;;;BU)"
      "(A;OICIIO;GXGR;;;BU)(A;OICIIO;GA;;;CO)(A;;0x1200a9;;;AC)(A;OICIIO;GXGR;;;AC)";
  const std::string adminOnly = "O:BAD:(A;;FA;;;BA)(A;;FA;;;SY)";
  struct Row {
    const char* what;
    std::string link, parent;
    const char* refusal;  // the start of the reason, or "" when followed
  };
  const Row rows[] = {
      {"made by an administrator under C:\\, inheriting its Modify for Authenticated Users",
       "O:BAD:AI(A;OICIID;FA;;;BA)(A;OICIID;FA;;;SY)(A;OICIIOID;GA;;;CO)(A;OICIID;0x1200a9;;;BU)"
       "(A;ID;0x1301bf;;;AU)(A;OICIIOID;SDGXGWGR;;;AU)",
       drive, "that other accounts may change"},
      {"Program Files itself, under C:\\", programFiles, drive, ""},
      {"in Program Files, made by an administrator", adminOnly, programFiles, ""},
      {"owned by a user", "O:" + user + "D:(A;;FA;;;" + user + ")", adminOnly,
       "whose owner is not"},
      {"owned by a user, granting nobody READ_CONTROL", "O:" + user + "D:P", adminOnly,
       "whose owner is not"},
      {"owned by Administrators, granting nobody anything", "O:BAD:P", adminOnly, ""},
      {"an inherit-only entry for Authenticated Users", "O:BAD:(A;;FA;;;BA)(A;OICIIO;FA;;;AU)",
       adminOnly, ""},
      {"a deny entry before an allow, both ignored and counted", "O:BAD:(D;;FA;;;AU)(A;;FA;;;AU)",
       adminOnly, "that other accounts may change"},
      // Wine's SDDL reader makes "D:NO_ACCESS_CONTROL" an empty DACL: built below.
      {"a NULL DACL", "", adminOnly, "that other accounts may change"},
      {"generic write for Users", "O:BAD:(A;;FA;;;BA)(A;;GW;;;BU)", adminOnly,
       "that other accounts may change"},
      {"Authenticated Users may add folders to the parent only", adminOnly,
       "O:BAD:(A;;FA;;;BA)(A;;0x4;;;AU)", ""},
      {"Authenticated Users may delete entries of the parent", adminOnly,
       "O:BAD:(A;;FA;;;BA)(A;;0x40;;;AU)", "in a folder where other accounts may delete"},
      {"the parent's permissions may be changed by Users", adminOnly,
       "O:BAD:(A;;FA;;;BA)(A;;WD;;;BU)", "in a folder where other accounts may delete"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    PSECURITY_DESCRIPTOR link = nullptr, parent = nullptr;
    SECURITY_DESCRIPTOR nullDacl;
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof administrators;
    if (row.link.empty()) {
      ASSERT_TRUE(CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &sidSize));
      ASSERT_TRUE(InitializeSecurityDescriptor(&nullDacl, SECURITY_DESCRIPTOR_REVISION));
      ASSERT_TRUE(SetSecurityDescriptorOwner(&nullDacl, administrators, FALSE));
      ASSERT_TRUE(SetSecurityDescriptorDacl(&nullDacl, TRUE, nullptr, FALSE));
      ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA("O:BA", SDDL_REVISION_1,
                                                                      &link, nullptr));
    } else {
      ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(
          row.link.c_str(), SDDL_REVISION_1, &link, nullptr));
    }
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(
        row.parent.c_str(), SDDL_REVISION_1, &parent, nullptr));
    const std::string why = WhyLinkIsNotFollowed(row.link.empty() ? &nullDacl : link, parent);
    EXPECT_EQ(why.substr(0, strlen(row.refusal)), row.refusal) << why;
    EXPECT_EQ(why.empty(), *row.refusal == '\0') << why;
    LocalFree(link);
    LocalFree(parent);
  }
}

// Reparse data as NTFS gives it: the substitute name, then the print
// name, each ending in a null that its length leaves out.
std::vector<BYTE> ReparseData(ULONG tag, const std::wstring& substitute, ULONG flags = 0) {
  const bool symlink = tag == IO_REPARSE_TAG_SYMLINK;
  const std::wstring print = substitute.compare(0, 4, L"\\??\\") == 0 ? substitute.substr(4)
                                                                       : substitute;
  const size_t pathBuffer = symlink ? 20 : 16;
  const USHORT substituteBytes = static_cast<USHORT>(substitute.size() * sizeof(WCHAR));
  const USHORT printBytes = static_cast<USHORT>(print.size() * sizeof(WCHAR));
  std::vector<BYTE> data(pathBuffer + substituteBytes + printBytes + 2 * sizeof(WCHAR));
  const USHORT fields[] = {static_cast<USHORT>(data.size() - 8), 0, 0, substituteBytes,
                           static_cast<USHORT>(substituteBytes + sizeof(WCHAR)), printBytes};
  memcpy(data.data(), &tag, sizeof tag);
  memcpy(data.data() + 4, fields, sizeof fields);
  if (symlink) memcpy(data.data() + 16, &flags, sizeof flags);
  memcpy(data.data() + pathBuffer, substitute.data(), substituteBytes);
  memcpy(data.data() + pathBuffer + substituteBytes + sizeof(WCHAR), print.data(), printBytes);
  return data;
}

// Where a link that may be followed leads: the top of a volume and the
// folders below it, walked to by the same rule; what cannot be walked to on
// this computer is refused.
TEST(FoldersAlong, LinksLeadToTheirTargetsFromTheTopOfTheirVolume) {
  const ULONG junction = IO_REPARSE_TAG_MOUNT_POINT, symlink = IO_REPARSE_TAG_SYMLINK;
  const ULONG relative = 1;  // SYMLINK_FLAG_RELATIVE
  const std::wstring volume = L"Volume{0b1c2d3e-4f50-6172-8394-a5b6c7d8e9f0}";
  const std::wstring local = L"\\\\?\\C:\\Program Files\\Orvinel\\";
  const std::wstring share = L"\\\\?\\UNC\\server\\share\\manual\\";
  std::vector<BYTE> cut = ReparseData(junction, L"\\??\\D:\\Manuals");
  cut.resize(cut.size() - 10);
  std::vector<BYTE> outside = ReparseData(junction, L"\\??\\D:\\Manuals");
  outside[8] = 0x40;  // the substitute name's offset, past the data
  std::vector<BYTE> oddLength = ReparseData(junction, L"\\??\\D:\\Manuals");
  oddLength[10] = 3;
  struct Row {
    const char* what;
    std::vector<BYTE> data;
    std::wstring linkFolder;
    const char* target;   // the top and the names, or "" when refused
    const char* refusal;  // the start of the reason
  };
  const Row rows[] = {
      {"a junction to another disk", ReparseData(junction, L"\\??\\D:\\x"), local, "D:\\x", ""},
      {"a junction spelled with a final separator",
       ReparseData(junction, L"\\??\\d:\\Manuals\\Orvinel\\"), local, "d:\\Manuals\\Orvinel", ""},
      {"a junction to a drive's top", ReparseData(junction, L"\\??\\D:\\"), local, "D:\\", ""},
      {"a volume mounted in a folder", ReparseData(junction, L"\\??\\" + volume + L"\\"), local,
       "\\\\?\\Volume{0b1c2d3e-4f50-6172-8394-a5b6c7d8e9f0}\\", ""},
      {"a junction into a volume without a drive",
       ReparseData(junction, L"\\??\\" + volume + L"\\x\\y"), local,
       "\\\\?\\Volume{0b1c2d3e-4f50-6172-8394-a5b6c7d8e9f0}\\x\\y", ""},
      {"an absolute symbolic link", ReparseData(symlink, L"\\??\\E:\\docs\\en"), local,
       "E:\\docs\\en", ""},
      {"a relative symbolic link to a neighbour", ReparseData(symlink, L"..\\other", relative),
       local, "C:\\Program Files\\other", ""},
      {"a relative symbolic link below", ReparseData(symlink, L"sub\\dir", relative), local,
       "C:\\Program Files\\Orvinel\\sub\\dir", ""},
      {"a relative symbolic link with . and ..", ReparseData(symlink, L".\\a\\..\\b", relative),
       local, "C:\\Program Files\\Orvinel\\b", ""},
      {"a relative symbolic link to its drive's top", ReparseData(symlink, L"..\\..", relative),
       L"C:\\Program Files\\Orvinel\\", "C:\\", ""},
      {"a relative symbolic link from its drive's top", ReparseData(symlink, L"\\shared", relative),
       local, "C:\\shared", ""},
      {"a relative symbolic link within a share", ReparseData(symlink, L"..\\other", relative),
       share, "\\\\server\\share\\other", ""},
      {"a relative symbolic link above its drive's top",
       ReparseData(symlink, L"..\\..\\..\\x", relative), local, "", "whose target lies above"},
      {"a junction to a share", ReparseData(junction, L"\\??\\UNC\\server\\share\\x"), local, "",
       "whose target is on another computer"},
      {"a share's junction to one of its computer's drives",
       ReparseData(junction, L"\\??\\C:\\x"), share, "", "whose target is on another computer"},
      {"a symbolic link to a device's path", ReparseData(symlink, L"\\Device\\HarddiskVolume2\\x"),
       local, "", "whose target names no drive or volume"},
      {"an absolute target with ..", ReparseData(junction, L"\\??\\D:\\x\\..\\y"), local, "",
       "whose target cannot be read"},
      {"an absolute target with an empty name", ReparseData(junction, L"\\??\\D:\\x\\\\y"), local,
       "", "whose target cannot be read"},
      {"a drive without its top", ReparseData(junction, L"\\??\\D:x"), local, "",
       "whose target cannot be read"},
      {"a volume's name that is no GUID", ReparseData(junction, L"\\??\\Volume{..\\x}\\"), local,
       "", "whose target cannot be read"},
      {"an empty name", ReparseData(junction, L""), local, "", "whose target cannot be read"},
      {"a buffer cut in its name", cut, local, "", "whose target cannot be read"},
      {"a buffer cut in its header", std::vector<BYTE>(cut.begin(), cut.begin() + 6), local, "",
       "whose target cannot be read"},
      {"a name's offset outside the buffer", outside, local, "", "whose target cannot be read"},
      {"a name of an odd number of bytes", oddLength, local, "", "whose target cannot be read"},
      {"another name-surrogate tag (WSL's symbolic link)", ReparseData(0xA000001D, L"\\??\\D:\\x"),
       local, "", "whose target cannot be read"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    ReparseTarget target;
    std::string why;
    const bool followed =
        ReadReparseTarget(row.data.data(), row.data.size(), row.linkFolder, target, why);
    std::string walked = target.top;
    for (size_t i = 0; i < target.names.size(); ++i) walked += (i ? "\\" : "") + target.names[i];
    EXPECT_EQ(walked, row.target);
    EXPECT_EQ(followed, *row.target != '\0') << why;
    EXPECT_EQ(why.substr(0, strlen(row.refusal)), row.refusal) << why;
  }
  // A name with no spelling in the code page is refused, not best fitted
  // to another name (U+0100 would be "A").
  if (GetACP() == 1252) {
    ReparseTarget target;
    std::string why;
    const std::vector<BYTE> data = ReparseData(junction, L"\\??\\D:\\\u0100");
    EXPECT_FALSE(ReadReparseTarget(data.data(), data.size(), local, target, why));
  }
}

// Whether a folder's identities may vouch for its files, and whether a
// folder of lists found in the program-data folder is the installer's own:
// only the trusted accounts may own it or change what it holds. A folder of
// lists that gives anyone else any access, now or to what is made in it,
// is to be given the permissions of a new one.
TEST(FoldersAlong, FoldersThatOnlyAdministratorsChangeAreTrusted) {
  const std::string user = "S-1-5-21-1004336348-1177238915-682003330-1001";
  const std::string earlierLists = "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FRFX;;;BU)";
  const std::string lists = "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
  struct Row {
    const char* what;
    std::string folder;
    const char* refusal;
    bool othersHaveAccess;
  };
  const Row rows[] = {
      {"the lists' folder as an earlier release made it", "O:BA" + earlierLists, "", true},
      {"the lists' folder as it is made now", "O:BA" + lists, "", false},
      {"the lists' folder SYSTEM made", "O:SY" + lists, "", false},
      {"a folder of that name that a user made first", "O:" + user + lists, "whose owner is not",
       false},
      {"the program-data folder, where Users may add files and folders",
       "O:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICIIO;GA;;;CO)(A;OICI;0x1200a9;;;BU)"
       "(A;CI;0x100116;;;BU)",
       "whose files other accounts may change", true},
      {"a folder of Program Files", "O:BAD:(A;;FA;;;BA)(A;;FA;;;SY)(A;;0x1200a9;;;BU)", "", true},
      {"Users may change attributes only", "O:BAD:(A;;FA;;;BA)(A;;0x100;;;BU)",
       "whose files other accounts may change", true},
      {"Users may delete entries", "O:BAD:(A;;FA;;;BA)(A;;0x40;;;BU)",
       "whose files other accounts may change", true},
      {"an inherit-only entry for the creator owner", "O:BAD:(A;;FA;;;BA)(A;OICIIO;GA;;;CO)", "",
       true},
      {"an inherit-only read entry for Users", "O:BAD:P(A;OICI;FA;;;BA)(A;OICIIO;GR;;;BU)", "",
       true},
      {"TrustedInstaller and Administrators only",
       "O:BAD:P(A;;FA;;;BA)(A;;FA;;;S-1-5-80-956008885-3418522649-1831038044-1853292631-"
       "2271478464)",
       "", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    PSECURITY_DESCRIPTOR folder = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(row.folder.c_str(),
                                                                    SDDL_REVISION_1, &folder, nullptr));
    const std::string why = WhyFolderIsNotTrusted(folder);
    EXPECT_EQ(why.substr(0, strlen(row.refusal)), row.refusal) << why;
    EXPECT_EQ(why.empty(), *row.refusal == '\0') << why;
    EXPECT_EQ(FolderGivesOthersAccess(folder), row.othersHaveAccess);
    LocalFree(folder);
  }
  // The running account counts only where a test build asks for it.
  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  BYTE buffer[256];
  DWORD size = sizeof buffer;
  ASSERT_TRUE(GetTokenInformation(token, TokenUser, buffer, size, &size));
  CloseHandle(token);
  char* running = nullptr;
  ASSERT_TRUE(ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &running));
  PSECURITY_DESCRIPTOR mine = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(
      ("O:" + std::string(running) + "D:(A;;FA;;;" + running + ")").c_str(), SDDL_REVISION_1,
      &mine, nullptr));
  EXPECT_NE(WhyFolderIsNotTrusted(mine), "");
  EXPECT_EQ(WhyFolderIsNotTrusted(mine, true), "");
  EXPECT_TRUE(FolderGivesOthersAccess(mine));
  EXPECT_FALSE(FolderGivesOthersAccess(mine, true));
  LocalFree(mine);
  LocalFree(running);
}
#endif

TEST_F(Cp932, FoldersAlongSkipTrailBytes) {
  // "表" is 0x95 0x5C: its second byte separates nothing.
  EXPECT_EQ(FoldersAlong("C:\\\x95\x5C\\a"),
            (std::vector<std::string>{"C:\\\x95\x5C", "C:\\\x95\x5C\\a"}));
}

TEST(InstalledFileList, PathsAreOnlyPlainNamesInsideTheInstallDirectory) {
  struct Row {
    const char* path;
    bool plain;
    int codePage;  // 0: the process's own
  };
  const Row rows[] = {
      {"manual.chm", true, 0},
      {"docs\\en 100%\\read me.txt", true, 0},
      {"nullable.txt", true, 0},
      {"COM10", true, 0},
      {"...x", true, 0},
      {"", false, 0},
      {"\\docs", false, 0},
      {"docs\\", false, 0},
      {"docs\\\\a", false, 0},
      {".", false, 0},
      {"..\\x", false, 0},
      {"docs\\.\\a", false, 0},
      {"C:\\x", false, 0},
      {"C:x", false, 0},
      {"a.txt:stream", false, 0},
      {"\\\\?\\C:\\x", false, 0},
      {"\\\\server\\share\\x", false, 0},
      {"docs/x", false, 0},
      {"a\tb", false, 0},
      {"a\x7F", false, 0},
      {"CON", false, 0},
      {"docs\\nul.txt", false, 0},
      {"Com1", false, 0},
      {"lpt9.log.txt", false, 0},
      {"aux .txt", false, 0},
      {"name.", false, 0},
      {"docs \\name", false, 0},
      // "表" is 0x95 0x5C: its second byte separates nothing.
      {"\x95\x5C", true, 932},
      {"\x95\x5C\\a", true, 932},
      {"\x95\x5C\\\\a", false, 932},
      {"a\\\x95", false, 932},
      {"\x95\x5C", false, 1252},
  };
  for (const Row& row : rows) {
    if (row.codePage && _setmbcp(row.codePage) != 0) continue;
    EXPECT_EQ(IsPlainRelativePath(row.path), row.plain) << row.path;
    _setmbcp(_MB_CP_ANSI);
  }
}

// text with from replaced by to, counted and sealed again as a writer would.
std::string Resealed(std::string text, const std::string& from, const std::string& to) {
  text.replace(text.find(from), from.size(), to);
  text.erase(text.rfind("end\t"));
  text += "end\t" + std::to_string(std::count(text.begin(), text.end(), '\n') - 1) + "\n";
  char checksum[9];
  snprintf(checksum, sizeof checksum, "%08x", static_cast<unsigned>(Crc32(text)));
  return text + "checksum\t" + checksum + "\n";
}

TEST(InstalledFileList, ReadsBackWhatItWroteAndNothingDamaged) {
  const std::string uebersicht = "\xC3\x9C" "bersicht.pdf";
  InstalledFileList list;
  list.owner = {"{5E0C7A51-2F3B-4D1A-9C3E-7B2D1F0A6E48}", "en", "C:\\Program Files\\Orvinel\\",
                "64"};
  list.version = "1.2.3";
  list.createdFolders = {"docs", "docs\\en 100%"};
  list.files = {{"docs\\en 100%\\read me.txt", FileOrigin::Installed, 1234, 2, {3, 4, 5, 6, 7}},
                {uebersicht, FileOrigin::ThereBefore, UINT64_MAX, 0, {0, 0, 0, 0, 0}}};
  const std::string text = FormatInstalledFileList(list);
  EXPECT_NE(text.find("\tdocs\\en 100%25\\read me.txt\n"), std::string::npos) << text;
  if (GetACP() == CP_UTF8) {
    EXPECT_NE(text.find("\t" + uebersicht + "\n"), std::string::npos);
  }

  InstalledFileList read;
  std::string why;
  ASSERT_TRUE(ParseInstalledFileList(text, read, why)) << why;
  EXPECT_EQ(FormatInstalledFileList(read), text);
  EXPECT_TRUE(read.owner == list.owner);
  ASSERT_NE(FindInstalledFile(read.files, uebersicht), nullptr);
  EXPECT_EQ(FindInstalledFile(read.files, uebersicht)->sourceSize, UINT64_MAX);
  EXPECT_EQ(FindInstalledFile(read.files, "docs"), nullptr);

  RunNote note{list.owner, "1.2.3", {"docs\\en 100%\\read me.txt", uebersicht}, {"docs"}};
  RunNote noteRead;
  ASSERT_TRUE(ParseRunNote(FormatRunNote(note), noteRead, why)) << why;
  EXPECT_EQ(FormatRunNote(noteRead), FormatRunNote(note));
  EXPECT_TRUE(ContainsPath(noteRead.filesBefore, uebersicht));
  EXPECT_FALSE(ParseRunNote(text, noteRead, why));
  EXPECT_EQ(why, "is a list of installed files, not a note of a run in progress");

  auto with = [&list](void (*change)(InstalledFileList&)) {
    InstalledFileList changed = list;
    change(changed);
    return FormatInstalledFileList(changed);
  };
  struct Row {
    const char* what;
    std::string text;
    const char* why;
  };
  const Row rows[] = {
      {"empty", "", "is cut short"},
      {"cut in its first line", text.substr(0, 10), "is cut short"},
      {"cut after its first line", text.substr(0, text.find('\n') + 1), "is cut short"},
      {"cut within an entry", text.substr(0, text.find("read me")), "is cut short"},
      {"cut after an entry", text.substr(0, text.find("file\t")), "is cut short"},
      {"without its checksum", text.substr(0, text.find("checksum\t")), "is cut short"},
      {"without its last line end", text.substr(0, text.size() - 1), "is cut short"},
      {"one byte changed", std::string(text).replace(text.find("read me"), 1, "R"),
       "fails its checksum"},
      {"a line after its checksum", text + "folder\tx\n", "has more after its checksum"},
      {"a note", FormatRunNote(note),
       "is a note of a run in progress, not a list of installed files"},
      {"another format version", "quorvex installed files\t2" + text.substr(text.find('\n')),
       "is of another format version"},
      {"without a header line", Resealed(text, "language\ten\n", ""), "lacks its language line"},
      {"an unknown entry", Resealed(text, "folder\tdocs\n", "folders\tdocs\n"),
       "has an unknown entry on line 7"},
      {"a folder after the files",
       Resealed(Resealed(text, "folder\tdocs\n", ""), "end\t", "folder\tdocs\nend\t"),
       "has its entries out of order on line 10"},
      {"unsorted paths", with([](InstalledFileList& l) { std::swap(l.files[0], l.files[1]); }),
       "has its paths out of order on line 10"},
      {"a path twice", with([](InstalledFileList& l) { l.createdFolders[1] = "docs"; }),
       "names a path twice: docs"},
      {"a path outside", with([](InstalledFileList& l) { l.files[0].path = "..\\x"; }),
       "names a path outside the install directory: ..\\x"},
      {"a number with a sign", Resealed(text, "\t1234\t", "\t+1234\t"),
       "has a malformed number on line 9"},
      {"a number past 64 bits",
       Resealed(text, "\t18446744073709551615\t", "\t18446744073709551616\t"),
       "has a malformed number on line 10"},
      {"an escape of a plain letter", Resealed(text, "read me", "re%61d me"),
       "has malformed text on line 9"},
  };
  for (const Row& row : rows) {
    InstalledFileList damaged;
    EXPECT_FALSE(ParseInstalledFileList(row.text, damaged, why)) << row.what;
    EXPECT_EQ(why, row.why) << row.what;
  }
}

TEST(GetProgramDirectory, IsTheExecutablesFolderWithSeparator) {
  std::string directory;
  ASSERT_TRUE(GetProgramDirectory(directory));
  ASSERT_FALSE(directory.empty());
  EXPECT_TRUE(directory.back() == '\\' || directory.back() == '/');
  EXPECT_TRUE(fs::exists(fs::path(directory) / fs::path(QUORVEX_EXE).filename()));
}

}  // namespace
