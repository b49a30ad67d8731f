#include "kit/report_output.h"

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

}  // namespace

std::string TextReport(const Report& report) {
  std::string text = "QuorvexKit " + report.verb + " " + VisibleText(report.kit) + "\n";
  for (const Finding& finding : report.findings) {
    text += finding.severity + " " + finding.code;
    if (!finding.path.empty()) text += " " + VisibleText(finding.path);
    text += ": " + VisibleText(finding.message) + "\n";
  }
  for (const Action& action : report.actions) {
    text += action.action + " " + VisibleText(action.path);
    if (!action.reason.empty()) text += " (" + VisibleText(action.reason) + ")";
    text += "\n";
  }
  bool keptNewer = false;
  for (const FileState& file : report.files) {
    if (file.state == "kept-newer") {
      keptNewer = true;
    } else {
      text += FileLine(file);
    }
  }
  if (keptNewer) {
    text += "Kept by the installer because the installed file is newer, yet not the kit's:\n";
    for (const FileState& file : report.files) {
      if (file.state == "kept-newer") text += "  " + FileLine(file);
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
