// QuorvexKit's command line and the forms of its reports: usage errors,
// the default kit folder, a kit without settings, the log switch, the text
// report, and names in the JSON report converted from the ANSI code page to
// UTF-8, odd bytes and control characters escaped.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "support/kit_scenario.h"

using testing_support::Environment;
using testing_support::Json;
using testing_support::KitScenario;
using testing_support::QuorvexKitExecutable;
using testing_support::RunProgram;
using testing_support::RunResult;
using testing_support::TempFolder;

namespace {

RunResult RunKit(const std::vector<std::string>& arguments, const Environment& environment = {}) {
  return RunProgram(QuorvexKitExecutable(), arguments, environment);
}

Json ParsedReport(const RunResult& result) {
  Json report;
  std::string error;
  EXPECT_TRUE(testing_support::ParseJson(result.output, report, error))
      << error << "\n" << result.output << result.errors;
  return report;
}

// Whether a report's kit is folder, named in full (with or without a
// trailing separator).
bool IsFolderInFull(const std::string& kit, const fs::path& folder) {
  fs::path taken = kit;
  if (!taken.has_filename()) taken = taken.parent_path();
  std::error_code error;
  return taken.is_absolute() && fs::equivalent(taken, folder, error);
}

// The test's current folder for a while.
class InFolder {
 public:
  explicit InFolder(const fs::path& folder) : previous_(fs::current_path()) {
    fs::current_path(folder);
  }
  ~InFolder() { fs::current_path(previous_); }

 private:
  fs::path previous_;
};

TEST(KitCommandLine, UsageErrorsExitWithTwoAndOneLine) {
  KitScenario scenario;
  const std::string kit = scenario.kit().kitFolder().string();
  const std::string missing = (scenario.kit().folder() / "no-such-kit").string();
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"install"},
      {"plan", kit, "--verbose"},
      {"plan", kit, kit},
      {"verify", missing},
      {"plan", kit, "--install-dir", "C:\\x"},
      {"check", kit, "--codepage", "437"},
      {"check", kit, "--install-dir"},
      {"check", (scenario.kit().kitFolder() / "Quorvex.exe").string()},
      {"remove", kit, "/LOG="},
  };
  scenario.Settings("1", 0);
  for (const auto& arguments : cases) {
    std::string line;
    for (const auto& argument : arguments) line += argument + " ";
    SCOPED_TRACE(line);
    const RunResult result = RunKit(arguments);
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(result.output, "");
    ASSERT_FALSE(result.errors.empty());
    EXPECT_EQ(result.errors.find('\n'), result.errors.size() - 1) << result.errors;
  }
  const RunResult help = RunKit({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.output.find("QuorvexKit plan"), std::string::npos);
}

// Options in any order; the kit folder defaults to the current one, named
// in full.
TEST(KitCommandLine, OptionsInAnyOrderAndTheCurrentFolderAsKit) {
  KitScenario scenario;
  scenario.Settings("3.2", 0);
  scenario.AddSource("index.html", "<index>");
  RunResult fromHere;
  {
    InFolder in(scenario.kit().kitFolder());
    fromHere = RunKit({"plan", "--json", scenario.installArgument()});
  }
  const RunResult given = RunKit({"plan", scenario.installArgument(),
                                  scenario.kit().kitFolder().string(), "--json"});
  EXPECT_EQ(fromHere.exitCode, 0) << fromHere.errors;
  Json here = ParsedReport(fromHere);
  Json there = ParsedReport(given);
  EXPECT_TRUE(IsFolderInFull(here["kit"].text, scenario.kit().kitFolder())) << here["kit"].text;
  EXPECT_EQ(here["settings"]["manualVersion"].text, "3.2");
  EXPECT_EQ(here["settings"]["messageDisplay"].number, 0);
  EXPECT_EQ(here["actions"].items.size(), 1u);
  EXPECT_EQ(there["actions"].items.size(), 1u);
}

