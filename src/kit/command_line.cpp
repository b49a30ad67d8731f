#include "kit/command_line.h"

#include <string.h>

#include "app/run_log.h"

namespace kit {

const char kUsage[] =
    "usage: QuorvexKit check [KIT] [--install-dir DIR] [--codepage 932|1252] [--verbose] [--json]\n"
    "       QuorvexKit plan [KIT] [/p<install directory>] [--summary] [--json]\n"
    "       QuorvexKit verify [KIT] [/p<install directory>] [--summary] [--json]\n"
    "       QuorvexKit remove [KIT] [/p<install directory>] [--dry-run] [--identical-only] [--summary]\n"
    "                         [/log=FILE] [--json]\n"
    "KIT is the folder of Quorvex.ini and SRC (default: the kit QuorvexKit is in, itself or\n"
    "  in its x86 or x64 folder; else the current folder). remove refuses a KIT without\n"
    "  Quorvex.ini.\n"
    "check: what would make the installation fail or go wrong (exit 0, or 1 on errors).\n"
    "plan: what the installer would do here and now; exits with the installer's code.\n"
    "verify: whether the installed manual is the kit's (exit 0, or 1 when not).\n"
    "remove: uninstalls the kit's manual, as administrator (exit 0, or 1 when something remains).\n"
    "  It changes the machine; --dry-run only tells what it would remove and keep.\n"
    "  --identical-only, where no list of installed files can be used: only the pages that\n"
    "  hold the kit's bytes go, and the record; every other file stays.\n"
    "--verbose: check lists every link of SRC, not only the first few.\n"
    "--summary: plan and verify list only what is not as it should be, then the counts.\n"
    "--json: one JSON document, always complete.\n"
    "--quiet: no line of progress on standard error (shown only on a terminal, after a second).\n";

namespace {

bool StartsWith(const std::string& text, const char* prefix) {
  return text.compare(0, strlen(prefix), prefix) == 0;
}

bool ParseVerb(const std::string& text, Verb& verb) {
  if (text == "check") {
    verb = Verb::Check;
  } else if (text == "plan") {
    verb = Verb::Plan;
  } else if (text == "verify") {
    verb = Verb::Verify;
  } else if (text == "remove") {
    verb = Verb::Remove;
  } else if (text == "--help" || text == "-h" || text == "/?" || text == "help") {
    verb = Verb::Help;
  } else {
    return false;
  }
  return true;
}

// Takes the value of an option given as "--name VALUE" or "--name=VALUE".
bool TakeValue(int argc, char** argv, int& i, const std::string& name, std::string& value,
               std::string& error) {
  const std::string argument = argv[i];
  if (argument.size() > name.size()) {
    value = argument.substr(name.size() + 1);
    return true;
  }
  if (i + 1 >= argc) {
    error = name + " needs a value";
    return false;
  }
  value = argv[++i];
  return true;
}

bool IsOption(const std::string& argument, const char* name) {
  return argument == name || StartsWith(argument, (std::string(name) + "=").c_str());
}

}  // namespace

const char* VerbName(Verb verb) {
  switch (verb) {
    case Verb::Check: return "check";
    case Verb::Plan: return "plan";
    case Verb::Verify: return "verify";
    case Verb::Remove: return "remove";
    case Verb::Help: break;
  }
  return "help";
}

bool ParseCommandLine(int argc, char** argv, CommandLine& line, std::string& error) {
  line = CommandLine();
  if (argc < 2) {
    error = "no verb given (check, plan, verify or remove)";
    return false;
  }
  if (!ParseVerb(argv[1], line.verb)) {
    error = std::string("unknown verb '") + argv[1] + "' (check, plan, verify or remove)";
    return false;
  }
  if (line.verb == Verb::Help) return true;
  const bool removes = line.verb == Verb::Remove;
  const bool installsInto = line.verb == Verb::Plan || line.verb == Verb::Verify || removes;

  // As the installer reads it: the first one counts.
  const char* logFile = removes ? FindLogArgument(argc, argv) : nullptr;
  if (logFile) {
    line.logFile = logFile;
    if (line.logFile.empty()) {
      error = "/log= needs a file";
      return false;
    }
  }
  bool kitGiven = false;
  for (int i = 2; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--json") {
      line.json = true;
    } else if (argument == "--quiet") {
      line.quiet = true;
    } else if (removes && argument == "--dry-run") {
      line.dryRun = true;
    } else if (removes && argument == "--identical-only") {
      line.identicalOnly = true;
    } else if (removes && StartsWithLogSwitch(argv[i])) {
      // Taken above.
    } else if (!installsInto && argument == "--verbose") {
      line.verbose = true;
    } else if (installsInto && argument == "--summary") {
      line.summaryOnly = true;
    } else if (installsInto && StartsWith(argument, "/p")) {
      // The installer's switch; as there, the first one counts.
      line.installerArguments.push_back(argument);
    } else if (!installsInto && IsOption(argument, "--install-dir")) {
      if (!TakeValue(argc, argv, i, "--install-dir", line.installDir, error)) return false;
      if (line.installDir.empty()) {
        error = "--install-dir needs a folder";
        return false;
      }
    } else if (!installsInto && IsOption(argument, "--codepage")) {
      std::string value;
      if (!TakeValue(argc, argv, i, "--codepage", value, error)) return false;
      if (value != "932" && value != "1252") {
        error = "--codepage takes 932 or 1252, not '" + value + "'";
        return false;
      }
      line.codePage = value == "932" ? 932 : 1252;
    } else if (StartsWith(argument, "--") || argument == "-h") {
      error = "unknown option '" + argument + "' for " + argv[1];
      return false;
    } else if (kitGiven) {
      error = "more than one kit folder: '" + line.kitFolder + "' and '" + argument + "'";
      return false;
    } else {
      line.kitFolder = argument;
      kitGiven = true;
    }
  }
  return true;
}

}  // namespace kit
