// Whole capture runs on virtual time: how many bytes come out, which source is
// in which channel, what a tone sounds like afterwards, and how a run ends.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <numbers>
#include <string>
#include <vector>

#include "tests/support/sim_run.h"
#include "tests/support/sim_worlds.h"

namespace {
using nlohmann::json;

// Frames the pacer has written when the loop ends at stopMs of virtual time:
// its clock formula (division first, then truncation) less the 960-frame holdback.
std::int64_t framesAt(std::int64_t stopMs) {
  const std::int64_t ticks = stopMs * 10000;
  const auto clockFrames = static_cast<std::int64_t>(static_cast<double>(ticks) / 10000000.0 * 16000.0);
  return clockFrames > 960 ? clockFrames - 960 : 0;
}

// The loop sleeps 10 ms a pass; a control event at T ms is seen at the end of
// the pass that reaches it.
std::int64_t loopEndMs(std::int64_t eventMs) { return (eventMs + 9) / 10 * 10; }

struct SourceChoice {
  const char* name;
  std::vector<std::string> arguments;
  int channels;
};

const std::vector<SourceChoice> kSourceChoices = {{"mic", {"--mic", "default"}, 1},
                                                  {"desktop", {"--system", "1"}, 1},
                                                  {"both", {"--mic", "default", "--system", "1"}, 2}};

TEST(AudiotapSimCapture, WholeSecondsGiveTwoBytesPerChannelForSixteenFramesPerMillisecondLessTheHoldback) {
  for (const auto& sources : kSourceChoices) {
    for (const std::int64_t seconds : {1, 2, 5}) {
      const std::int64_t t = seconds * 1000;
      const SimRun run = runSim(twoEndpointWorld({}, {}, {}, static_cast<int>(t)), sources.arguments);
      EXPECT_EQ(run.result.exitStatus, 0) << sources.name;
      EXPECT_EQ(static_cast<std::int64_t>(run.result.standardOutput.size()), 2 * sources.channels * (16 * t - 960))
          << sources.name << " for " << t << " ms";
      ASSERT_EQ(run.events.size(), 2u) << run.result.standardError;
      EXPECT_EQ(run.events[0]["event"], "started");
      EXPECT_EQ(run.lines[1], R"({"event":"stopped"})");
    }
  }
}

TEST(AudiotapSimCapture, OtherStopTimesFollowThePacerClock) {
  // 2010 ms reads as 32159.999... frames in double precision: one frame less.
  ASSERT_EQ(framesAt(2010), 16 * 2010 - 960 - 1);
  for (const auto& sources : kSourceChoices) {
    for (const std::int64_t t : {0, 10, 50, 60, 65, 70, 333, 1005, 2010, 2501}) {
      const SimRun run = runSim(twoEndpointWorld({}, {}, {}, static_cast<int>(t)), sources.arguments);
      EXPECT_EQ(run.result.exitStatus, 0);
      EXPECT_EQ(static_cast<std::int64_t>(run.result.standardOutput.size()),
                2 * sources.channels * framesAt(loopEndMs(t)))
          << sources.name << " for " << t << " ms";
      ASSERT_EQ(run.lines.size(), 2u);
      EXPECT_EQ(run.lines[1], R"({"event":"stopped"})");
    }
  }
}

struct ChannelCase {
  const char* name;
  json micSignal;
  json speakerSignal;
  std::int16_t channel0;  // the level each channel settles on
  std::int16_t channel1;
};

TEST(AudiotapSimCapture, MicrophoneIsChannelZeroAndDesktopChannelOne) {
  const std::vector<ChannelCase> cases = {
      {"mic-only-sounds", {{"kind", "constant"}, {"value", 0.25}}, {{"kind", "none"}}, 8192, 0},
      {"desktop-only-sounds", {{"kind", "silence"}}, {{"kind", "constant"}, {"value", -0.5}}, 0, -16384},
      {"both-sound", {{"kind", "constant"}, {"value", 0.5}}, {{"kind", "constant"}, {"value", -0.25}}, 16384, -8192},
  };
  for (const auto& row : cases) {
    const SimRun run = runSim(twoEndpointWorld({{"signal", row.micSignal}}, {{"signal", row.speakerSignal}}, {}, 1000),
                              {"--system", "x", "--mic", "default"});
    ASSERT_EQ(run.result.exitStatus, 0) << row.name;
    const auto mic = channelSamples(run.result.standardOutput, 2, 0);
    const auto desktop = channelSamples(run.result.standardOutput, 2, 1);
    ASSERT_EQ(mic.size(), 16u * 1000u - 960u);
    ASSERT_EQ(desktop.size(), mic.size());
    // The first sample of each source is the resampler's start from silence.
    EXPECT_EQ(mic[0], 0) << row.name;
    EXPECT_EQ(desktop[0], 0) << row.name;
    for (std::size_t i = 1; i < mic.size(); ++i) {
      ASSERT_EQ(mic[i], row.channel0) << row.name << " frame " << i;
      ASSERT_EQ(desktop[i], row.channel1) << row.name << " frame " << i;
    }
  }
}

// Frequency by zero crossings over whole seconds, and the strength of that
// frequency by a single DFT bin against its neighbours.
struct ToneAnalysis {
  double frequency;
  double peak;
  double binRatio;  // magnitude at 440 Hz over the larger one at 400 and 480 Hz
};

ToneAnalysis analyse(const std::vector<std::int16_t>& samples) {
  const std::size_t skip = 1600;  // the first 100 ms
  const std::size_t count = (samples.size() - skip) / 16000 * 16000;
  int crossings = 0;
  double peak = 0;
  for (std::size_t i = skip + 1; i < skip + count; ++i) {
    if ((samples[i - 1] < 0) != (samples[i] < 0)) ++crossings;
    peak = std::max(peak, std::abs(static_cast<double>(samples[i])));
  }
  const auto magnitude = [&](double frequency) {
    double re = 0, im = 0;
    for (std::size_t i = 0; i < count; ++i) {
      const double angle = 2.0 * std::numbers::pi * frequency * static_cast<double>(i) / 16000.0;
      re += samples[skip + i] * std::cos(angle);
      im -= samples[skip + i] * std::sin(angle);
    }
    return std::hypot(re, im);
  };
  const double seconds = static_cast<double>(count) / 16000.0;
  return {crossings / 2.0 / seconds, peak, magnitude(440.0) / std::max(magnitude(400.0), magnitude(480.0))};
}

struct ToneCase {
  const char* name;
  json format;
};

TEST(AudiotapSimCapture, A440HzToneComesOutAs440HzAt16kHzWhateverTheDeviceFormat) {
  const std::vector<ToneCase> cases = {
      {"float-48k-stereo", {{"tag", "float"}, {"channels", 2}, {"bits", 32}, {"rate", 48000}}},
      {"pcm16-48k-mono", {{"tag", "pcm"}, {"channels", 1}, {"bits", 16}, {"rate", 48000}}},
      {"pcm24-44k1", {{"tag", "pcm"}, {"channels", 2}, {"bits", 24}, {"rate", 44100}}},
      {"pcm32-96k", {{"tag", "pcm"}, {"channels", 2}, {"bits", 32}, {"rate", 96000}}},
      {"extensible-24-in-32",
       {{"tag", "extensible-pcm"}, {"channels", 2}, {"bits", 32}, {"validBits", 24}, {"rate", 48000}}},
      {"extensible-float-6ch", {{"tag", "extensible-float"}, {"channels", 6}, {"bits", 32}, {"rate", 48000}}},
      {"float-16k", {{"tag", "float"}, {"channels", 1}, {"bits", 32}, {"rate", 16000}}},
      {"pcm16-8k", {{"tag", "pcm"}, {"channels", 1}, {"bits", 16}, {"rate", 8000}}},
  };
  const json tone = {{"kind", "sine"}, {"frequency", 440}, {"amplitude", 0.5}};
  for (const auto& row : cases) {
    const SimRun run =
        runSim(twoEndpointWorld({{"format", row.format}, {"signal", tone}}, {}, {}, 3000), {"--mic", "default"});
    ASSERT_EQ(run.result.exitStatus, 0) << row.name << ": " << run.result.standardError;
    EXPECT_EQ(run.events[0]["deviceRate"]["mic"], row.format["rate"]) << row.name;
    const ToneAnalysis tone440 = analyse(channelSamples(run.result.standardOutput, 1, 0));
    EXPECT_NEAR(tone440.frequency, 440.0, 1.0) << row.name;
    EXPECT_NEAR(tone440.peak, 0.5 * 32767, 0.02 * 32767) << row.name;
    EXPECT_GT(tone440.binRatio, 50.0) << row.name;
  }
}

TEST(AudiotapSimCapture, StandardOutputRefusingDataEndsTheRunInOrder) {
  for (const std::int64_t accepted : {0, 1001, 96000}) {
    const json stop = {{"stop", {{"stdoutAcceptsBytes", accepted}}}};
    const SimRun run = runSim(twoEndpointWorld({}, {}, stop), {"--mic", "default"});
    EXPECT_EQ(run.result.exitStatus, 0) << accepted;
    EXPECT_EQ(static_cast<std::int64_t>(run.result.standardOutput.size()), accepted);
    ASSERT_EQ(run.lines.size(), 2u) << run.result.standardError;
    EXPECT_EQ(run.events[0]["event"], "started");
    EXPECT_EQ(run.lines[1], R"({"event":"stopped"})");
  }
}

TEST(AudiotapSimCapture, SilentOrFailingSourcesGiveSilenceWithoutAFault) {
  const std::vector<json> quietMics = {
      {{"signal", {{"kind", "none"}}}},
      {{"signal", {{"kind", "silence"}}}},
      {{"fail", {{"GetNextPacketSize", "0x80004005"}}}},  // a failure that does not say the device is gone
      {{"format", {{"tag", "pcm"}, {"bits", 8}}}},        // a width the converter does not decode
  };
  for (const auto& patch : quietMics) {
    const SimRun run = runSim(twoEndpointWorld(patch, {}, {}, 500), {"--mic", "default"});
    EXPECT_EQ(run.result.exitStatus, 0) << patch.dump();
    ASSERT_EQ(run.result.standardOutput.size(), 2u * (16u * 500u - 960u)) << patch.dump();
    EXPECT_EQ(run.result.standardOutput.find_first_not_of('\0'), std::string::npos) << patch.dump();
    ASSERT_EQ(run.lines.size(), 2u);
    EXPECT_EQ(run.lines[1], R"({"event":"stopped"})");
  }
}

}  // namespace

namespace {

TEST(AudiotapSimCapture, StatusesThatAreNotNegativeCountAsSuccess) {
  const json successes = {{"succeedWith",
                           {{"Activate", "0x00000001"},
                            {"GetMixFormat", "0x00000001"},
                            {"Initialize", "0x7fffffff"},
                            {"GetService", "0x00000001"},
                            {"Start", "0x08890001"}}}};
  const json topSuccesses = {
      {"succeedWith", {{"CoInitializeEx", "0x00000001"}, {"GetDefaultAudioEndpoint", "0x00000001"}}}};
  const SimRun run =
      runSim(twoEndpointWorld(successes, successes, topSuccesses, 1000), {"--mic", "default", "--system", "1"});
  EXPECT_EQ(run.result.exitStatus, 0) << run.result.standardError;
  EXPECT_EQ(run.result.standardOutput.size(), 2u * 2u * (16u * 1000u - 960u));
  ASSERT_EQ(run.lines.size(), 2u);
  EXPECT_EQ(run.lines[1], R"({"event":"stopped"})");
}

}  // namespace
