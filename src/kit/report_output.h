// The two forms of a report: text for people, one JSON document for scripts.
#pragma once

#include <string>

#include "kit/report.h"

namespace kit {

// One line per finding, action and file (kept-newer files apart, after the
// others), then the summary. Text is in the ANSI code page.
std::string TextReport(const Report& report);

// One JSON object, UTF-8: verb, kit, settings, the summary fields,
// findings, actions, files and exitCode.
std::string JsonReport(const Report& report);

}  // namespace kit
