// The Linux program loads libpulse only when it needs the sound server: it
// starts where the library is missing and says so as a fault line.
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/process_runner.h"

namespace {

TEST(LibpulseLoading, TheProgramNeedsNothingBeyondGlibcAtLoadTime) {
  const ProcessResult dynamic = runProcess({findOnPath("readelf"), "-d", AUDIOTAP_LINUX_PATH});
  ASSERT_EQ(dynamic.exitStatus, 0) << dynamic.standardError;
  const std::set<std::string> allowed = {"libc.so.6", "libm.so.6", "ld-linux-x86-64.so.2"};
  std::istringstream lines(dynamic.standardOutput);
  std::string line;
  int needed = 0;
  while (std::getline(lines, line)) {
    if (line.find("(NEEDED)") == std::string::npos) continue;
    ++needed;
    const auto open = line.find('[');
    const std::string name = line.substr(open + 1, line.find(']') - open - 1);
    EXPECT_TRUE(allowed.count(name) == 1) << "needs " << name;
  }
  EXPECT_GT(needed, 0);
}

TEST(LibpulseLoading, WithoutTheLibraryEveryModeEndsInOneFaultLineAndStatusThree) {
  const std::string expected =
      "{\"event\":\"fault\",\"reason\":\"capture.separateUnavailable\",\"detail\":\"MMDeviceEnumerator:0x8007007e\"}\n";
  const std::vector<std::vector<std::string>> commands = {
      {AUDIOTAP_LINUX_PATH, "--list"},
      {AUDIOTAP_LINUX_PATH, "--mic", "default", "--system", "1"},
      {AUDIOTAP_LINUX_PATH, "--system", "1"},
  };
  for (const auto& command : commands) {
    const ProcessResult result = runProcess(command, {{"LD_PRELOAD", AUDIOTAP_HIDE_LIBPULSE}});
    EXPECT_EQ(result.standardError, expected) << command[1];
    EXPECT_EQ(result.standardOutput, "") << command[1];
    EXPECT_EQ(result.exitStatus, 3) << command[1];
  }
  // The version needs no sound server, so it needs no library either.
  const ProcessResult version =
      runProcess({AUDIOTAP_LINUX_PATH, "--version"}, {{"LD_PRELOAD", AUDIOTAP_HIDE_LIBPULSE}});
  EXPECT_EQ(version.exitStatus, 0);
  EXPECT_EQ(version.standardOutput.rfind("audiotap ", 0), 0u) << version.standardOutput;
}

}  // namespace
