// Devices whose clocks drift against the performance counter, on virtual time:
// both endpoints carry the same 10 Hz tone of the world, sampled at their own
// (drifted) instants, so each channel's latency can be read from the tone's
// phase against the frame's due time, and compared between the channels.
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

constexpr double kRate = 16000.0;
constexpr double kTone = 10.0;  // one period is 100 ms: a step of up to 50 ms reads unambiguously
constexpr double kAmplitude = 0.5 * 32767;
constexpr std::size_t kBlock = 1600;  // one period

// The latency of each 100 ms block, in seconds: the frame n falls due at
// (n + 960) / 16000 s and carries the tone of the world at (n + 960) / 16000 - L.
// Blocks without a clean tone (silence, a step inside) are NaN.
std::vector<double> latencies(const std::vector<std::int16_t>& samples) {
  std::vector<double> result;
  for (std::size_t start = 0; start + kBlock <= samples.size(); start += kBlock) {
    double ss = 0, sc = 0, cc = 0, xs = 0, xc = 0;
    for (std::size_t i = start; i < start + kBlock; ++i) {
      const double w = 2 * std::numbers::pi * kTone * static_cast<double>(i) / kRate;
      const double s = std::sin(w), c = std::cos(w), x = samples[i];
      ss += s * s, sc += s * c, cc += c * c, xs += x * s, xc += x * c;
    }
    const double det = ss * cc - sc * sc;
    const double a = (xs * cc - xc * sc) / det, b = (xc * ss - xs * sc) / det;
    if (std::hypot(a, b) < 0.95 * kAmplitude) {
      result.push_back(NAN);
      continue;
    }
    // x = A sin(w + phase), phase = 2 pi f (0.060 - L), L taken nearest 60 ms.
    const double phase = std::atan2(b, a);
    double latency = 0.060 - phase / (2 * std::numbers::pi * kTone);
    const double period = 1 / kTone;
    latency -= std::round((latency - 0.060) / period) * period;
    result.push_back(latency);
  }
  return result;
}

// Zero samples that are not the tone crossing zero (whose neighbours stand on
// either side of it, nearly mirrored), in [from, to).
std::int64_t insertedZeros(const std::vector<std::int16_t>& samples, std::size_t from, std::size_t to) {
  std::int64_t count = 0;
  for (std::size_t i = from < 1 ? 1 : from; i + 1 < samples.size() && i < to; ++i) {
    if (samples[i] != 0) continue;
    const int before = samples[i - 1], after = samples[i + 1];
    if (!(before * after < 0 && std::abs(before + after) < 300)) ++count;
  }
  return count;
}

json endpointWith(double ppm, const json& changes = json::array()) {
  json patch = {{"format", {{"tag", "float"}, {"channels", 2}, {"bits", 32}, {"rate", 48000}}},
                {"signal", {{"kind", "sine"}, {"frequency", kTone}, {"amplitude", 0.5}}},
                {"driftPpm", ppm}};
  if (!changes.empty()) patch["driftChanges"] = changes;
  return patch;
}

struct DriftRun {
  std::vector<std::int16_t> mic, desktop;
};

DriftRun runFor(const json& micPatch, const json& speakerPatch, int minutes) {
  const SimRun run =
      runSim(twoEndpointWorld(micPatch, speakerPatch, {}, minutes * 60'000), {"--mic", "default", "--system", "1"});
  EXPECT_EQ(run.result.exitStatus, 0) << run.result.standardError;
  return {channelSamples(run.result.standardOutput, 2, 0), channelSamples(run.result.standardOutput, 2, 1)};
}

// What must hold from `fromSeconds` to `toSeconds`: no silence put in, both
// channels 60 ms ± 1 ms behind the world and within 1 ms of each other, and
// a tone of the world at its own pitch (a 1 kHz tone within 0.1 Hz) over
// every 10 s.
void expectSettled(const DriftRun& run, double fromSeconds, double toSeconds, const std::string& name) {
  const auto from = static_cast<std::size_t>(fromSeconds * kRate), to = static_cast<std::size_t>(toSeconds * kRate);
  EXPECT_EQ(insertedZeros(run.mic, from, to), 0) << name;
  EXPECT_EQ(insertedZeros(run.desktop, from, to), 0) << name;
  const std::vector<double> mic = latencies(run.mic), desktop = latencies(run.desktop);
  double worstLatency = 0, worstGap = 0, worstPitch = 0;
  const auto first = static_cast<std::size_t>(fromSeconds * 10), last = static_cast<std::size_t>(toSeconds * 10);
  for (std::size_t b = first; b < mic.size() && b < desktop.size() && b < last; ++b) {
    ASSERT_FALSE(std::isnan(mic[b]) || std::isnan(desktop[b])) << name << ": block " << b;
    worstLatency = std::fmax(worstLatency, std::fmax(std::fabs(mic[b] - 0.060), std::fabs(desktop[b] - 0.060)));
    worstGap = std::fmax(worstGap, std::fabs(mic[b] - desktop[b]));
    if (b >= first + 100) {
      // The tone comes out at f (1 - dL/dt).
      const double slope = std::fmax(std::fabs(mic[b] - mic[b - 100]), std::fabs(desktop[b] - desktop[b - 100])) / 10;
      worstPitch = std::fmax(worstPitch, 1000 * slope);
    }
  }
  EXPECT_LT(worstLatency, 0.001) << name << ": latency off 60 ms";
  EXPECT_LT(worstGap, 0.001) << name << ": channels apart";
  EXPECT_LT(worstPitch, 0.1) << name << ": a 1 kHz tone off by Hz";
}

TEST(AudiotapSimDrift, SourcesUpTo1000PpmOffSettleWithinFiveMinutesAndStay) {
  struct Case {
    const char* name;
    double micPpm, desktopPpm;
  };
  for (const Case c : {Case{"desktop -1000 ppm", 0, -1000}, Case{"desktop +1000 ppm", 0, 1000},
                       Case{"desktop -50 ppm", 0, -50}, Case{"mic +300 ppm, desktop -300 ppm", 300, -300}}) {
    const DriftRun run = runFor(endpointWith(c.micPpm), endpointWith(c.desktopPpm), 8);
    ASSERT_EQ(run.desktop.size(), static_cast<std::size_t>(8 * 60 * 16000 - 960)) << c.name << ": 16000 a second";
    expectSettled(run, 5 * 60, 8 * 60, c.name);
  }
}

TEST(AudiotapSimDrift, ADriftThatTurnsFromPlus300ToMinus300SettlesAgainWithinFiveMinutes) {
  const DriftRun run = runFor(endpointWith(0), endpointWith(300, json::array({json::array({300'000, -300})})), 11);
  expectSettled(run, 4 * 60, 5 * 60, "before the turn");
  expectSettled(run, 10 * 60, 11 * 60, "five minutes after it");
}

}  // namespace