// Without KIT, QuorvexKit takes the kit it stands in (its own folder, or
// the one above its x86 or x64 folder, when that holds Quorvex.ini), else
// the current folder; the report names the folder taken, in full.
TEST(KitCommandLine, WithoutKitTheKitItStandsInElseTheCurrentFolder) {
  KitScenario scenario;
  scenario.Settings("3.2", 0);
  scenario.AddSource("index.html", "<index>");
  const fs::path kit = scenario.kit().kitFolder();
  TempFolder here;
  testing_support::WriteFile(here.path() / "Quorvex.ini", "[Product]\nManualVersion=7.7\n");
  fs::create_directories(here.path() / "SRC");
  InFolder in(here.path());
  struct Case {
    fs::path folder;  // of the program, in the kit
    bool standsIn;
  };
  const Case cases[] = {
      {kit, true}, {kit / "x64", true}, {kit / "X86", true}, {kit / "tools", false},
      // x64 below a folder without Quorvex.ini
      {kit / "SRC" / "x64", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.folder.string());
    const fs::path program = c.folder / fs::path(QuorvexKitExecutable()).filename();
    fs::create_directories(c.folder);
    fs::copy_file(QuorvexKitExecutable(), program);
    const RunResult result =
        RunProgram(program.string(), {"plan", scenario.installArgument(), "--json"});
    const Json report = ParsedReport(result);
    EXPECT_TRUE(IsFolderInFull(report["kit"].text, c.standsIn ? kit : here.path()))
        << report["kit"].text;
    EXPECT_EQ(report["settings"]["manualVersion"].text, c.standsIn ? "3.2" : "7.7");
    fs::remove(program);
  }
  // The build's own folder holds no kit.
  const Json report = ParsedReport(RunKit({"plan", scenario.installArgument(), "--json"}));
  EXPECT_TRUE(IsFolderInFull(report["kit"].text, here.path())) << report["kit"].text;
}

// A KIT without Quorvex.ini, given or taken: remove refuses it with 2 and
// one line, touching nothing, where it would act on the sample's product;
// plan and verify run and report it as an error, as check does.
TEST(KitCommandLine, AKitWithoutSettings) {
  KitScenario scenario;
  scenario.Settings("3.2", 0);
  scenario.AddSource("index.html", "<index>");
  ASSERT_EQ(scenario.Install({scenario.installArgument()}).exitCode, 0);
  const fs::path kit = scenario.kit().kitFolder();
  const fs::path settings = kit / "Quorvex.ini";
  fs::remove(settings);
  const auto before = testing_support::SnapshotTree(scenario.install());
  const fs::path log = scenario.kit().folder() / "remove.log";
  for (const bool settingsIsFolder : {false, true}) {
    SCOPED_TRACE(settingsIsFolder ? "Quorvex.ini is a folder" : "no Quorvex.ini");
    if (settingsIsFolder) fs::create_directory(settings);
    for (const std::string& given : {kit.string(), std::string()}) {
      InFolder in(kit);
      std::vector<std::string> arguments = {"remove", scenario.installArgument(),
                                            "/log=" + log.string()};
      if (!given.empty()) arguments.push_back(given);
      const RunResult removed = RunKit(arguments);
      EXPECT_EQ(removed.exitCode, 2);
      EXPECT_EQ(removed.output, "");
      EXPECT_NE(removed.errors.find("holds no Quorvex.ini: remove needs the kit of the manual"),
                std::string::npos) << removed.errors;
      EXPECT_EQ(removed.errors.find('\n'), removed.errors.size() - 1) << removed.errors;
    }
    EXPECT_EQ(testing_support::SnapshotTree(scenario.install()), before);
    EXPECT_EQ(scenario.Recorded(), "3.2");
    EXPECT_FALSE(fs::exists(log));

    for (const char* verb : {"check", "plan", "verify"}) {
      SCOPED_TRACE(verb);
      const bool check = std::string(verb) == "check";
      const auto report = scenario.RunKit(verb, {check ? "--verbose" : scenario.installArgument()});
      std::string severity;
      for (const Json& finding : report.json["findings"].items) {
        if (finding["code"].text == "no-settings") severity = finding["severity"].text;
      }
      EXPECT_EQ(severity, "error") << report.errors;
      // plan exits with the installer's code.
      if (std::string(verb) != "plan") {
        EXPECT_EQ(report.exitStatus, 1);
      }
    }
  }
}

