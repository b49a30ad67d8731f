// Text of the ANSI code page as UTF-8, for reports and logs.
#pragma once

#include <string>

// text converted from the ANSI code page to UTF-8. A byte that is no valid
// text in the code page is written as the four characters "\xNN" (hex).
std::string AnsiToUtf8(const std::string& text);

// text with every control byte written as "\xNN", for the text report;
// where the ANSI code page is UTF-8, as VisibleUtf8 writes it.
std::string VisibleText(const std::string& text);

// UTF-8 text with every control character written out, so that one line
// stays one line whatever a name or a message holds: C0 and DEL as "\xNN",
// C1 (U+0085 among them), U+2028 and U+2029 as "\uNNNN".
std::string VisibleUtf8(const std::string& text);

// Appends the UTF-8 form of a Unicode code point.
void AppendUtf8(char32_t codePoint, std::string& out);

