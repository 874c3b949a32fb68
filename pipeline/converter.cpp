#include "pipeline/converter.h"

#include <bit>
#include <cfloat>
#include <cstring>

#include "events/event_lines.h"
#include "events/faults.h"
#include "pipeline/rate_tracking.h"

// Samples are little-endian and every step below must round to single
// precision exactly where written, or the output bytes differ by platform.
static_assert(std::endian::native == std::endian::little, "packet samples are read in host byte order");
#ifdef FLT_EVAL_METHOD
static_assert(FLT_EVAL_METHOD == 0, "float arithmetic must be evaluated in single precision");
#endif

namespace {

enum class SampleKind { float32, int32, int24, int16, silence };

// Only the container width decides: 24-bit samples in 32-bit containers are
// 32-bit integers. A float needs a 4-byte container, or it would be read
// beyond its own bytes and, for the last channel, beyond the packet.
SampleKind sampleKindOf(const CaptureSlot& slot) {
  if (slot.isFloat != 0) return slot.bitsPerSample >= 32 ? SampleKind::float32 : SampleKind::silence;
  switch (slot.bitsPerSample) {
    case 32: return SampleKind::int32;
    case 24: return SampleKind::int24;
    case 16: return SampleKind::int16;
    default: return SampleKind::silence;
  }
}

template <SampleKind kind>
inline float decodeAs([[maybe_unused]] const BYTE* bytes) {
  if constexpr (kind == SampleKind::float32) {
    float value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
  } else if constexpr (kind == SampleKind::int32) {
    std::int32_t value;
    std::memcpy(&value, bytes, sizeof value);
    return static_cast<float>(static_cast<double>(value) * 0x1p-31);
  } else if constexpr (kind == SampleKind::int24) {
    const std::uint32_t widened = (static_cast<std::uint32_t>(bytes[2]) << 24) |
                                  (static_cast<std::uint32_t>(bytes[1]) << 16) |
                                  (static_cast<std::uint32_t>(bytes[0]) << 8);
    return static_cast<float>(static_cast<double>(static_cast<std::int32_t>(widened)) * 0x1p-31);
  } else if constexpr (kind == SampleKind::int16) {
    std::int16_t value;
    std::memcpy(&value, bytes, sizeof value);
    return static_cast<float>(value) * 0x1p-15f;
  } else {
    return 0.0f;
  }
}

// 1.5 * 2^23: a float in [2^23, 2^24) has no fraction bits, so adding this
// rounds y to an integer in the current (default: nearest, ties to even)
// mode, and being even it keeps the parity of that integer.
constexpr float kRoundingBias = 12582912.0f;

// Scales by 32767, clamps (upper bound first), rounds ties to even. A NaN
// would pass the clamp; it becomes silence.
inline std::int16_t toPcm16(float y) {
  y = y * 32767.0f;
  if (y > 32767.0f) y = 32767.0f;
  if (y < -32768.0f) y = -32768.0f;
  if (y != y) y = 0.0f;
  const float rounded = (y + kRoundingBias) - kRoundingBias;
  return static_cast<std::int16_t>(rounded);
}

// An infinite input would make the interpolation inf - inf = NaN; taken as
// the largest finite value it clamps like any other out-of-range sample.
// Finite values and NaN pass unchanged.
inline float finiteInput(float x) {
  if (x > FLT_MAX) x = FLT_MAX;
  if (x < -FLT_MAX) x = -FLT_MAX;
  return x;
}

struct ResamplerState {
  double step;
  double phase;
  float last;
};

// Linear interpolation between the previous frame (position 0) and this one
// (position 1); an output that falls exactly on 1 belongs to this frame.
// The caller guarantees step > 0, which is what ends the loop.
inline void resampleInto(SampleRing& ring, ResamplerState& state, float x) {
  x = finiteInput(x);
  const float last = state.last;
  const float delta = x - last;
  double phase = state.phase;
  while (phase <= 1.0) {
    const float t = static_cast<float>(phase);
    const float product = t * delta;
    pushSample(ring, toPcm16(product + last));
    phase = state.step + phase;
  }
  state.phase = phase - 1.0;
  state.last = x;
}

bool stepIsUsable(double step) { return step > 0.0; }  // false for NaN too

// The packet loop, one instance per sample kind and channel layout, so that
// nothing is decided per frame. Channels are summed in order from 0.0 and
// the sum divided by the channel count, in single precision.
template <SampleKind kind, int fixedChannels>
void convertFrames(CaptureSlot& slot, const BYTE* frame, UINT32 frameCount, std::int32_t stride) {
  const int channels = fixedChannels > 0 ? fixedChannels : slot.channelCount;
  const float divisor = static_cast<float>(channels);
  const std::int32_t bytesPerSample = slot.bitsPerSample / 8;
  ResamplerState state{slot.resampleStep, slot.resamplePhase, slot.lastSample};
  for (UINT32 f = 0; f < frameCount; ++f) {
    float sum = 0.0f;
    for (int c = 0; c < channels; ++c) sum = sum + decodeAs<kind>(frame + c * bytesPerSample);
    resampleInto(slot.ring, state, sum / divisor);
    frame += stride;
  }
  slot.resamplePhase = state.phase;
  slot.lastSample = state.last;
}

void convertSilentFrames(CaptureSlot& slot, UINT32 frameCount) {
  ResamplerState state{slot.resampleStep, slot.resamplePhase, slot.lastSample};
  for (UINT32 f = 0; f < frameCount; ++f) resampleInto(slot.ring, state, 0.0f);
  slot.resamplePhase = state.phase;
  slot.lastSample = state.last;
}

template <SampleKind kind>
void convertByLayout(CaptureSlot& slot, const BYTE* data, UINT32 frameCount, std::int32_t stride) {
  switch (slot.channelCount) {
    case 1: convertFrames<kind, 1>(slot, data, frameCount, stride); break;
    case 2: convertFrames<kind, 2>(slot, data, frameCount, stride); break;
    default: convertFrames<kind, 0>(slot, data, frameCount, stride); break;
  }
}

void convertPacket(CaptureSlot& slot, const BYTE* data, UINT32 frameCount, DWORD flags) {
  const SampleKind kind = sampleKindOf(slot);
  const bool silent = (flags & AUDCLNT_BUFFERFLAGS_SILENT) != 0 || data == nullptr || slot.channelCount <= 0 ||
                      kind == SampleKind::silence;
  // Positive: the container holds at least a 16-bit sample and there are channels.
  const std::int32_t stride = silent ? 0 : (slot.bitsPerSample / 8) * slot.channelCount;
  if (!stepIsUsable(slot.resampleStep)) {
    // No output rate to speak of: nothing is produced, but the slot still
    // remembers the last frame it was handed.
    slot.lastSample =
        silent ? 0.0f : finiteInput(decodeFrame(slot, data + static_cast<std::size_t>(frameCount - 1) * stride, flags));
    return;
  }
  if (silent) {
    convertSilentFrames(slot, frameCount);
    return;
  }
  switch (kind) {
    case SampleKind::float32: convertByLayout<SampleKind::float32>(slot, data, frameCount, stride); break;
    case SampleKind::int32: convertByLayout<SampleKind::int32>(slot, data, frameCount, stride); break;
    case SampleKind::int24: convertByLayout<SampleKind::int24>(slot, data, frameCount, stride); break;
    case SampleKind::int16: convertByLayout<SampleKind::int16>(slot, data, frameCount, stride); break;
    case SampleKind::silence: break;
  }
}

// A removed or disabled device and a stopped audio service answer these from
// then on; trying again would only write silence for ever. Any other failure
// may be brief: the next pass asks again.
bool streamIsGone(HRESULT status) {
  return status == AUDCLNT_E_DEVICE_INVALIDATED || status == AUDCLNT_E_SERVICE_NOT_RUNNING;
}

// Frames of the next packet, 0 when there is none or the call failed. A
// stream that is gone ends the process with the "capture.stopped" fault,
// unless its source follows the default: then it is marked lost, and the
// capture loop looks for the new default before it writes.
UINT32 nextPacketFrames(CaptureSlot& slot) {
  UINT32 frames = 0;
  const HRESULT status = slot.captureClient->GetNextPacketSize(&frames);
  if (SUCCEEDED(status)) return frames;
  if (streamIsGone(status)) {
    if (slot.followsDefault != 0) {
      slot.lostStatus = status;
      return 0;
    }
    endRunOnCallFailure(faultReason::stopped, "GetNextPacketSize", status, slot.label, exitStatus::captureFailed);
  }
  return 0;
}

}  // namespace

