#include "kit/report/report_output.h"

#include <map>

#include "platform/win32.h"
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

// Actions and file and folder states that are as they should be.
bool AsItShouldBe(const std::string& state) {
  return state == "copy" || state == "replace" || state == "unchanged" || state == "pass-over" ||
         state == "create-folder" || state == "same" || state == "present" ||
         state == "remove" || state == "gone" || state == "remove-folder";
}

constexpr size_t kLinksShown = 3;

// UTF-8 text in the ANSI code page of the report; what the code page lacks
// shows as "?".
std::string Utf8AsAnsi(const std::string& text) {
  if (text.empty() || GetACP() == CP_UTF8) return text;
  const int length = static_cast<int>(text.size());
  const int units = MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
  if (units <= 0) return {};
  std::u16string wide(static_cast<size_t>(units), u'\0');
  auto* data = reinterpret_cast<WCHAR*>(&wide[0]);
  MultiByteToWideChar(CP_UTF8, 0, text.data(), length, data, units);
  const int size =
      WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, data, units, nullptr, 0, "?", nullptr);
  if (size <= 0) return {};
  std::string ansi(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, data, units, &ansi[0], size, "?", nullptr);
  return ansi;
}

std::string HeldByText(const std::string& heldBy) {
  return heldBy.empty() ? "" : "held open by: " + Utf8AsAnsi(heldBy);
}

}  // namespace

std::string TextReport(const Report& report, const TextOptions& options) {
  std::string text = "QuorvexKit " + report.verb + " " + VisibleText(report.kit) + "\n";
  size_t links = 0;
  for (const Finding& finding : report.findings) {
    if (finding.code == "link-in-src" && ++links > kLinksShown && !options.everyLink) continue;
    text += finding.severity + " " + finding.code;
    if (!finding.path.empty()) text += " " + VisibleText(finding.path);
    text += ": " + VisibleText(finding.message);
    if (!finding.heldBy.empty()) text += "; " + HeldByText(finding.heldBy);
    text += "\n";
  }
  if (links > kLinksShown && !options.everyLink) {
    text += "warning link-in-src: " + std::to_string(links - kLinksShown) + " more links (" +
            std::to_string(links) + " in all; --verbose lists every one)\n";
  }
  for (const Action& action : report.actions) {
    if (options.summaryOnly && AsItShouldBe(action.action)) continue;
    text += action.action + " " + VisibleText(action.path);
    std::string why = VisibleText(action.reason);
    if (!action.heldBy.empty()) why += (why.empty() ? "" : "; ") + HeldByText(action.heldBy);
    if (!why.empty()) text += " (" + why + ")";
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
