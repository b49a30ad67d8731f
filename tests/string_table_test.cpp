// The string table as the program loads it: both languages, the code page
// of the texts, ids it does not hold, and the conversion call under it;
// on Windows, the progress window's texts fitting their places.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <string>

#include "app/driver.h"
#ifdef _WIN32
#include "platform/win32/progress_layout.h"
#endif
#include "platform/win32.h"
#include "support/messages.h"
#include "ui/string_table.h"

using testing_support::kMessageTexts;
using testing_support::ToCodePage;

namespace {

#ifdef _WIN32
#define WIDE(text) L##text
#else
#define WIDE(text) u##text
using LANGID = WORD;
#endif

// Makes the table's lookup pick a language and the conversion a code page:
// the thread's locale on Windows, the locale variables elsewhere.
#ifdef _WIN32
class ScopedMessageLocale {
 public:
  ScopedMessageLocale(LANGID language, const char*) : saved_(GetThreadLocale()) {
    SetThreadLocale(MAKELCID(language, SORT_DEFAULT));
  }
  ~ScopedMessageLocale() { SetThreadLocale(saved_); }

 private:
  LCID saved_;
};
#else
class ScopedMessageLocale : public testing_support::ScopedLocaleVariables {
 public:
  ScopedMessageLocale(LANGID, const char* name) : ScopedLocaleVariables(name) {}
};
#endif

constexpr LANGID kEnglish = 0x0409;
constexpr LANGID kJapanese = 0x0411;

TEST(StringTable, EnglishTexts) {
  ScopedMessageLocale locale(kEnglish, "en_US.UTF-8");
  for (const auto& message : kMessageTexts) {
    EXPECT_EQ(LoadStringText(message.id), message.english) << "id " << message.id;
  }
}

TEST(StringTable, JapaneseTextsInCodePage932) {
  ScopedMessageLocale locale(kJapanese, "ja_JP.SJIS");
  for (const auto& message : kMessageTexts) {
    EXPECT_EQ(LoadStringText(message.id), ToCodePage(message.japanese, 932))
        << "id " << message.id;
  }
}

TEST(StringTable, IdsNotInTheTableGiveEmptyTexts) {
  for (LANGID language : {kEnglish, kJapanese}) {
    ScopedMessageLocale locale(language, language == kEnglish ? "en_US.UTF-8" : "ja_JP.SJIS");
    // 96 to 102 share the first block with 103 to 111, 121 to 127 the
    // second with 112 to 120; the others have no block at all.
    for (UINT id : {0u, 1u, 15u, 96u, 102u, 121u, 127u, 128u, 4000u, 65535u}) {
      EXPECT_EQ(LoadStringText(id), "") << "id " << id;
    }
  }
}

#ifndef _WIN32
TEST(StringTable, JapaneseTextsInAUtf8Locale) {
  ScopedMessageLocale locale(kJapanese, "ja_JP.UTF-8");
  for (const auto& message : kMessageTexts) {
    EXPECT_EQ(LoadStringText(message.id), message.japanese) << "id " << message.id;
  }
}

TEST(StringTable, FirstLocaleVariableSetPicksTheLanguage) {
  const char* completedJa = kMessageTexts[3].japanese;
  const char* completedEn = kMessageTexts[3].english;
  struct Case {
    const char *lang, *messages, *all, *expected;
  } cases[] = {
      {"ja_JP.UTF-8", "", "", completedJa},
      {"ja_JP.UTF-8", "en_US.UTF-8", "", completedEn},
      {"en_US.UTF-8", "ja_JP.UTF-8", "", completedJa},
      {"ja_JP.UTF-8", "ja_JP.UTF-8", "C.UTF-8", completedEn},
      {"en_US.UTF-8", "en_US.UTF-8", "ja_JP.UTF-8", completedJa},
      {"fr_FR.UTF-8", "", "", completedEn},
      {"", "", "", completedEn},
  };
  for (const Case& c : cases) {
    testing_support::ScopedLocaleVariables locale(c.lang, c.messages, c.all);
    EXPECT_EQ(LoadStringText(kCompletionText), c.expected)
        << "LANG=" << c.lang << " LC_MESSAGES=" << c.messages << " LC_ALL=" << c.all;
  }
}
#endif

// The conversion call behaves as the system's: the stand-in is held to the
// same expectations as the real one.
TEST(WideCharToMultiByte, SizeQueryAndConversion) {
  const WCHAR file[] = WIDE("ファイル");
  EXPECT_EQ(WideCharToMultiByte(932, 0, file, 4, nullptr, 0, nullptr, nullptr), 8);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, file, 4, nullptr, 0, nullptr, nullptr), 12);
  // A length of -1 takes the terminating zero along.
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, file, -1, nullptr, 0, nullptr, nullptr), 13);

  char buffer[16] = {};
  ASSERT_EQ(WideCharToMultiByte(932, 0, file, -1, buffer, sizeof buffer, nullptr, nullptr), 9);
  EXPECT_EQ(std::string(buffer), ToCodePage("ファイル", 932));
}

