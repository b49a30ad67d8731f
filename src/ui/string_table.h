// The localized message texts, held as a string-table resource of the
// executable in English and Japanese.
#pragma once

#include <initializer_list>
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
  // What a run that could not finish tells a person who can see it.
  kFolderNotCreated = 112,  // "%s": the folder
  kFileNotWritten = 113,    // "%s": the file
  kNotInstalled = 114,      // "%s": the product
  kNotRecorded = 115,       // "%s": the list or the record
  kHeldBy = 116,            // "%s": the programs that hold the file
  kNoSpace = 117,           // the folder, the space needed, the space free
  kStoppedWithCode = 118,   // "%s": the exit code
  kRetryHeldFile = 119,     // "%s": the exit code of Cancel
  kNoKit = 120,
};

// The text of id in the ANSI code page; empty when the id is not found.
std::string LoadStringText(UINT id);

// text with each "%s" replaced by the next of values, as it is: a value is
// never read as a format.
std::string FillInText(std::string text, std::initializer_list<std::string> values);

// The code page the texts are converted into, chosen on first use and kept.
UINT StringConversionCodePage();
