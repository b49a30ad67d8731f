#include "ui/progress_line.h"

#include <stdio.h>

#include <algorithm>

#include "platform/kill_points.h"
#include "platform/terminal.h"

namespace {

constexpr DWORD kRedrawing = 100;  // ms: at most ten drawings a second

// The end of text that fits in width bytes, starting on a character.
std::string Tail(const std::string& text, size_t width) {
  if (text.size() <= width) return text;
  if (width < 8) return text.substr(0, width);
  const size_t cut = text.size() - width + 3;
  size_t at = 0;
  while (at < cut) at += _ismbblead(static_cast<unsigned char>(text[at])) ? 2 : 1;
  // UTF-8, natively: never start inside a character.
  while (at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) ++at;
  return "..." + text.substr(at);
}

}  // namespace

ProgressLine::ProgressLine(bool wanted)
    : active_(wanted && StandardErrorIsTerminal()), started_(active_ ? GetTickCount() : 0) {}

void ProgressLine::Update(const std::function<std::string()>& text) {
  if (!active_) return;
  const DWORD now = GetTickCount();
  // Short work shows nothing. (Where tests draw at once, they see every
  // drawing.)
  const DWORD first = static_cast<DWORD>(ProgressShownAfter());
  if (now - started_ < first || (drawnWidth_ && now - drawnAt_ < std::min(kRedrawing, first))) {
    return;
  }
  drawnAt_ = now;
  const size_t columns = static_cast<size_t>(TerminalColumns());
  // The last column stays free: a terminal that wraps there would start a
  // new line.
  const std::string line = Tail(text(), columns > 1 ? columns - 1 : 1);
  std::string drawing = "\r" + line;
  if (line.size() < drawnWidth_) drawing += std::string(drawnWidth_ - line.size(), ' ');
  WriteToTerminal(drawing);
  drawnWidth_ = std::max(line.size(), drawnWidth_);
}

void ProgressLine::Clear() {
  if (!active_ || drawnWidth_ == 0) return;
  WriteToTerminal("\r" + std::string(drawnWidth_, ' ') + "\r");
  drawnWidth_ = 0;
}

std::string ProgressSize(unsigned long long bytes) {
  char text[32];
  const double megabytes = static_cast<double>(bytes) / 1e6;
  if (megabytes >= 1000) {
    snprintf(text, sizeof text, "%.1f GB", megabytes / 1000);
  } else {
    snprintf(text, sizeof text, "%.1f MB", megabytes);
  }
  return text;
}
