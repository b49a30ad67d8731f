// Where the progress window's texts go, at a display's DPI: each measured
// in the window's font for that DPI (the system's message font), so that
// it fits at 100 % to 200 % scaling and beyond.
#pragma once

#include <string>

#include "platform/win32.h"

struct ProgressLayoutTexts {
  std::wstring caption, counts, current, warning;
};

struct ProgressLayout {
  HFONT font = nullptr;  // the caller's, to delete
  SIZE client{};
  RECT caption{}, counts{}, current{}, bar{}, warning{};
};

// counts: the widest counts text to expect.
ProgressLayout LayOutProgress(UINT dpi, const ProgressLayoutTexts& texts);

// The font of the window's texts at dpi.
HFONT ProgressFont(UINT dpi);

// The rectangle text takes at width in font, words wrapped.
RECT MeasureText(HFONT font, const std::wstring& text, int width, bool oneLine = false);
