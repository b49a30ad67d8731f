#include "kit/report/report_output.h"

#include <map>

#include "text/text_encoding.h"

namespace kit {

namespace {

std::string FieldText(const Field& field) {
  if (field.isNumber && field.value == "null") return "(none)";
  return VisibleText(field.value);
}

// "createFolderCount" reads "create folder count".
std::string FieldLabel(const std::string& name) {
  std::string label;
  for (char c : name) {
    if (c >= 'A' && c <= 'Z') {
      label += ' ';
      label += static_cast<char>(c - 'A' + 'a');
    } else {
      label += c;
    }
  }
  return label;
}

std::string FileLine(const FileState& file) {
  return file.state + (file.folder ? " folder " : " ") + VisibleText(file.path) + "\n";
}

// Actions and file states that are as they should be.
bool AsItShouldBe(const std::string& state) {
  return state == "copy" || state == "replace" || state == "pass-over" ||
         state == "create-folder" || state == "same" || state == "remove" || state == "gone" ||
         state == "remove-folder";
}

constexpr size_t kLinksShown = 3;

}  // namespace

std::string TextReport(const Report& report, const TextOptions& options) {
  std::string text = "QuorvexKit " + report.verb + " " + VisibleText(report.kit) + "\n";
  size_t links = 0;
  for (const Finding& finding : report.findings) {
    if (finding.code == "link-in-src" && ++links > kLinksShown && !options.everyLink) continue;
    text += finding.severity + " " + finding.code;
    if (!finding.path.empty()) text += " " + VisibleText(finding.path);
    text += ": " + VisibleText(finding.message) + "\n";
  }
  if (links > kLinksShown && !options.everyLink) {
    text += "warning link-in-src: " + std::to_string(links - kLinksShown) + " more links (" +
            std::to_string(links) + " in all; --verbose lists every one)\n";
  }
  for (const Action& action : report.actions) {
    if (options.summaryOnly && AsItShouldBe(action.action)) continue;
    text += action.action + " " + VisibleText(action.path);
    if (!action.reason.empty()) text += " (" + VisibleText(action.reason) + ")";
    text += "\n";
  }
  bool keptNewer = false;
  for (const FileState& file : report.files) {
    if (file.state == "kept-newer") {
      keptNewer = true;
    } else if (!options.summaryOnly || !AsItShouldBe(file.state)) {
      text += FileLine(file);
    }
  }
  if (keptNewer) {
    text += "Kept by the installer because the installed file is newer, yet not the kit's:\n";
    for (const FileState& file : report.files) {
      if (file.state == "kept-newer") text += "  " + FileLine(file);
    }
  }
  if (!report.message.empty()) text += VisibleText(report.message) + "\n";
  if (options.summaryOnly) {
    std::map<std::string, size_t> counts;
    for (const Action& action : report.actions) ++counts[action.action];
    for (const FileState& file : report.files) ++counts[file.state];
    for (const auto& [state, count] : counts) {
      text += state + ": " + std::to_string(count) + "\n";
    }
  }
  text += "--\n";
  for (const Field& field : report.settings) {
    text += "setting " + field.name + ": " + FieldText(field) + "\n";
  }
  for (const Field& field : report.summary) {
    text += FieldLabel(field.name) + ": " + FieldText(field) + "\n";
  }
  text += "exit code: " + std::to_string(report.exitCode) + "\n";
  return text;
}

}  // namespace kit
