#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "version/version.h"

namespace {

struct Row {
  const char* offered;
  const char* installed;
  bool allowedWithMessages;
  bool allowedSilently;
};

void ExpectRows(const std::vector<Row>& rows) {
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string("new \"") + row.offered + "\" over \"" + row.installed + "\"");
    EXPECT_EQ(IsUpdateAllowed(row.offered, row.installed, 1), row.allowedWithMessages);
    EXPECT_EQ(IsUpdateAllowed(row.offered, row.installed, 0), row.allowedSilently);
  }
}

TEST(IsUpdateAllowed, DecisionTable) {
  ExpectRows({
      {"3", "2", true, true},
      {"100000", "100000", false, true},
      {"2", "3", false, false},
      {"1.10", "1.9", true, true},
      {"1.2", "1.10", false, false},
      {"2", "2.1", true, true},
      {"2.1", "2", true, true},
      {"2.0", "2", false, true},
      {"1..2", "1.0.2", false, true},
      {"abc", "1", false, false},
  });
}

TEST(IsUpdateAllowed, OddTexts) {
  ExpectRows({
      {"", "", false, true},
      {"", "1", false, false},
      {"1", "", true, true},
      {".5", "0.5", false, true},
      {".5", "0.4", true, true},
      {"3a", "3", false, true},
      {"3a.1", "3b", true, true},
      {"-1", "0", false, false},
      {"0", "-1", true, true},
      {"-1.5", "-2", true, true},
      {"+7", "7", false, true},
      {" 7", "7", false, true},
      {"007", "7", false, true},
      {"-", "0", false, true},
      {"...", "", false, true},
      {"1.", "1", false, true},
  });
}

// Components compare by their exact value: nothing wraps at 32 bits.
TEST(IsUpdateAllowed, NumbersOfAnyLength) {
  ExpectRows({
      {"4294967297", "1", true, true},
      {"1", "4294967297", false, false},
      {"2147483648", "2147483647", true, true},
      {"-2147483649", "-2147483648", false, false},
      {"20240131235959", "20231231235959", true, true},
      {"99999999999999999999999", "99999999999999999999998", true, true},
      {"99999999999999999999999", "099999999999999999999999", false, true},
  });
}

TEST(IsUpdateAllowed, LongTexts) {
  std::string manyComponents;
  for (int i = 0; i < 5000; ++i) manyComponents += "1.";
  EXPECT_FALSE(IsUpdateAllowed(manyComponents + "1", manyComponents + "2", 0));
  EXPECT_TRUE(IsUpdateAllowed(manyComponents + "3", manyComponents + "2", 1));
  EXPECT_FALSE(IsUpdateAllowed(manyComponents, manyComponents, 1));
  const std::string digits(100000, '9');
  EXPECT_TRUE(IsUpdateAllowed(digits, digits.substr(1), 1));
  EXPECT_FALSE(IsUpdateAllowed(digits.substr(1), digits, 0));
}

TEST(TakeVersionComponent, RemovesOneComponentAndItsDot) {
  std::string text = "12.x.-3..";
  EXPECT_EQ(TakeVersionComponent(text), ParseVersionNumber("12"));
  EXPECT_EQ(text, "x.-3..");
  EXPECT_EQ(TakeVersionComponent(text), ParseVersionNumber("0"));
  EXPECT_EQ(text, "-3..");
  EXPECT_EQ(TakeVersionComponent(text), ParseVersionNumber("-3"));
  EXPECT_EQ(text, ".");
  EXPECT_EQ(TakeVersionComponent(text), ParseVersionNumber("0"));
  EXPECT_EQ(text, "");
  EXPECT_EQ(TakeVersionComponent(text), ParseVersionNumber("0"));
  EXPECT_EQ(text, "");
}

// Versions made of numbers that fit 64 bits, written with leading zeros and
// signs, decide as their numbers do.
TEST(IsUpdateAllowed, RandomVersionsDecideAsTheirNumbers) {
  std::mt19937_64 random(20240131);
  auto randomNumber = [&]() -> long long {
    if (random() % 3 == 0) return static_cast<long long>(random() % 4);
    return static_cast<long long>(random() % 2000000000000ULL) - 1000000000000LL;
  };
  auto format = [&](const std::vector<long long>& numbers) {
    std::string text;
    for (size_t i = 0; i < numbers.size(); ++i) {
      std::string digits = std::to_string(numbers[i] < 0 ? -numbers[i] : numbers[i]);
      digits.insert(0, random() % 3, '0');
      if (numbers[i] < 0) digits.insert(0, "-");
      else if (random() % 4 == 0) digits.insert(0, "+");
      text += (i ? "." : "") + digits;
    }
    return text;
  };
  for (int round = 0; round < 20000; ++round) {
    std::vector<long long> offered(1 + random() % 4), installed(1 + random() % 4);
    for (auto& number : offered) number = randomNumber();
    for (size_t i = 0; i < installed.size(); ++i) {
      installed[i] = (i < offered.size() && random() % 4 != 0) ? offered[i] : randomNumber();
    }
    // The first component that differs decides; when the new version ends
    // first, remaining installed components allow it; missing ones read 0.
    bool expected = false, decided = false;
    for (size_t i = 0; i < offered.size() && !decided; ++i) {
      const long long other = i < installed.size() ? installed[i] : 0;
      decided = offered[i] != other;
      expected = offered[i] > other;
    }
    const int flag = static_cast<int>(random() % 2);
    if (!decided) expected = installed.size() > offered.size() || flag == 0;
    const std::string offeredText = format(offered), installedText = format(installed);
    ASSERT_EQ(IsUpdateAllowed(offeredText, installedText, flag), expected)
        << offeredText << " over " << installedText << ", flag " << flag;
  }
}

// Any text gets a decision; a text never replaces itself while messages are on.
TEST(IsUpdateAllowed, RandomTextsAlwaysDecide) {
  std::mt19937 random(7);
  const std::string alphabet = "0123456789..-+ \tab\x81\x82\x5c\xff";
  for (int round = 0; round < 50000; ++round) {
    std::string a, b;
    for (size_t n = random() % 40; n > 0; --n) a += alphabet[random() % alphabet.size()];
    for (size_t n = random() % 40; n > 0; --n) b += alphabet[random() % alphabet.size()];
    IsUpdateAllowed(a, b, static_cast<int>(random() % 3));
    ASSERT_FALSE(IsUpdateAllowed(a, a, 1)) << a;
    ASSERT_TRUE(IsUpdateAllowed(a, a, 0)) << a;
  }
}

}  // namespace