// remove reads /log= in any case, as the installer does: the first one
// counts. Each run appends a block that starts with the time, QuorvexKit,
// its version and the command line; a log whose folder is missing gets none
// made, and the report says so. Native paths in the log have one separator.
TEST(KitCommandLine, TheLogSwitchInAnyCase) {
  KitScenario scenario;
  scenario.Settings("3.2", 0);
  scenario.AddSource("guide/index.html", "<index>");
  const fs::path first = scenario.kit().folder() / "first.log";
  const fs::path second = scenario.kit().folder() / "second.log";
  const std::string firstSwitch = "/LOG=" + testing_support::HostPath(first.string());
  auto report = scenario.RunKit(
      "remove", {"--dry-run", firstSwitch, "/Log=" + testing_support::HostPath(second.string())});
  EXPECT_EQ(report.exitStatus, 0) << report.errors;
  EXPECT_NE(testing_support::ReadFile(first).find("nothing of this manual is installed"),
            std::string::npos);
  EXPECT_FALSE(fs::exists(second));

  // A list that cannot be used is named in the report, natively by a path
  // built with "\\" as on Windows.
  ASSERT_EQ(scenario.Install({scenario.installArgument()}).exitCode, 0);
  for (const auto& entry : fs::directory_iterator(scenario.ListFolder())) {
    if (entry.path().extension() == ".list") testing_support::WriteFile(entry.path(), "spoilt");
  }
  const std::vector<std::string> spoilt = {"--dry-run", scenario.installArgument()};
  const int unusable = scenario.RunKit("remove", spoilt).exitStatus;
  EXPECT_NE(unusable, 0);
  report = scenario.RunKit("remove",
                           {spoilt[0], spoilt[1], "/log=" + testing_support::HostPath(first.string())});
  EXPECT_EQ(report.exitStatus, unusable) << report.errors;
  const std::string log = testing_support::ReadFile(first);
  const std::regex header("==== [0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z QuorvexKit "
                          "[0-9]+(?:\\.[0-9]+)+ \\((?:Linux|x64|x86)\\): "
                          "(?:\"[^\"]*|[^ ]*)QuorvexKit(?:\\.exe)?\"? remove (.*)");
  std::vector<std::string> arguments;
  for (size_t at = 0; at < log.size(); at = log.find('\n', at) + 1) {
    std::string line = log.substr(at, log.find('\n', at) - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::smatch match;
    if (line.compare(0, 5, "==== ") != 0) continue;
    EXPECT_TRUE(std::regex_match(line, match, header)) << line;
    arguments.push_back(match.size() > 1 ? match[1].str() : "");
  }
#ifndef _WIN32
  // Natively paths are built with "\\" as on Windows; the log has "/".
  EXPECT_EQ(log.find('\\'), std::string::npos) << log;
#endif
  ASSERT_EQ(arguments.size(), 2u) << log;
  EXPECT_NE(arguments[0].find(" --dry-run " + firstSwitch + " /Log="), std::string::npos)
      << arguments[0];
  EXPECT_NE(arguments[1].find(" --dry-run " + spoilt[1] + " /log="), std::string::npos)
      << arguments[1];
  EXPECT_NE(log.find(" is not used"), std::string::npos) << log;

  // No folder is made for a log; the run ends with the code it has without one.
  const fs::path missing = scenario.kit().folder() / "no-logs" / "deeper" / "remove.log";
  report = scenario.RunKit(
      "remove", {spoilt[0], spoilt[1], "/log=" + testing_support::HostPath(missing.string())});
  EXPECT_EQ(report.exitStatus, unusable) << report.errors;
  EXPECT_FALSE(fs::exists(scenario.kit().folder() / "no-logs"));
  std::string why;
  for (const Json& finding : report.json["findings"].items) {
    if (finding["code"].text == "log-not-written") why = finding["message"].text;
  }
  EXPECT_NE(why.find(" does not exist"), std::string::npos) << why;
}

// check's options reach it, in any order and either form.
TEST(KitCommandLine, CheckTakesItsOptions) {
  KitScenario scenario;
  scenario.Settings("3.2", 0);
  scenario.AddSource("index.html", "<index>");
  const std::string installDir = "C:\\Apps\\Orvinel\\";
  auto report = scenario.RunKit("check", {"--codepage", "932", "--install-dir=" + installDir});
  EXPECT_EQ(report.exitStatus, 0) << report.errors;
  EXPECT_EQ(report.json["verb"].text, "check");
  EXPECT_EQ(report.json["installDir"].text, installDir);
  EXPECT_EQ(report.json["codePages"].text, "932");
  report = scenario.RunKit("check", {"--install-dir", installDir, "--codepage=1252"});
  EXPECT_EQ(report.json["codePages"].text, "1252");
  EXPECT_EQ(report.json["installDir"].text, installDir);

  // A Western kit passes with a warning for Japanese Windows, unless 932 is
  // the code page asked for.
  testing_support::WriteFile(scenario.kit().sourceFolder() / fs::u8path("Caf\xC3\xA9 notes.txt"),
                             "notes");
  report = scenario.RunKit("check", {});
  EXPECT_EQ(report.exitStatus, 0) << report.errors;
  EXPECT_EQ(report.json["errors"].number, 0);
  const auto& findings = report.json["findings"].items;
  ASSERT_EQ(findings.size(), 1u);
  EXPECT_EQ(findings[0]["code"].text, "not-in-code-page");
  EXPECT_EQ(findings[0]["severity"].text, "warning");
  EXPECT_NE(findings[0]["message"].text.find(
                "cannot be installed on Japanese Windows (code page 932)"),
            std::string::npos) << findings[0]["message"].text;
  EXPECT_EQ(scenario.RunKit("check", {"--codepage", "932"}).exitStatus, 1);
  EXPECT_EQ(scenario.RunKit("check", {"--codepage", "1252"}).exitStatus, 0);
}

// The text report: one line per action, then the summary and exit code.
TEST(KitReport, TextHasOneLinePerActionThenTheSummary) {
  KitScenario scenario;
  scenario.Settings("3.2", 0);
  scenario.AddSource("guide/index.html", "<index>");
  const RunResult result = RunKit({"plan", scenario.kit().kitFolder().string(),
                                   scenario.installArgument()}
#ifndef _WIN32
                                  , {{"QUORVEX_HKLM", scenario.kit().HivePath().string()}}
#endif
  );
  EXPECT_EQ(result.exitCode, 0);
  const std::string separator(1, static_cast<char>(fs::path::preferred_separator));
  std::string text = result.output;  // lines end in CR LF on Windows
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  const size_t folder = text.find("\ncreate-folder guide\n");
  const size_t copy = text.find("\ncopy guide" + separator + "index.html\n");
  const size_t summary = text.find("\nverdict: allowed\n");
  ASSERT_NE(folder, std::string::npos) << text;
  ASSERT_NE(copy, std::string::npos) << text;
  ASSERT_NE(summary, std::string::npos) << text;
  EXPECT_LT(folder, copy);
  EXPECT_LT(copy, summary);
  EXPECT_NE(text.find("\nexit code: 0\n"), std::string::npos);

  // --summary: only what is not as it should be (a newer installed file
  // kept), then the counts.
  scenario.AddSource("guide/old.html", "<old>");
  scenario.AddInstalled("guide/old.html", "<newer>", testing_support::kTime + testing_support::kSecond);
  // Wine shows every file as the running account's, who might have planted
  // it: only the test build, which trusts that account, keeps it there.
  const RunResult brief = RunProgram(
#ifdef _WIN32
      testing_support::HostPath(QUORVEX_KIT_KILL_POINTS_EXE),
      {"plan", "--summary", scenario.kit().kitFolder().string(), scenario.installArgument()},
      {{"QUORVEX_TRUST_RUNNING_USER", "1"}});
#else
      QuorvexKitExecutable(),
      {"plan", "--summary", scenario.kit().kitFolder().string(), scenario.installArgument()},
      {{"QUORVEX_HKLM", scenario.kit().HivePath().string()}});
#endif
  text = brief.output;
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  EXPECT_EQ(text.find("\ncopy guide"), std::string::npos) << text;
  EXPECT_NE(text.find("\nkeep guide" + separator + "old.html (the installed file is newer)\n"),
            std::string::npos) << text;
  EXPECT_NE(text.find("\ncopy: 1\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nkeep: 1\n"), std::string::npos) << text;
}

