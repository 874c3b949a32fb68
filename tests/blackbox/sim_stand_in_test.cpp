// audiotap-sim as the stand-in a host runs in its own tests: signals stop it
// in order, a reader that goes away ends it in order, and on the real clock
// the stream arrives at the real pace.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/sim_run.h"
#include "tests/support/sim_worlds.h"

namespace {
using nlohmann::json;
using Clock = std::chrono::steady_clock;

// A scenario file that lives as long as the test needs it.
struct ScenarioFile {
  explicit ScenarioFile(const std::string& text) {
    const int descriptor = mkstemp(path);
    if (descriptor >= 0) {
      EXPECT_EQ(write(descriptor, text.data(), text.size()), static_cast<ssize_t>(text.size()));
      close(descriptor);
    }
  }
  ~ScenarioFile() { unlink(path); }
  char path[64] = "/tmp/audiotap-stand-in-XXXXXX";
};

std::string worldOn(const char* clock, const json& stop = nullptr) {
  json world = json::parse(twoEndpointWorld());
  world["clock"] = clock;
  world.erase("stop");
  if (!stop.is_null()) world["stop"] = stop;
  return world.dump();
}

struct SignalledRun {
  ProcessResult result;
  std::vector<std::string> lines;
};

// Runs audiotap-sim with both sources, reading both pipes all the time, and
// sends signalNumber once the "started" line is in and `after` has passed.
SignalledRun runAndSignal(const std::string& scenarioPath, int signalNumber, std::chrono::milliseconds after) {
  const SignalAfterFirstLine signal{signalNumber, after};
  SignalledRun run;
  run.result = runProcess({AUDIOTAP_SIM_PATH, "--mic", "default", "--system", "1"},
                          {{"AUDIOTAP_SIM_SCENARIO", scenarioPath}}, &signal);
  run.lines = splitLines(run.result.standardError);
  return run;
}

TEST(AudiotapSimStandIn, SigintAndSigtermStopInOrderOnEitherClock) {
  struct Case {
    const char* name;
    int signalNumber;
    const char* clock;
  };
  const Case cases[] = {{"SIGINT, real clock", SIGINT, "real"},
                        {"SIGTERM, real clock", SIGTERM, "real"},
                        {"SIGINT, virtual clock", SIGINT, "virtual"},
                        {"SIGTERM, virtual clock", SIGTERM, "virtual"}};
  for (const auto& c : cases) {
    // The virtual clock would end the run by itself at 10 s: too soon to
    // be sure the signal did it, so its run is told to last a virtual day.
    const json stop = std::string(c.clock) == "virtual" ? json{{"controlEventAtMs", 86400000}} : json(nullptr);
    const ScenarioFile scenario(worldOn(c.clock, stop));
    const SignalledRun run = runAndSignal(scenario.path, c.signalNumber, std::chrono::milliseconds(200));
    EXPECT_EQ(run.result.exitStatus, 0) << c.name;
    ASSERT_EQ(run.lines.size(), 2u) << c.name << ": " << run.result.standardError;
    EXPECT_EQ(json::parse(run.lines[0])["event"], "started") << c.name;
    EXPECT_EQ(run.lines[1], R"({"event":"stopped"})") << c.name;
    EXPECT_EQ(run.result.standardOutput.size() % 4, 0u) << c.name << ": whole frames only";
    EXPECT_GT(run.result.standardOutput.size(), 0u) << c.name;
  }
}

TEST(AudiotapSimStandIn, AReaderThatGoesAwayEndsTheRunInOrder) {
  for (const char* clock : {"real", "virtual"}) {
    const ScenarioFile scenario(worldOn(clock));
    // The sim's own status, not the pipeline's, is what the shell exits with.
    const ProcessResult result =
        runProcess({"/bin/bash", "-c", "\"$0\" --mic default | head -c 32000 | wc -c; exit \"${PIPESTATUS[0]}\"",
                    AUDIOTAP_SIM_PATH},
                   {{"AUDIOTAP_SIM_SCENARIO", scenario.path}});
    EXPECT_EQ(result.exitStatus, 0) << clock << " clock: " << result.standardError;
    EXPECT_EQ(result.standardOutput, "32000\n") << clock;
    const auto lines = splitLines(result.standardError);
    ASSERT_EQ(lines.size(), 2u) << clock << ": " << result.standardError;
    EXPECT_EQ(lines[1], R"({"event":"stopped"})") << clock;
  }
}

TEST(AudiotapSimStandIn, TheRealClockDeliversSixteenThousandFramesASecond) {
  const ScenarioFile scenario(worldOn("real", {{"controlEventAtMs", 3000}}));
  const auto begun = Clock::now();
  const ProcessResult result =
      runProcess({AUDIOTAP_SIM_PATH, "--mic", "default", "--system", "1"}, {{"AUDIOTAP_SIM_SCENARIO", scenario.path}});
  const double wallSeconds = std::chrono::duration<double>(Clock::now() - begun).count();
  EXPECT_EQ(result.exitStatus, 0) << result.standardError;
  const double audioSeconds = static_cast<double>(result.standardOutput.size()) / (2 * 2 * 16000);
  EXPECT_NEAR(audioSeconds, 3.0, 0.15);
  EXPECT_GE(wallSeconds, 3.0) << "the run did not wait for the real clock";
}

TEST(AudiotapSimStandIn, AnUnknownClockIsRefused) {
  const SimRun run = runSim(R"({"clock":"fast"})", {"--mic", "default"});
  EXPECT_EQ(run.result.exitStatus, 2);
  ASSERT_EQ(run.lines.size(), 1u) << run.result.standardError;
  EXPECT_NE(run.lines[0].find("clock: must be \"real\" or \"virtual\""), std::string::npos) << run.lines[0];
}

}  // namespace
