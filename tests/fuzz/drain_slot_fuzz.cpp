// drainSlot on any format that slot opening accepts and any packets a capture
// client may hand over: every packet is released with its own frame count,
// the ring's counts stay ordered and bounded, and the resampler makes about
// one sample per step with its phase in (0, step].
//
// Input: channels, bits, flags (bit 0: float), rate (4 bytes, little-endian),
// then per packet: frames (2 bytes), flags (bit 0: silent, bit 1: no data,
// bit 2: announced size differs, bit 3: a passing GetNextPacketSize failure),
// and the packet's bytes taken from what follows.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "pipeline/converter.h"
#include "tests/support/scripted_capture.h"

namespace {
CaptureSlot slot;  // too large for the stack, as in the program

constexpr std::size_t kMaxPacketBytes = std::size_t{1} << 18;
// Bounds on one input's work, so that each run stays short.
constexpr std::uint64_t kMaxInputFrames = 1 << 16;
constexpr double kMaxOutputSamples = 2e5;

struct Reader {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t at = 0;
  std::uint8_t byte() { return at < size ? data[at++] : 0; }
  bool done() const { return at >= size; }
};

void requireSane() {
  const SampleRing& ring = slot.ring;
  if (ring.readCount < 0 || ring.readCount > ring.writeCount || ring.writeCount - ring.readCount > kRingCapacity)
    std::abort();
  if (std::isinf(slot.lastSample)) std::abort();
  if (slot.resampleStep > 0.0) {
    if (!(slot.resamplePhase >= 0.0) || slot.resamplePhase > slot.resampleStep * (1 + 1e-9)) std::abort();
  } else if (ring.writeCount != 0) {
    std::abort();
  }
}

// Outputs fall at input positions 0, step, 2 step, ... up to the last frame.
void requireOutputCount(std::uint64_t frames) {
  if (slot.resampleStep <= 0.0) return;
  const double expected = frames == 0 ? 0.0 : std::floor(static_cast<double>(frames) / slot.resampleStep) + 1.0;
  if (std::fabs(static_cast<double>(slot.ring.writeCount) - expected) > 2.0) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Reader in{data, size};
  slot.ring.writeCount = slot.ring.readCount = 0;  // the samples themselves need no clearing
  slot.resamplePhase = 0.0;
  slot.lastSample = 0.0f;
  ScriptedCaptureClient client;
  slot.label = "mic";
  slot.captureClient = &client;

  // What openSlot takes from a mix format with at least one channel and a rate.
  const std::uint8_t channelChoice = in.byte();
  slot.channelCount = channelChoice >= 0xF8 ? channelChoice * 257 : 1 + channelChoice % 8;
  slot.bitsPerSample = in.byte();
  slot.isFloat = in.byte() & 1;
  DWORD rate = 0;
  for (int shift = 0; shift < 32; shift += 8) rate |= static_cast<DWORD>(in.byte()) << shift;
  if (rate == 0) rate = 1;
  slot.deviceRate = static_cast<std::int32_t>(rate);
  slot.resampleStep = static_cast<double>(slot.deviceRate) / 16000.0;

  const std::size_t frameBytes = static_cast<std::size_t>(slot.bitsPerSample / 8) * slot.channelCount;
  std::uint64_t totalFrames = 0;
  std::vector<UINT32> handedOut;
  while (!in.done() && handedOut.size() < 64) {
    ScriptedPacket packet;
    packet.frames = static_cast<UINT32>(in.byte() | (in.byte() << 8));
    const std::uint8_t flags = in.byte();
    if (frameBytes != 0 && packet.frames * frameBytes > kMaxPacketBytes)
      packet.frames = static_cast<UINT32>(kMaxPacketBytes / frameBytes);
    if (totalFrames + packet.frames > kMaxInputFrames) break;
    if (slot.resampleStep > 0.0 && (totalFrames + packet.frames) / slot.resampleStep > kMaxOutputSamples) break;
    if (flags & 8) client.queueNextPacketSizeFailure(static_cast<HRESULT>(0x80004005u));  // E_FAIL: asked again later
    packet.flags = (flags & 1) ? AUDCLNT_BUFFERFLAGS_SILENT : 0;
    if ((flags & 2) == 0) {
      packet.bytes.resize(packet.frames * frameBytes);
      for (BYTE& b : packet.bytes) b = in.byte();
    }
    // GetNextPacketSize must announce something, or the packet is never taken.
    packet.announcedFrames = (flags & 4) || packet.frames == 0 ? packet.frames + 1 : 0;
    totalFrames += packet.frames;
    handedOut.push_back(packet.frames);
    client.queuePacket(std::move(packet));
  }

  for (int pass = 0; client.pendingSteps() != 0 && pass < 200; ++pass) {
    drainSlot(slot);
    requireSane();
  }
  if (client.pendingSteps() != 0) std::abort();
  requireOutputCount(totalFrames);
  if (client.releasedFrameCounts() != handedOut) std::abort();
  return 0;
}
