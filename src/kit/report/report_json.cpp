#include "kit/report/report_output.h"

#include <stdio.h>

#include "text/text_encoding.h"

namespace kit {

namespace {

std::string QuotedUtf8(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      default:
        if (byte < 0x20 || byte == 0x7F) {
          char escaped[7];
          snprintf(escaped, sizeof escaped, "\\u%04x", byte);
          out += escaped;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

std::string Quoted(const std::string& ansiText) { return QuotedUtf8(AnsiToUtf8(ansiText)); }

std::string Member(const std::string& name, const std::string& json) {
  return Quoted(name) + ": " + json;
}

// The holders of a finding's or an action's file, where there are.
std::string HeldBy(const std::string& heldBy) {
  return heldBy.empty() ? "" : ", " + Member("heldBy", QuotedUtf8(heldBy));
}

std::string Value(const Field& field) {
  return field.isNumber ? field.value : Quoted(field.value);
}

// An array of objects, one a line.
template <typename Item, typename ToJson>
std::string Array(const std::vector<Item>& items, ToJson toJson) {
  if (items.empty()) return "[]";
  std::string out = "[\n";
  for (size_t i = 0; i < items.size(); ++i) {
    out += "    " + toJson(items[i]) + (i + 1 < items.size() ? ",\n" : "\n");
  }
  return out + "  ]";
}

}  // namespace

std::string JsonReport(const Report& report) {
  std::vector<std::string> members = {Member("verb", Quoted(report.verb)),
                                      Member("kit", Quoted(report.kit))};
  std::string settings = "{";
  for (size_t i = 0; i < report.settings.size(); ++i) {
    settings += (i ? ", " : "") + Member(report.settings[i].name, Value(report.settings[i]));
  }
  members.push_back(Member("settings", settings + "}"));
  for (const Field& field : report.summary) members.push_back(Member(field.name, Value(field)));
  members.push_back(Member("findings", Array(report.findings, [](const Finding& finding) {
    return "{" + Member("code", Quoted(finding.code)) + ", " +
           Member("severity", Quoted(finding.severity)) + ", " +
           Member("path", Quoted(finding.path)) + ", " +
           Member("message", Quoted(finding.message)) + HeldBy(finding.heldBy) + "}";
  })));
  members.push_back(Member("actions", Array(report.actions, [](const Action& action) {
    return "{" + Member("action", Quoted(action.action)) + ", " +
           Member("path", Quoted(action.path)) + ", " + Member("reason", Quoted(action.reason)) +
           HeldBy(action.heldBy) + "}";
  })));
  members.push_back(Member("files", Array(report.files, [](const FileState& file) {
    return "{" + Member("path", Quoted(file.path)) + ", " + Member("state", Quoted(file.state)) +
           ", " + Member("folder", file.folder ? "true" : "false") + "}";
  })));
  if (!report.message.empty()) members.push_back(Member("message", Quoted(report.message)));
  members.push_back(Member("exitCode", std::to_string(report.exitCode)));

  std::string out = "{\n";
  for (size_t i = 0; i < members.size(); ++i) {
    out += "  " + members[i] + (i + 1 < members.size() ? ",\n" : "\n");
  }
  return out + "}\n";
}

}  // namespace kit
