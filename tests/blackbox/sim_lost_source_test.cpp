// A source whose device goes away while the run goes on: the host gets every
// byte a run without the loss writes up to it, then the fault and status 4.
// A failure that does not say the device is gone only silences the source.
#include <gtest/gtest.h>

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/support/sim_run.h"
#include "tests/support/sim_worlds.h"

namespace {
using nlohmann::json;

constexpr int kStopMs = 2000;

struct LossSource {
  const char* name;
  std::vector<std::string> arguments;
  bool micLost;  // else the speaker, captured as the desktop
  const char* slot;
  int channels;
  int lostChannel;
};

const std::vector<LossSource> kLossSources = {
    {"mic-alone", {"--mic", "default"}, true, "mic", 1, 0},
    {"desktop-alone", {"--system", "1"}, false, "desktop", 1, 0},
    {"mic-of-two", {"--mic", "default", "--system", "1"}, true, "mic", 2, 0},
    {"desktop-of-two", {"--mic", "default", "--system", "1"}, false, "desktop", 2, 1},
};

// Tones, so that every frame's bytes depend on when it was captured.
std::string world(const LossSource& source, const json& loss, int stopMs) {
  const json micTone = {{"signal", {{"kind", "sine"}, {"frequency", 440}, {"amplitude", 0.5}}}};
  const json speakerTone = {{"signal", {{"kind", "sine"}, {"frequency", 1000}, {"amplitude", 0.25}}}};
  json mic = micTone;
  json speaker = speakerTone;
  (source.micLost ? mic : speaker).merge_patch(loss);
  return twoEndpointWorld(mic, speaker, {}, stopMs);
}

// The loop drains every 10 ms of virtual time; the first pass at or after the
// loss meets it, so the last pass that writes is the one before.
int lastPassBeforeMs(int lostAtMs) { return (lostAtMs + 9) / 10 * 10 - 10; }

TEST(AudiotapSimLostSource, EndsWithTheFaultAfterExactlyTheBytesOfARunWithoutTheLoss) {
  for (const auto& source : kLossSources) {
    const SimRun normal = runSim(world(source, json::object(), kStopMs), source.arguments);
    ASSERT_EQ(normal.result.exitStatus, 0) << source.name << ": " << normal.result.standardError;
    for (const int lostAtMs : {1000, 1234}) {
      const SimRun upToLoss = runSim(world(source, json::object(), lastPassBeforeMs(lostAtMs)), source.arguments);
      const std::string& expected = upToLoss.result.standardOutput;
      ASSERT_GT(expected.size(), 0u);
      ASSERT_EQ(normal.result.standardOutput.compare(0, expected.size(), expected), 0) << source.name;
      for (const char* status : {"0x88890004", "0x88890010"}) {
        const std::string row =
            std::string(source.name) + " lost at " + std::to_string(lostAtMs) + " ms with " + status;
        const SimRun lost =
            runSim(world(source, {{"lostAtMs", lostAtMs}, {"lostStatus", status}}, kStopMs), source.arguments);
        EXPECT_EQ(lost.result.exitStatus, 4) << row;
        EXPECT_TRUE(lost.result.standardOutput == expected)
            << row << ": " << lost.result.standardOutput.size() << " bytes, " << expected.size() << " expected";
        const std::vector<std::string> lines = {
            normal.lines.at(0), faultLine("capture.stopped", std::string("GetNextPacketSize:") + status, source.slot)};
        EXPECT_EQ(lost.lines, lines) << row;
      }
    }
  }
}

TEST(AudiotapSimLostSource, LossStatusDefaultsToTheDeviceBeingInvalidated) {
  const LossSource& source = kLossSources[0];
  const SimRun lost = runSim(world(source, {{"lostAtMs", 500}}, kStopMs), source.arguments);
  EXPECT_EQ(lost.result.exitStatus, 4);
  ASSERT_EQ(lost.lines.size(), 2u) << lost.result.standardError;
  EXPECT_EQ(lost.lines[1], faultLine("capture.stopped", "GetNextPacketSize:0x88890004", "mic"));
}

// Not a sign that the device is gone: the source falls silent once what it
// had delivered has been written, the other one plays on, the run ends in order.
TEST(AudiotapSimLostSource, AnotherFailingStatusSilencesTheSourceAndTheRunEndsInOrder) {
  for (const auto& source : kLossSources) {
    const SimRun normal = runSim(world(source, json::object(), kStopMs), source.arguments);
    const SimRun upToLoss = runSim(world(source, json::object(), lastPassBeforeMs(1000)), source.arguments);
    const SimRun lost =
        runSim(world(source, {{"lostAtMs", 1000}, {"lostStatus", "0x80004005"}}, kStopMs), source.arguments);
    EXPECT_EQ(lost.result.exitStatus, 0) << source.name;
    ASSERT_EQ(lost.lines.size(), 2u) << source.name << ": " << lost.result.standardError;
    EXPECT_EQ(lost.lines[1], R"({"event":"stopped"})");
    const std::string& output = lost.result.standardOutput;
    ASSERT_EQ(output.size(), normal.result.standardOutput.size()) << source.name;
    EXPECT_EQ(output.compare(0, upToLoss.result.standardOutput.size(), upToLoss.result.standardOutput), 0)
        << source.name;
    // Output frame n holds what was captured at n / 16 ms: from the loss on
    // there is nothing but silence.
    const auto samples = channelSamples(output, source.channels, source.lostChannel);
    const std::size_t lossFrame = 16 * 1000;
    for (std::size_t i = lossFrame; i < samples.size(); ++i) ASSERT_EQ(samples[i], 0) << source.name << " frame " << i;
    if (source.channels == 2) {
      const int other = 1 - source.lostChannel;
      EXPECT_EQ(channelSamples(output, 2, other), channelSamples(normal.result.standardOutput, 2, other))
          << source.name;
    }
  }
}

}  // namespace
