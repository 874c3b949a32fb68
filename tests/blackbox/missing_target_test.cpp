// Runs the built executables as a host does and reads their streams.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/process_runner.h"
#include "tests/support/test_legs.h"

namespace {

struct Build {
  const char* name;
  std::vector<std::string> launcher;  // empty: run directly
  std::string path;
  const char* lineEnding;
};

// Why audiotap.exe cannot run under Wine 10 here, or empty when it can.
std::string windowsBuildUnavailable() {
  if (!fileExists(AUDIOTAP_WINDOWS_EXE)) return std::string(AUDIOTAP_WINDOWS_EXE) + " is not built";
  return wine10Unusable(AUDIOTAP_WINE10);
}

// Every build that runs here; the Windows one under Wine 10, through its wrapper.
std::vector<Build> availableBuilds() {
  std::vector<Build> builds = {{"audiotap-sim", {}, AUDIOTAP_SIM_PATH, "\n"},
                               {"audiotap", {}, AUDIOTAP_LINUX_PATH, "\n"}};
  static const std::string windowsProblem = windowsBuildUnavailable();
  if (windowsProblem.empty()) {
    builds.push_back({"audiotap.exe", {AUDIOTAP_WINE10, "wine"}, AUDIOTAP_WINDOWS_EXE, "\r\n"});
  } else if (everyLegMustRun()) {
    ADD_FAILURE() << "audiotap.exe cannot run under Wine 10: " << windowsProblem;
  } else {
    std::printf("audiotap.exe left out, because %s\n", windowsProblem.c_str());
  }
  return builds;
}

ProcessResult run(const Build& build, const std::vector<std::string>& arguments) {
  std::vector<std::string> command = build.launcher;
  command.push_back(build.path);
  command.insert(command.end(), arguments.begin(), arguments.end());
  return runProcess(command, {{"WINEDEBUG", "-all"}});
}

TEST(MissingTarget, EveryBuildReportsItAndExitsThree) {
  const std::vector<std::vector<std::string>> argumentLists = {
      {}, {"--exclude-pid", "42"}, {"--mic"}, {"--system"}, {"--mic=default", "--SYSTEM", "1"}};
  const auto builds = availableBuilds();
  for (const auto& build : builds) {
    for (const auto& arguments : argumentLists) {
      const ProcessResult result = run(build, arguments);
      const std::string expected =
          std::string("{\"event\":\"fault\",\"reason\":\"capture.targetMissing\",\"detail\":\"no-target\"}") +
          build.lineEnding;
      EXPECT_EQ(result.standardError, expected) << build.name << " with " << arguments.size() << " arguments";
      EXPECT_EQ(result.standardOutput, "") << build.name;
      EXPECT_EQ(result.exitStatus, 3) << build.name;
      const auto event = nlohmann::json::parse(splitLines(result.standardError).at(0));
      EXPECT_EQ(event["reason"], "capture.targetMissing");
      EXPECT_EQ(event.size(), 3u);
    }
  }
}

TEST(Version, FirstArgumentPrintsOneLineAnywhereElseItIsIgnored) {
  const auto builds = availableBuilds();
  for (const auto& build : builds) {
    for (const auto& arguments :
         {std::vector<std::string>{"--version"}, std::vector<std::string>{"--version", "--mic", "default", "--list"}}) {
      const ProcessResult result = run(build, arguments);
      EXPECT_EQ(result.standardOutput, std::string("audiotap " AUDIOTAP_VERSION) + build.lineEnding) << build.name;
      EXPECT_EQ(result.standardError, "") << build.name;
      EXPECT_EQ(result.exitStatus, 0) << build.name;
    }
    // Later on it is an unknown argument like any other: here, no target.
    const ProcessResult later = run(build, {"--exclude-pid", "1", "--version"});
    EXPECT_EQ(later.standardOutput, "") << build.name;
    EXPECT_EQ(later.exitStatus, 3) << build.name;
  }
  EXPECT_TRUE(std::string(AUDIOTAP_VERSION).find_first_not_of("0123456789.") == std::string::npos);
}

}  // namespace
