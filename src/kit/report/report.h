// What one QuorvexKit verb found, in a form that prints both as text for
// people and as one JSON document.
#pragma once

#include <string>
#include <vector>

namespace kit {

struct Finding {
  std::string code;      // stable, e.g. "path-too-long"
  std::string severity;  // "error" or "warning"
  std::string path;      // relative to the kit folder, platform separator; may be empty
  std::string message;
  std::string heldBy = {};  // UTF-8: the programs that hold the file open, where known
};

struct Action {
  // plan: create-folder, copy, replace, keep, pass-over, remove, fail-folder,
  // fail-file; remove: remove, gone, keep, remains, remove-folder,
  // keep-folder, remains-folder
  std::string action;
  std::string path;    // relative to the install directory
  std::string reason;
  std::string heldBy = {};  // UTF-8: the programs that hold the file open, where known
};

struct FileState {
  std::string path;   // relative to the install directory
  std::string state;  // same, kept-newer, differs, missing (files); present, missing (folders)
  bool folder = false;
};

// A named value of the report's summary or settings. Text is in the ANSI code
// page; isNumber values are written to JSON without quotes.
struct Field {
  std::string name;  // lower camel case
  std::string value;
  bool isNumber = false;
};

// How many of actions are of the action name.
inline int CountActions(const std::vector<Action>& actions, const std::string& name) {
  int count = 0;
  for (const Action& action : actions) count += action.action == name;
  return count;
}

struct Report {
  std::string verb;
  std::string kit;              // the kit folder as given
  std::vector<Field> settings;  // the effective settings, as the installer reads them
  std::vector<Field> summary;   // verb-specific facts (counts, install directory, versions)
  std::vector<Finding> findings;
  std::vector<Action> actions;
  std::vector<FileState> files;
  std::string message;  // a line of its own: what the verb found as a whole
  int exitCode = 0;
};

}  // namespace kit
