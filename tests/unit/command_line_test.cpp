#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/command_line.h"

namespace {

struct ScanCase {
  const char* name;
  std::vector<std::string> arguments;  // after the program name
  bool list;
  const char* mic;     // null: absent
  const char* system;  // null: absent
  bool version = false;
};

CommandLine scan(std::vector<std::string> arguments) {
  static std::vector<std::string> storage;
  storage = std::move(arguments);
  storage.insert(storage.begin(), "audiotap.exe");
  static std::vector<char*> argv;
  argv.clear();
  for (auto& argument : storage) argv.push_back(argument.data());
  argv.push_back(nullptr);
  return scanCommandLine(static_cast<int>(storage.size()), argv.data());
}

void expectValue(const char* actual, const char* expected, const char* what, const char* name) {
  if (expected == nullptr) {
    EXPECT_EQ(actual, nullptr) << what << " in " << name;
  } else {
    ASSERT_NE(actual, nullptr) << what << " in " << name;
    EXPECT_STREQ(actual, expected) << what << " in " << name;
  }
}

TEST(CommandLineScan, FollowsTheRules) {
  const ScanCase cases[] = {
      {"no arguments", {}, false, nullptr, nullptr},
      {"exclude-pid alone", {"--exclude-pid", "42"}, false, nullptr, nullptr},
      {"mic as last argument", {"--mic"}, false, nullptr, nullptr},
      {"system as last argument", {"--mic", "default", "--system"}, false, "default", nullptr},
      {"exclude-pid as last argument", {"--exclude-pid"}, false, nullptr, nullptr},
      {"system with empty value", {"--system", ""}, false, nullptr, ""},
      {"system with 0", {"--system", "0"}, false, nullptr, "0"},
      {"empty mic value", {"--mic", ""}, false, "", nullptr},
      {"second mic wins", {"--mic", "a", "--mic", "b"}, false, "b", nullptr},
      {"second system wins", {"--system", "1", "--system", "2"}, false, nullptr, "2"},
      {"mic swallows --list", {"--mic", "--list"}, false, "--list", nullptr},
      {"system swallows --mic", {"--system", "--mic", "x"}, false, nullptr, "--mic"},
      {"exclude-pid swallows --list", {"--exclude-pid", "--list", "--mic", "m"}, false, "m", nullptr},
      {"list between pairs", {"--mic", "a", "--list", "--system", "1"}, true, nullptr, nullptr},
      {"list first", {"--list", "--mic", "a"}, true, nullptr, nullptr},
      {"unknown argument between", {"--system", "1", "--verbose", "--mic", "default"}, false, "default", "1"},
      {"equals form is not an option", {"--mic=default", "--system=1"}, false, nullptr, nullptr},
      {"other letter case is not an option", {"--MIC", "x", "--List", "--System", "1"}, false, nullptr, nullptr},
      {"value that looks like an option", {"--mic", "--exclude-pid", "7"}, false, "--exclude-pid", nullptr},
      {"non-ASCII bytes kept", {"--mic", "Mikrofon \xe4"}, false, "Mikrofon \xe4", nullptr},
      {"version alone", {"--version"}, false, nullptr, nullptr, true},
      {"version first hides the rest", {"--version", "--list", "--mic", "a"}, false, nullptr, nullptr, true},
      {"version later is ignored", {"--mic", "a", "--version"}, false, "a", nullptr},
      {"version after list is never seen", {"--list", "--version"}, true, nullptr, nullptr},
      {"version as a value", {"--mic", "--version"}, false, "--version", nullptr},
      {"version in other letter case", {"--Version", "--system", "1"}, false, nullptr, "1"},
      {"version with equals", {"--version=1", "--mic", "m"}, false, "m", nullptr},
  };
  for (const auto& c : cases) {
    const CommandLine result = scan(c.arguments);
    EXPECT_EQ(result.versionRequested, c.version) << c.name;
    EXPECT_EQ(result.listRequested, c.list) << c.name;
    if (!c.list) {
      expectValue(result.micValue, c.mic, "mic", c.name);
      expectValue(result.systemValue, c.system, "system", c.name);
    }
  }
}

TEST(CommandLineScan, ValuesPointIntoArgv) {
  std::string program = "audiotap", option = "--mic", value = "Headset";
  char* argv[] = {program.data(), option.data(), value.data(), nullptr};
  EXPECT_EQ(scanCommandLine(3, argv).micValue, value.data());
}

}  // namespace
