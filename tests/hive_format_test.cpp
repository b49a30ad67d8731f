// The text form of the stand-in hive.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "platform/posix/hive.h"
#include "platform/win32.h"

using standin::FormatHive;
using standin::Hive;
using standin::HiveValue;
using standin::ParseHive;

namespace {

const char kSample[] =
    "REGEDIT4\n"
    "\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE]\n"
    "\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Veltrane]\n"
    "@=\"default\"\n"
    "\"Path\"=\"C:\\\\Program Files\\\\\\\"Orvinel\\\"\"\n"
    "\"Flags\"=dword:0000001f\n"
    "\"Blob\"=hex:00,ff,10\n"
    "\"Empty\"=hex(0):\n"
    "\"Expand\"=hex(2):25,00\n"
    "\"List\"=hex(7):61,00,62,00,\\\n"
    "  00\n"
    "\"Quad\"=hex(b):01,00,00,00,00,00,00,00\n"
    "\n";

const HiveValue& ValueOf(const Hive& hive, const std::string& key, const std::string& name) {
  const HiveValue* value = hive.FindKey(key)->FindValue(name);
  if (!value) throw std::runtime_error("no value " + name);
  return *value;
}

TEST(HiveText, RoundTripsEveryLineUnchanged) {
  Hive hive;
  ASSERT_TRUE(ParseHive(kSample, hive));
  EXPECT_EQ(FormatHive(hive), kSample);

  EXPECT_EQ(ValueOf(hive, "software\\VELTRANE", "").data, std::string("default\0", 8));
  EXPECT_EQ(ValueOf(hive, "SOFTWARE\\Veltrane", "path").data,
            std::string("C:\\Program Files\\\"Orvinel\"\0", 27));
  EXPECT_EQ(ValueOf(hive, "SOFTWARE\\Veltrane", "Flags").type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(ValueOf(hive, "SOFTWARE\\Veltrane", "Flags").data, std::string("\x1f\0\0\0", 4));
  EXPECT_EQ(ValueOf(hive, "SOFTWARE\\Veltrane", "Blob").data, std::string("\0\xff\x10", 3));
  EXPECT_EQ(ValueOf(hive, "SOFTWARE\\Veltrane", "Empty").type, static_cast<DWORD>(REG_NONE));
  EXPECT_EQ(ValueOf(hive, "SOFTWARE\\Veltrane", "List").type, static_cast<DWORD>(REG_MULTI_SZ));
  EXPECT_EQ(ValueOf(hive, "SOFTWARE\\Veltrane", "List").data, std::string("a\0b\0\0", 5));
  EXPECT_EQ(ValueOf(hive, "SOFTWARE\\Veltrane", "Quad").type, 0xbu);
}

TEST(HiveText, ChangedValuesAreWrittenInTheirCanonicalForm) {
  Hive hive;
  ASSERT_TRUE(ParseHive("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\A\\B]\r\n"
                        "\"x\" = dword:1f\r\n\"y\"=hex(4):01,02,03,04\r\n",
                        hive));
  hive.FindKey("a\\b")->SetValue("X", REG_DWORD, std::string("\x20\0\0\0", 4));
  hive.FindKey("A\\B")->SetValue("Y", REG_DWORD, std::string("\x01\x02", 2));
  hive.CreateKey("a\\C").SetValue("", REG_SZ, std::string("line\nbreak\0", 11));
  EXPECT_EQ(FormatHive(hive),
            "REGEDIT4\n\n"
            "[HKEY_LOCAL_MACHINE\\A]\n\n"
            "[HKEY_LOCAL_MACHINE\\A\\B]\n\"x\"=dword:00000020\n\"y\"=hex(4):01,02\n\n"
            "[HKEY_LOCAL_MACHINE\\A\\C]\n@=hex(1):6c,69,6e,65,0a,62,72,65,61,6b,00\n\n");
}

TEST(HiveText, RejectsWhatIsNotAHive) {
  for (const char* text : {
           "",
           "REGEDIT5\n\n",
           "Windows Registry Editor Version 5.00\n",
           "REGEDIT4\n\"x\"=\"before any key\"\n",
           "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n",
           "REGEDIT4\n[HKEY_LOCAL_MACHINEX]\n",
           "REGEDIT4\n[-HKEY_LOCAL_MACHINE\\A]\n",
           "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A\n",
           "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"x\"=\"unterminated\n",
           "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"x\"=\"bad \\n escape\"\n",
           "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"x\"=\"a\" trailing\n",
           "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"x\"=dword:123456789\n",
           "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"x\"=dword:\n",
           "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"x\"=hex:0g\n",
           "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"x\"=hex:00,\n",
           "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"x\"=hex:00,\\\n",
           "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"x\"=hex(z):00\n",
           "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"x\"=-\n",
           "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\nx=\"unquoted name\"\n",
           "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n; a comment\n",
       }) {
    Hive hive;
    EXPECT_FALSE(ParseHive(text, hive)) << text;
  }
}

TEST(HiveText, ImpliedAndRepeatedKeys) {
  Hive hive;
  ASSERT_TRUE(ParseHive("REGEDIT4\n[HKEY_LOCAL_MACHINE\\A\\B]\n\"v\"=\"1\"\n"
                        "[hkey_local_machine\\a\\\\b\\]\n\"V\"=\"2\"\n\"w\"=\"3\"\n",
                        hive));
  EXPECT_EQ(FormatHive(hive),
            "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A]\n\n"
            "[HKEY_LOCAL_MACHINE\\A\\B]\n\"V\"=\"2\"\n\"w\"=\"3\"\n\n");
}

// The random tests run in a single-byte and in a double-byte code page,
// where a "\\" or a quote may be the second byte of a character.
class HiveTextInCodePage : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override { ASSERT_EQ(_setmbcp(GetParam()), 0); }
  void TearDown() override { _setmbcp(_MB_CP_ANSI); }
};

INSTANTIATE_TEST_SUITE_P(CodePages, HiveTextInCodePage, ::testing::Values(1252, 932));

// Any hive that parses formats into text that parses into the same hive.
TEST_P(HiveTextInCodePage, RandomTextsParseStably) {
  std::mt19937 random(1009);
  const std::string pieces[] = {"REGEDIT4\n", "\n", "[HKEY_LOCAL_MACHINE\\", "]", "\\", "\"",
                                "\\\\", "\\\"", "=", "@", "dword:", "hex:", "hex(7):", ",",
                                ",\\\n  ", "0", "a1", "ff", "x", " ", "\r", "\x82", "\x5c",
                                std::string(1, '\0')};
  int parsed = 0;
  for (int round = 0; round < 30000; ++round) {
    std::string text = round % 2 ? std::string(kSample) : "REGEDIT4\n\n";
    for (size_t n = random() % 12; n > 0; --n) {
      const std::string& piece = pieces[random() % (sizeof pieces / sizeof pieces[0])];
      const size_t at = random() % (text.size() + 1);
      if (random() % 4 == 0 && at < text.size()) {
        text.erase(at, 1 + random() % 3);
      } else {
        text.insert(at, piece);
      }
    }
    Hive hive;
    if (!ParseHive(text, hive)) continue;
    ++parsed;
    const std::string once = FormatHive(hive);
    Hive again;
    ASSERT_TRUE(ParseHive(once, again)) << text;
    ASSERT_EQ(FormatHive(again), once) << text;
  }
  EXPECT_GT(parsed, 1000);
}

// Values of any bytes, under names of any bytes the file can hold, come back
// exactly as they were set.
TEST_P(HiveTextInCodePage, RandomValuesComeBackExactly) {
  std::mt19937 random(1018);
  auto bytes = [&](size_t most) {
    std::string text;
    for (size_t n = random() % most; n > 0; --n) {
      text += static_cast<char>(random() % 3 ? ' ' + random() % 95 : random() % 256);
    }
    return text;
  };
  for (int round = 0; round < 2000; ++round) {
    Hive hive;
    std::vector<std::pair<std::string, HiveValue>> set;
    for (int i = random() % 6; i > 0; --i) {
      const std::string key = "K" + std::to_string(random() % 3) + "\\" + bytes(8);
      std::string name = bytes(10);
      if (!standin::IsStorableName(key) || !standin::IsStorableName(name)) continue;
      const DWORD type = random() % 3 ? REG_SZ : static_cast<DWORD>(random() % 12);
      std::string data = bytes(20);
      if (type == REG_SZ && random() % 2) data += '\0';
      hive.CreateKey(key).SetValue(name, type, data);
      set.emplace_back(key, HiveValue{name, type, data, ""});
    }
    Hive read;
    const std::string text = FormatHive(hive);
    ASSERT_TRUE(ParseHive(text, read)) << text;
    for (const auto& [key, expected] : set) {
      const HiveValue* value = hive.FindKey(key)->FindValue(expected.name);
      const HiveValue* readValue = read.FindKey(key)->FindValue(expected.name);
      ASSERT_NE(readValue, nullptr) << text;
      EXPECT_EQ(readValue->type, value->type) << text;
      EXPECT_EQ(readValue->data, value->data) << text;
    }
  }
}

}  // namespace
