// The command line of QuorvexKit: a verb, a kit folder and the verb's options.
#pragma once

#include <string>
#include <vector>

namespace kit {

enum class Verb { Help, Check, Plan, Verify, Remove };

struct CommandLine {
  Verb verb = Verb::Help;
  // As given; empty when none is (then the kit QuorvexKit stands in, else
  // the current folder).
  std::string kitFolder;
  bool json = false;
  // Text: check lists every link (not only the first few), plan and verify
  // only what is not as it should be.
  bool verbose = false;
  bool summaryOnly = false;
  bool quiet = false;  // no line of progress on standard error
  // plan, verify and remove: every argument that the installer takes for
  // "/p", in order.
  std::vector<std::string> installerArguments;
  // remove
  bool dryRun = false;
  bool identicalOnly = false;  // remove without a usable list: only the kit's identical pages
  std::string logFile;  // "/log=FILE" in any case: the report is added to FILE too
  // check
  std::string installDir;  // empty: the default
  int codePage = 0;        // 0: both 932 and 1252
};

// Parses argv (argv[0] is the program). Options may come in any order. False
// for a usage error, with a one-line description in error.
bool ParseCommandLine(int argc, char** argv, CommandLine& line, std::string& error);

// "check", "plan", ...
const char* VerbName(Verb verb);

// The usage text, several lines.
extern const char kUsage[];

}  // namespace kit