TEST(WideCharToMultiByte, FailuresAndSubstitutes) {
  const WCHAR file[] = WIDE("ファイル");
  char small[4];
  EXPECT_EQ(WideCharToMultiByte(932, 0, file, 4, small, sizeof small, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));

  // U+4E00 has no form in code page 1252.
  BOOL usedDefault = FALSE;
  const WCHAR mixed[] = WIDE("a\u4e00b");
  char out[8] = {};
  EXPECT_EQ(WideCharToMultiByte(1252, 0, mixed, 3, out, sizeof out, nullptr, &usedDefault), 3);
  EXPECT_STREQ(out, "a?b");
  EXPECT_TRUE(usedDefault);
}

TEST(ConsoleLines, FrameworkFailureLineIsStoredInCodePage932) {
  EXPECT_EQ(std::string(kFrameworkFailedMessage),
            ToCodePage("致命的なエラー : MFC の初期化ができませんでした。\n", 932));
}


#ifdef _WIN32
std::wstring FromUtf8(const std::string& text) {
  const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0);
  std::wstring wide(size, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], size);
  return wide;
}

std::string FillIn(std::string text, std::initializer_list<std::string> values) {
  for (const std::string& value : values) text.replace(text.find("%s"), 2, value);
  return text;
}

// Each text of the progress window, measured in its control's font with
// words wrapped, fits its control at 100 %, 150 % and 200 % display
// scaling, in both languages; and the window grows with the scaling.
TEST(ProgressWindow, TextsFitTheirControlsAtEveryScaling) {
  const auto text = [](unsigned id, bool japanese) {
    for (const auto& message : kMessageTexts) {
      if (message.id == id) return std::string(japanese ? message.japanese : message.english);
    }
    return std::string();
  };
  for (bool japanese : {false, true}) {
    LONG width96 = 0;
    for (UINT dpi : {96u, 144u, 192u}) {
      SCOPED_TRACE(std::to_string(dpi) + (japanese ? " DPI, Japanese" : " DPI, English"));
      ProgressLayoutTexts texts;
      texts.caption = FromUtf8(FillIn(text(107, japanese), {"Orvinel Enterprise Suite"}));
      texts.counts = FromUtf8(FillIn(text(109, japanese), {"999999", "999999", "999.9 MB", "999.9 MB"}));
      texts.current = L"x";
      texts.warning = FromUtf8(text(108, japanese));
      const ProgressLayout layout = LayOutProgress(dpi, texts);
      const std::pair<const RECT*, std::wstring> placed[] = {
          {&layout.caption, texts.caption},
          {&layout.counts, FromUtf8(FillIn(text(109, japanese), {"50000", "50000", "999.9 MB", "999.9 MB"}))},
          {&layout.counts, FromUtf8(text(110, japanese))},
          {&layout.warning, texts.warning}};
      for (const auto& [rect, shown] : placed) {
        const LONG width = rect->right - rect->left;
        const RECT needed = MeasureText(layout.font, shown, width);
        EXPECT_LE(needed.right - needed.left, width);
        EXPECT_LE(needed.bottom - needed.top, rect->bottom - rect->top);
        EXPECT_LE(rect->right, layout.client.cx);
      }
      EXPECT_LE(layout.warning.bottom, layout.client.cy);
      if (dpi == 96) width96 = layout.client.cx;
      if (dpi == 192) {
        EXPECT_EQ(layout.client.cx, 2 * width96);
      }
      DeleteObject(layout.font);
    }
  }
}
#endif

}  // namespace
