// Sources whose data starts late, comes with jitter or pauses: whole runs on
// virtual time, each late source set beside a microphone that carries the same
// tone from the origin, so its channel can be compared frame by frame.
#include <gtest/gtest.h>

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/support/sim_run.h"
#include "tests/support/sim_worlds.h"

namespace {
using nlohmann::json;

constexpr std::int64_t kPassFrames = 160;  // frames due per 10 ms pass
constexpr std::int64_t kHoldback = 960;

// Both endpoints at 16 kHz mono float with one tone, so one produced frame is
// one output frame; the desktop gets the delivery timing under test. A 2 Hz
// tone: no 400-frame stretch of it repeats within the lags looked at.
std::string worldWithLateDesktop(const json& timing, int stopMs) {
  const json format = {{"tag", "float"}, {"channels", 1}, {"bits", 32}, {"rate", 16000}};
  const json tone = {{"kind", "sine"}, {"frequency", 2}, {"amplitude", 0.5}};
  json speaker = {{"format", format}, {"signal", tone}};
  speaker.merge_patch(timing);
  return twoEndpointWorld({{"format", format}, {"signal", tone}}, speaker, {}, stopMs);
}

// How the desktop channel lines up with the microphone's, which delivered
// from the origin: it is silent up to firstFrame, then equal to the
// microphone lag frames earlier, wherever the reference has a frame.
struct Alignment {
  std::int64_t firstFrame = -1;  // first sample of the desktop's signal after the silence
  std::int64_t lag = 0;          // frames later than a source that delivered from the origin
  std::int64_t mismatches = 0;   // frames after the start that differ from the reference
  std::int64_t zerosInside = 0;  // of those, frames that are silence inserted into the tone
};

// from: where to look for the start; the two frames after it are passed
// over, as the resampler of a source that starts or resumes interpolates
// from its own last frame.
Alignment alignmentOf(const std::vector<std::int16_t>& mic, const std::vector<std::int16_t>& desktop, std::size_t from,
                      std::size_t to) {
  Alignment found;
  std::size_t f = from;
  while (f < to && desktop[f] == 0) ++f;
  found.firstFrame = static_cast<std::int64_t>(f);
  const auto start = static_cast<std::int64_t>(f) + 2;
  const auto end = static_cast<std::int64_t>(to);
  const auto reference = [&](std::int64_t k, std::int64_t lag) {
    const std::int64_t at = k - lag;
    return at >= 0 && at < static_cast<std::int64_t>(mic.size()) ? mic[static_cast<std::size_t>(at)] : -1;
  };
  if (start + 400 > end) return found;
  for (std::int64_t lag = -2000; lag <= 2000; ++lag) {
    bool matches = true;
    for (std::int64_t k = start; k < start + 400 && matches; ++k) matches = desktop[k] == reference(k, lag);
    if (matches) {
      found.lag = lag;
      break;
    }
  }
  for (std::int64_t k = start; k < end; ++k) {
    if (k - found.lag >= static_cast<std::int64_t>(mic.size()) || desktop[k] == reference(k, found.lag)) continue;
    ++found.mismatches;
    if (desktop[k] == 0) ++found.zerosInside;
  }
  return found;
}

// The same source read the moment its samples come, with no cushion: its
// first packet goes out in the pass it arrives in, which writes the frames
// 960 + 160 behind that pass's clock, so the packet produced in the pass
// before lands 960 frames early, and every later late packet means silence.
constexpr std::int64_t kReadAtOnceLag = -kHoldback;

struct Run2 {
  std::vector<std::int16_t> mic, desktop;
};
Run2 capture(const json& timing, int stopMs) {
  const SimRun run = runSim(worldWithLateDesktop(timing, stopMs), {"--mic", "default", "--system", "1"});
  EXPECT_EQ(run.result.exitStatus, 0) << run.result.standardError;
  return {channelSamples(run.result.standardOutput, 2, 0), channelSamples(run.result.standardOutput, 2, 1)};
}

TEST(AudiotapSimLateSource, StartingAt850MsWith20MsJitterGivesOneBlockOfSilenceThenTheToneWithoutAGap) {
  const Run2 run = capture({{"startAtMs", 850}, {"jitterMs", 20}}, 5000);
  ASSERT_EQ(run.desktop.size(), 16u * 5000u - 960u);
  const Alignment found = alignmentOf(run.mic, run.desktop, 0, run.desktop.size());
  // The first packet handed out is the one due at 850 ms, frames 13440..13599.
  // The converter's first sample of a source is 0: the tone begins one frame on.
  const std::int64_t lateStart = 850 * 16 - kPassFrames + 1;
  EXPECT_GE(found.firstFrame, lateStart) << "silence up to the start";
  EXPECT_LE(found.firstFrame, lateStart + 20 * 16 + kPassFrames);
  // Trails the clock as a source from the origin does, plus what the jitter held back.
  EXPECT_GE(found.lag, 0);
  EXPECT_LE(found.lag, 20 * 16 + kPassFrames);
  EXPECT_GT(found.lag, kReadAtOnceLag + kHoldback / 2) << "read at once it would have had no cushion";
  EXPECT_EQ(found.mismatches, 0);
  EXPECT_EQ(found.zerosInside, 0);
}

TEST(AudiotapSimLateSource, TwoSourcesOneLateCarryTheSameSignalOnTheSameFrame) {
  const Run2 run = capture({{"startAtMs", 850}}, 3000);
  const Alignment found = alignmentOf(run.mic, run.desktop, 0, run.desktop.size());
  EXPECT_EQ(found.firstFrame, 850 * 16 - kPassFrames + 1);
  EXPECT_EQ(found.lag, 0) << "read at once the desktop would be " << -kReadAtOnceLag << " frames ahead";
  EXPECT_EQ(found.mismatches, 0);
  for (std::size_t f = 0; f < static_cast<std::size_t>(found.firstFrame); ++f) ASSERT_EQ(run.desktop[f], 0) << f;
}

TEST(AudiotapSimLateSource, ADesktopPausedForTwoSecondsIsSilentThenPrimesOnceThenCarriesTheToneWithoutAGap) {
  const Run2 run = capture({{"pauses", json::array({json::array({3000, 5000})})}}, 8000);
  // The last packet before it is due at 2990 ms: its frames end on 2990 ms,
  // and each frame comes out one frame on.
  const std::size_t pauseFrame = 2990 * 16 + 1;
  // Before the pause the desktop equals the microphone exactly.
  for (std::size_t f = 0; f < pauseFrame; ++f) ASSERT_EQ(run.desktop[f], run.mic[f]) << f;
  // The cushion carries it to the pause's own frames, then silence.
  std::size_t f = pauseFrame;
  while (run.desktop[f] != 0) ++f;
  EXPECT_EQ(f, pauseFrame);
  const Alignment after = alignmentOf(run.mic, run.desktop, f, run.desktop.size());
  // The first packet after the pause is due at 5000 ms and holds the
  // frames of 4990..5000 ms; it lands on those frames again.
  EXPECT_EQ(after.firstFrame, 5000 * 16 - kPassFrames);
  // Exactly 960 behind: one frame less than the microphone, which still
  // carries its converter's starting sample.
  EXPECT_EQ(after.lag, -1) << "read at once it would land " << -kReadAtOnceLag << " frames early";
  EXPECT_EQ(after.mismatches, 0);
  EXPECT_EQ(after.zerosInside, 0);
}

}  // namespace
