// Sources that follow the default endpoint of their flow: the desktop, and the
// microphone asked for as "default". A change of the default 3 s into a run,
// or the loss of the default device with another one standing by, moves the
// source to the new device in the same channel; the stream keeps its length
// and the other channel its bytes.
#include <gtest/gtest.h>

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/support/sim_run.h"
#include "tests/support/sim_worlds.h"

namespace {
using nlohmann::json;

constexpr int kStopMs = 6000;
constexpr int kChangeMs = 3000;
constexpr std::size_t kHoldbackFrames = 960;
constexpr std::size_t kPassFrames = 160;

const std::vector<std::string> kBoth = {"--mic", "default", "--system", "1"};

json tone(double frequency) { return {{"kind", "sine"}, {"frequency", frequency}, {"amplitude", 0.5}}; }

// The device a source moves to: 48 kHz stereo float playing 660 Hz.
json headset(const char* flow, const char* id, const json& patch) {
  json endpoint = {{"flow", flow},
                   {"id", id},
                   {"name", "Headset"},
                   {"format", {{"tag", "float"}, {"channels", 2}, {"bits", 32}, {"rate", 48000}}},
                   {"signal", tone(660)}};
  endpoint.merge_patch(patch);
  return endpoint;
}

struct Mover {
  const char* slot;
  const char* flow;
  int channel;  // of two: the microphone is 0
};

const Mover kDesktop = {"desktop", "render", 1};
const Mover kMic = {"mic", "capture", 0};

// A microphone at 440 Hz and a speaker at 44.1 kHz playing 1000 Hz, both
// default; the mover's headset beside them, patched; the mover's first
// device patched too.
std::string world(const Mover& mover, const json& firstPatch, const json& headsetPatch) {
  json mic = {{"signal", tone(440)}};
  json speaker = {{"format", {{"rate", 44100}}}, {"signal", tone(1000)}};
  if (std::string(mover.slot) == "mic") {
    mic = {{"format", {{"rate", 44100}}}, {"signal", tone(1000)}};
    speaker = {{"signal", tone(440)}};
  }
  json& first = std::string(mover.slot) == "mic" ? mic : speaker;
  first.merge_patch(firstPatch);
  json scenario = json::parse(twoEndpointWorld(mic, speaker, {}, kStopMs));
  scenario["endpoints"].push_back(headset(mover.flow, "{headset}", headsetPatch));
  return scenario.dump();
}

// Where the headset's samples begin in a channel that switched: the first
// frame that differs from the unswitched run, then past the silence.
struct SwitchPoint {
  std::size_t firstDifferent = 0;
  std::size_t headsetStart = 0;  // the headset's first sample (a 0: its resampler starts at its own frame 0)
};

SwitchPoint switchPointOf(const std::vector<std::int16_t>& switched, const std::vector<std::int16_t>& unswitched) {
  SwitchPoint point;
  while (point.firstDifferent < switched.size() && switched[point.firstDifferent] == unswitched[point.firstDifferent])
    ++point.firstDifferent;
  std::size_t f = point.firstDifferent;
  while (f < switched.size() && switched[f] == 0) ++f;
  point.headsetStart = f == 0 ? 0 : f - 1;
  return point;
}

// Checks one switched run against the run without the change and the run
// with the headset as the default from the start.
void expectSwitched(const Mover& mover, const SimRun& switched, const SimRun& unswitched, const SimRun& headsetOnly,
                    const std::string& row) {
  ASSERT_EQ(switched.result.exitStatus, 0) << row << ": " << switched.result.standardError;
  ASSERT_EQ(switched.lines.size(), 3u) << row << ": " << switched.result.standardError;
  EXPECT_EQ(switched.lines[0], unswitched.lines.at(0)) << row;
  EXPECT_EQ(switched.lines[1],
            std::string(R"({"event":"switched","slot":")") + mover.slot + R"(","name":"Headset","deviceRate":48000})")
      << row;
  EXPECT_EQ(switched.lines[2], R"({"event":"stopped"})") << row;

  const std::string& output = switched.result.standardOutput;
  ASSERT_EQ(output.size(), unswitched.result.standardOutput.size()) << row;
  const int other = 1 - mover.channel;
  EXPECT_EQ(channelSamples(output, 2, other), channelSamples(unswitched.result.standardOutput, 2, other)) << row;

  const auto moved = channelSamples(output, 2, mover.channel);
  const SwitchPoint point = switchPointOf(moved, channelSamples(unswitched.result.standardOutput, 2, mover.channel));
  // The first device's bytes up to the change, at least.
  EXPECT_GE(point.firstDifferent, static_cast<std::size_t>(kChangeMs) * 16 - kHoldbackFrames) << row;
  // Then at most 60 ms and one pass of silence.
  EXPECT_LE(point.headsetStart - point.firstDifferent, kHoldbackFrames + kPassFrames) << row;
  // Then the headset's samples, every one, as from a headset that was the
  // default all along.
  const auto reference = channelSamples(headsetOnly.result.standardOutput, 2, mover.channel);
  ASSERT_LT(point.headsetStart, moved.size()) << row;
  std::size_t mismatches = 0;
  for (std::size_t f = point.headsetStart; f < moved.size(); ++f)
    if (moved[f] != reference[f - point.headsetStart]) ++mismatches;
  EXPECT_EQ(mismatches, 0u) << row << ": headset from frame " << point.headsetStart;
}

TEST(AudiotapSimDefaultSwitch, AChangedDefaultMovesTheSourceWithoutLosingTheStreamOrTheOtherChannel) {
  for (const Mover& mover : {kDesktop, kMic}) {
    const SimRun unswitched = runSim(world(mover, json::object(), json::object()), kBoth);
    const SimRun headsetOnly = runSim(world(mover, {{"default", false}}, {{"default", true}}), kBoth);
    const SimRun switched = runSim(world(mover, json::object(), {{"defaultAtMs", kChangeMs}}), kBoth);
    expectSwitched(mover, switched, unswitched, headsetOnly, std::string(mover.slot) + " changed");
  }
}

TEST(AudiotapSimDefaultSwitch, ALostDefaultDeviceHandsOverToTheOneStandingBy) {
  for (const Mover& mover : {kDesktop, kMic}) {
    const SimRun unswitched = runSim(world(mover, json::object(), json::object()), kBoth);
    const SimRun headsetOnly = runSim(world(mover, {{"default", false}}, {{"default", true}}), kBoth);
    // The headset was made default earlier; the first device's loss leaves it the default.
    const SimRun lost = runSim(world(mover, {{"lostAtMs", kChangeMs}}, {{"defaultAtMs", 0}}), kBoth);
    // Plugged in the moment the first device goes.
    const SimRun replaced = runSim(world(mover, {{"lostAtMs", kChangeMs}}, {{"defaultAtMs", kChangeMs}}), kBoth);
    for (const SimRun* run : {&lost, &replaced}) {
      const std::string row = std::string(mover.slot) + (run == &lost ? " lost, standby" : " lost, replaced");
      expectSwitched(mover, *run, unswitched, headsetOnly, row);
    }
  }
}

TEST(AudiotapSimDefaultSwitch, AMicrophoneChosenByNameStaysWhereItIs) {
  const std::vector<std::string> byName = {"--mic", "Desk Mic", "--system", "1"};
  const SimRun unchanged = runSim(world(kDesktop, json::object(), json::object()), byName);
  json scenario = json::parse(world(kDesktop, json::object(), json::object()));
  scenario["endpoints"].push_back(headset("capture", "{headset-mic}", {{"defaultAtMs", kChangeMs}}));
  const SimRun run = runSim(scenario.dump(), byName);
  EXPECT_EQ(run.result.exitStatus, 0) << run.result.standardError;
  EXPECT_EQ(run.lines, unchanged.lines);
  EXPECT_TRUE(run.result.standardOutput == unchanged.result.standardOutput);
}

TEST(AudiotapSimDefaultSwitch, AHeadsetThatCannotBeOpenedEndsTheRunWithItsFailingCall) {
  const SimRun run = runSim(
      world(kDesktop, json::object(), {{"defaultAtMs", kChangeMs}, {"fail", {{"Activate", "0x80070005"}}}}), kBoth);
  EXPECT_EQ(run.result.exitStatus, 4) << run.result.standardError;
  ASSERT_EQ(run.lines.size(), 2u) << run.result.standardError;
  EXPECT_EQ(run.lines[1], faultLine("capture.stopped", "Activate:0x80070005", "desktop"));
}

}  // namespace
