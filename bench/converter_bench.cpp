// Input frames per second through drainSlot, for the mix formats the
// converter meets most, and the real-time factor each rate means: how many
// seconds of device audio one second of one core converts.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "pipeline/converter.h"
#include "tests/support/scripted_capture.h"

namespace {

constexpr int kPacketsPerIteration = 100;  // one second of 10 ms packets

struct BenchFormat {
  std::int32_t channels;
  std::int32_t bitsPerSample;
  std::int32_t isFloat;
  std::int32_t rate;
};

// A 440 Hz tone at half scale in the given format, 10 ms of it.
std::vector<BYTE> tonePacket(const BenchFormat& format, UINT32 frames) {
  const int bytesPerSample = format.bitsPerSample / 8;
  std::vector<BYTE> bytes(static_cast<std::size_t>(frames) * bytesPerSample * format.channels);
  for (UINT32 f = 0; f < frames; ++f) {
    const double value = 0.5 * std::sin(2.0 * 3.141592653589793 * 440.0 * f / format.rate);
    for (int c = 0; c < format.channels; ++c) {
      BYTE* sample = bytes.data() + (static_cast<std::size_t>(f) * format.channels + c) * bytesPerSample;
      if (format.isFloat != 0) {
        const float v = static_cast<float>(value);
        std::memcpy(sample, &v, sizeof v);
      } else if (format.bitsPerSample == 32) {
        // 24 significant bits in a 32-bit container, as extensible PCM carries them.
        const std::int32_t v = static_cast<std::int32_t>(std::lround(value * 8388607.0)) * 256;
        std::memcpy(sample, &v, sizeof v);
      } else {
        const std::int16_t v = static_cast<std::int16_t>(std::lround(value * 32767.0));
        std::memcpy(sample, &v, sizeof v);
      }
    }
  }
  return bytes;
}

void drainFormat(benchmark::State& state, BenchFormat format) {
  const UINT32 frames = static_cast<UINT32>(format.rate / 100);
  const std::vector<BYTE> packet = tonePacket(format, frames);
  ScriptedCaptureClient client;
  auto slot = std::make_unique<CaptureSlot>();
  slot->label = "mic";
  slot->captureClient = &client;
  slot->channelCount = format.channels;
  slot->bitsPerSample = format.bitsPerSample;
  slot->isFloat = format.isFloat;
  slot->deviceRate = format.rate;
  slot->resampleStep = format.rate / 16000.0;

  for (auto _ : state) {
    client.queueRepeatedPacket(packet.data(), frames, 0, kPacketsPerIteration);
    drainSlot(*slot);
    client.clearReleased();
    benchmark::DoNotOptimize(slot->ring.writeCount);
  }
  const double inputFrames = static_cast<double>(state.iterations()) * kPacketsPerIteration * frames;
  state.SetItemsProcessed(static_cast<std::int64_t>(inputFrames));
  state.counters["realtime_factor"] = benchmark::Counter(inputFrames / format.rate, benchmark::Counter::kIsRate);
}

void BM_Float32Stereo48k(benchmark::State& state) { drainFormat(state, {2, 32, 1, 48000}); }
void BM_Int24In32Stereo44k1(benchmark::State& state) { drainFormat(state, {2, 32, 0, 44100}); }
void BM_Int16Mono16k(benchmark::State& state) { drainFormat(state, {1, 16, 0, 16000}); }

BENCHMARK(BM_Float32Stereo48k);
BENCHMARK(BM_Int24In32Stereo44k1);
BENCHMARK(BM_Int16Mono16k);

}  // namespace

BENCHMARK_MAIN();
