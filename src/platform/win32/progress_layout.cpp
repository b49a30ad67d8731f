#include "platform/win32/progress_layout.h"

#include "platform/win32/dpi_calls.h"

namespace {

int Scaled(int dips, UINT dpi) { return MulDiv(dips, static_cast<int>(dpi), 96); }

constexpr int kWidth = 460;   // dips: the texts' width
constexpr int kMargin = 12;   // dips
constexpr int kGap = 8;       // dips
constexpr int kBarHeight = 18;

}  // namespace

HFONT ProgressFont(UINT dpi) {
  LOGFONTW font;
  if (!MessageFontForDpi(dpi, font)) {
    return CreateFontW(-Scaled(12, dpi), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH,
                       L"Segoe UI");
  }
  return CreateFontIndirectW(&font);
}

RECT MeasureText(HFONT font, const std::wstring& text, int width, bool oneLine) {
  RECT rect{0, 0, width, 0};
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, font);
  DrawTextW(dc, text.empty() ? L" " : text.c_str(), -1, &rect,
            DT_CALCRECT | DT_NOPREFIX | (oneLine ? DT_SINGLELINE : DT_WORDBREAK));
  SelectObject(dc, old);
  DeleteDC(dc);
  return rect;
}

ProgressLayout LayOutProgress(UINT dpi, const ProgressLayoutTexts& texts) {
  ProgressLayout layout;
  layout.font = ProgressFont(dpi);
  const int margin = Scaled(kMargin, dpi), gap = Scaled(kGap, dpi), width = Scaled(kWidth, dpi);
  int y = margin;
  const auto place = [&](RECT& rect, const std::wstring& text, bool oneLine) {
    const RECT measured = MeasureText(layout.font, text, width, oneLine);
    rect = {margin, y, margin + width, y + (measured.bottom - measured.top)};
    y = rect.bottom + gap;
  };
  place(layout.caption, texts.caption, false);
  place(layout.counts, texts.counts, false);
  // The file's path is cut with an ellipsis to one line.
  place(layout.current, texts.current, true);
  layout.bar = {margin, y, margin + width, y + Scaled(kBarHeight, dpi)};
  y = layout.bar.bottom + gap * 2;
  place(layout.warning, texts.warning, false);
  layout.client = {width + 2 * margin, y - gap + margin};
  return layout;
}