void drainSlot(CaptureSlot& slot) {
  if (slot.lostStatus != S_OK) return;  // nothing more will come from that stream
  IAudioCaptureClient* client = slot.captureClient;
  while (nextPacketFrames(slot) != 0) {
    BYTE* data = nullptr;
    UINT32 frameCount = 0;
    DWORD flags = 0;
    // The positions are asked for only when the source's rate is tracked.
    UINT64 devicePosition = kNoPosition;
    UINT64 counterPosition = kNoPosition;
    const bool tracked = slot.rateTracking.active;
    if (FAILED(client->GetBuffer(&data, &frameCount, &flags, tracked ? &devicePosition : nullptr,
                                 tracked ? &counterPosition : nullptr))) {
      endRunOnFault(faultReason::stopped, "GetBuffer", slot.label, exitStatus::captureFailed);
    }
    if (frameCount != 0) {
      convertPacket(slot, data, frameCount, flags);
      notePacket(slot, frameCount, devicePosition, counterPosition);
    }
    client->ReleaseBuffer(frameCount);
  }
}

float decodeFrame(const CaptureSlot& slot, const BYTE* frame, DWORD flags) {
  if ((flags & AUDCLNT_BUFFERFLAGS_SILENT) != 0 || frame == nullptr || slot.channelCount <= 0) return 0.0f;
  const std::int32_t bytesPerSample = slot.bitsPerSample / 8;
  float sum = 0.0f;
  for (std::int32_t c = 0; c < slot.channelCount; ++c) sum = sum + decodeSample(slot, frame + c * bytesPerSample);
  return sum / static_cast<float>(slot.channelCount);
}

float decodeSample(const CaptureSlot& slot, const BYTE* bytes) {
  switch (sampleKindOf(slot)) {
    case SampleKind::float32: return decodeAs<SampleKind::float32>(bytes);
    case SampleKind::int32: return decodeAs<SampleKind::int32>(bytes);
    case SampleKind::int24: return decodeAs<SampleKind::int24>(bytes);
    case SampleKind::int16: return decodeAs<SampleKind::int16>(bytes);
    case SampleKind::silence: break;
  }
  return 0.0f;
}

void resampleFrame(CaptureSlot& slot, float x) {
  if (!stepIsUsable(slot.resampleStep)) {
    slot.lastSample = finiteInput(x);
    return;
  }
  ResamplerState state{slot.resampleStep, slot.resamplePhase, slot.lastSample};
  resampleInto(slot.ring, state, x);
  slot.resamplePhase = state.phase;
  slot.lastSample = state.last;
}
