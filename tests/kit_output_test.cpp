// QuorvexKit's command line and the forms of its reports: usage errors,
// the default kit folder, the text report, and names in the JSON report
// converted from the ANSI code page to UTF-8, odd bytes and control
// characters escaped.
#include <gtest/gtest.h>

#include <algorithm>
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

namespace {

RunResult RunKit(const std::vector<std::string>& arguments, const Environment& environment = {}) {
  return RunProgram(QuorvexKitExecutable(), arguments, environment);
}

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

// Options in any order; the kit folder defaults to the current one.
TEST(KitCommandLine, OptionsInAnyOrderAndTheCurrentFolderAsKit) {
  KitScenario scenario;
  scenario.Settings("3.2", 0);
  scenario.AddSource("index.html", "<index>");
  const fs::path previous = fs::current_path();
  fs::current_path(scenario.kit().kitFolder());
  Environment environment;
#ifndef _WIN32
  environment = {{"QUORVEX_HKLM", scenario.kit().HivePath().string()}};
#endif
  const RunResult fromHere = RunKit({"plan", "--json", scenario.installArgument()}, environment);
  fs::current_path(previous);
  const RunResult given = RunKit({"plan", scenario.installArgument(),
                                  scenario.kit().kitFolder().string(), "--json"}, environment);
  EXPECT_EQ(fromHere.exitCode, 0) << fromHere.errors;
  Json here, there;
  std::string error;
  ASSERT_TRUE(testing_support::ParseJson(fromHere.output, here, error)) << error;
  ASSERT_TRUE(testing_support::ParseJson(given.output, there, error)) << error;
  EXPECT_EQ(here["kit"].text, ".");
  EXPECT_EQ(here["settings"]["manualVersion"].text, "3.2");
  EXPECT_EQ(here["settings"]["messageDisplay"].number, 0);
  EXPECT_EQ(here["actions"].items.size(), 1u);
  EXPECT_EQ(there["actions"].items.size(), 1u);
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