// Names come out of the JSON report as UTF-8, whatever the code page they
// are in; bytes that are no text there are written as "\xNN".
TEST(KitReport, JsonNamesAreUtf8WithOddBytesEscaped) {
  struct Case {
    const char* locale;  // natively
    std::string name;
    std::string expected;
  };
  std::vector<Case> cases = {{"C", "caf\xE9.html", "caf\xC3\xA9.html"}};
#ifndef _WIN32
  cases.push_back({"ja_JP.SJIS", "\x95\x5c.html", "\xE8\xA1\xA8.html"});   // 表
  cases.push_back({"C.UTF-8", "\xFF" "bad.html", "\\xFFbad.html"});
  cases.push_back({"C.UTF-8", "tab\there \"q\".html", "tab\there \"q\".html"});
#endif
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    KitScenario scenario;
    scenario.Settings("1", 0);
#ifdef _WIN32
    // Made with the ANSI call: in the code page of the tests' Wine, 1252.
    testing_support::WriteFile(scenario.kit().sourceFolder() / "x", "");
    ASSERT_TRUE(MoveFileA((scenario.kit().sourceFolder() / "x").string().c_str(),
                          (scenario.kit().sourceFolder().string() + "\\" + c.name).c_str()));
    const Environment environment;
#else
    testing_support::WriteFile(scenario.kit().sourceFolder() / c.name, "");
    const Environment environment = {{"LC_ALL", c.locale}};
#endif
    const auto report = scenario.RunKit("plan", {scenario.installArgument()}, environment);
    EXPECT_EQ(report.exitStatus, 0);
    const auto& actions = report.json["actions"].items;
    ASSERT_EQ(actions.size(), 1u);
    EXPECT_EQ(actions[0]["path"].text, c.expected);
  }
}

}  // namespace
