// The localized message texts, held as a string-table resource of the
// executable in English and Japanese.
#pragma once

#include <string>

#include "platform/win32.h"

enum StringId : UINT {
  kCompletionCaption = 103,
  kOverwritePrompt = 104,
  kRefusalText = 105,
  kCompletionText = 106,
  kProgressCaption = 107,   // "%s": the product
  kProgressWarning = 108,
  kProgressCounts = 109,    // files done, files, bytes done, bytes
  kProgressCounting = 110,
  kShutdownReason = 111,    // "%s": the product
};

// The text of id in the ANSI code page; empty when the id is not found.
std::string LoadStringText(UINT id);

// The code page the texts are converted into, chosen on first use and kept.
UINT StringConversionCodePage();
