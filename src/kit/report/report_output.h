// The two forms of a report: text for people, one JSON document for scripts.
#pragma once

#include <string>

#include "kit/report/report.h"

namespace kit {

// How much the text report lists.
struct TextOptions {
  bool everyLink = false;    // every link-in-src warning, not the first few
  bool summaryOnly = false;  // only actions and files that are not as they should be
};

// One line per finding, action and file (kept-newer files apart, after the
// others), then the summary. Text is in the ANSI code page.
std::string TextReport(const Report& report, const TextOptions& options = {});

// One JSON object, UTF-8: verb, kit, settings, the summary fields,
// findings, actions (each with heldBy where programs hold its file open),
// files and exitCode.
std::string JsonReport(const Report& report);

}  // namespace kit
