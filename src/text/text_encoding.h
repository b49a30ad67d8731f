// Text of the ANSI code page as UTF-8, for reports and logs.
#pragma once

#include <string>

// text converted from the ANSI code page to UTF-8. A byte that is no valid
// text in the code page is written as the four characters "\xNN" (hex).
std::string AnsiToUtf8(const std::string& text);

// text with every control byte written as "\xNN", for the text report.
std::string VisibleText(const std::string& text);

// Appends the UTF-8 form of a Unicode code point.
void AppendUtf8(char32_t codePoint, std::string& out);

