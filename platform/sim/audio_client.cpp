// The simulated WASAPI stream of one endpoint: an audio client and its capture
// client. A started stream has delivered floor(elapsed seconds x rate) frames
// of its signal, by the virtual clock, in packets of packetFrames, and holds
// at most 200 ms of them: older packets are lost, as in a shared-mode buffer
// nobody reads. The endpoint's delivery timing may hold packets back or lose them.
#include "platform/sim/audio_client.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/portable/seam_objects.h"
#include "platform/sim/console_and_clock.h"
#include "platform/sim/sim_delivery_timing.h"
#include "platform/sim/sim_signal.h"

namespace sim {
namespace {

constexpr DWORD kKnownStreamFlags = AUDCLNT_STREAMFLAGS_CROSSPROCESS | AUDCLNT_STREAMFLAGS_LOOPBACK |
                                    AUDCLNT_STREAMFLAGS_EVENTCALLBACK | AUDCLNT_STREAMFLAGS_NOPERSIST |
                                    AUDCLNT_STREAMFLAGS_RATEADJUST | AUDCLNT_STREAMFLAGS_SRC_DEFAULT_QUALITY |
                                    AUDCLNT_STREAMFLAGS_AUTOCONVERTPCM;
constexpr std::int64_t kHeldMilliseconds = 200;

// The state a stream shares between its audio client and capture client.
struct Stream {
  const Endpoint* endpoint = nullptr;
  bool initialised = false;
  bool started = false;
  bool everStarted = false;
  std::int64_t startTicks = 0;       // virtual time of Start, moved on over a Stop
  std::int64_t stoppedTicks = 0;     // while stopped: virtual time of Stop
  std::int64_t consumedPackets = 0;  // packets read or lost since the first Start
  bool packetOut = false;            // GetBuffer handed one out, not yet released
  UINT32 packetOutFrames = 0;
  std::vector<BYTE> packet;
  std::uint64_t delaySeed = 0;

  bool drifts() const { return endpoint->driftPpm != 0.0 || !endpoint->driftChanges.empty(); }

  // Frames sampled from Start to elapsed ticks of the clock, fractions kept:
  // the announced rate, scaled by the drift of each stretch in turn.
  long double framesAfter(std::int64_t elapsed) const {
    const long double rate = endpoint->format.rate;
    long double frames = 0.0L;
    std::int64_t from = 0;
    double ppm = endpoint->driftPpm;
    for (const auto& [atMs, nextPpm] : endpoint->driftChanges) {
      const std::int64_t to = atMs * (kSimClockFrequency / 1000);
      if (to >= elapsed) break;
      frames += static_cast<long double>(to - from) * rate * (1.0L + ppm / 1e6L) / kSimClockFrequency;
      from = to;
      ppm = nextPpm;
    }
    return frames + static_cast<long double>(elapsed - from) * rate * (1.0L + ppm / 1e6L) / kSimClockFrequency;
  }

  // Clock ticks from Start to the instant frame `frame` is sampled.
  std::int64_t frameTicks(std::int64_t frame) const {
    if (!drifts())
      return static_cast<std::int64_t>(static_cast<__int128>(frame) * kSimClockFrequency / endpoint->format.rate);
    return static_cast<std::int64_t>(driftedFrameTicks(frame));
  }

  long double driftedFrameTicks(std::int64_t frame) const {
    const long double rate = endpoint->format.rate;
    long double left = frame;
    long double ticks = 0.0L;
    double ppm = endpoint->driftPpm;
    for (const auto& [atMs, nextPpm] : endpoint->driftChanges) {
      const long double stretchTicks = atMs * (kSimClockFrequency / 1000) - ticks;
      const long double stretchFrames = stretchTicks * rate * (1.0L + ppm / 1e6L) / kSimClockFrequency;
      if (stretchFrames > left) break;
      left -= stretchFrames;
      ticks += stretchTicks;
      ppm = nextPpm;
    }
    return ticks + left * kSimClockFrequency / (rate * (1.0L + ppm / 1e6L));
  }

  std::int64_t deliveredFrames() const {
    if (!everStarted) return 0;
    const std::int64_t now = started ? simClockTicks() : stoppedTicks;
    if (drifts()) return static_cast<std::int64_t>(framesAfter(now - startTicks));
    const auto product = static_cast<__int128>(now - startTicks) * endpoint->format.rate;
    return static_cast<std::int64_t>(product / kSimClockFrequency);
  }

  std::int64_t heldPacketLimit() const {
    const std::int64_t heldFrames = static_cast<std::int64_t>(endpoint->format.rate) * kHeldMilliseconds / 1000;
    const std::int64_t packets = heldFrames / endpoint->packetFrames;
    return packets > 0 ? packets : 1;
  }

  // Packets complete and not yet read; the ones beyond what the buffer holds
  // are lost. Counts no further than atMost when the endpoint has a timing.
  std::int64_t readyPackets(std::int64_t atMost) {
    if (endpoint->signal.kind == SignalKind::none) return 0;
    const std::int64_t complete = deliveredFrames() / endpoint->packetFrames;
    if (complete - consumedPackets > heldPacketLimit()) consumedPackets = complete - heldPacketLimit();
    if (deliversWhenDue(endpoint->timing)) return complete - consumedPackets;
    return timedReadyPackets(complete, atMost);
  }

  // Virtual time at which the packet with this index is complete.
  std::int64_t packetDueTicks(std::int64_t index) const {
    // The first tick at which the packet's last frame has been sampled.
    if (drifts()) {
      const std::int64_t frames = (index + 1) * endpoint->packetFrames;
      std::int64_t ticks = frameTicks(frames);
      while (static_cast<std::int64_t>(framesAfter(ticks)) < frames) ++ticks;
      return startTicks + ticks;
    }
    const auto scaled = static_cast<__int128>(index + 1) * endpoint->packetFrames * kSimClockFrequency;
    const auto rate = static_cast<__int128>(endpoint->format.rate);
    return startTicks + static_cast<std::int64_t>((scaled + rate - 1) / rate);
  }

  // The complete packets that the endpoint's timing has let out by now, in
  // order; those due while it is quiet are lost when the reader reaches them.
  std::int64_t timedReadyPackets(std::int64_t complete, std::int64_t atMost) {
    const std::int64_t now = simClockTicks();
    std::int64_t ready = 0;
    for (std::int64_t index = consumedPackets; index < complete && ready < atMost; ++index) {
      const std::int64_t due = packetDueTicks(index);
      if (packetWithheld(endpoint->timing, due)) {
        if (ready > 0) break;
        ++consumedPackets;
        continue;
      }
      if (due + packetDelayTicks(endpoint->timing, delaySeed, index) > now) break;
      ++ready;
    }
    return ready;
  }

  void fillPacket() {
    const MixFormat& format = endpoint->format;
    const std::size_t stride = frameBytes(format);
    packet.assign(stride * endpoint->packetFrames, 0);
    if (endpoint->signal.kind == SignalKind::silence) return;
    const std::int64_t first = consumedPackets * endpoint->packetFrames;
    if (drifts()) {
      // The world's sound at the instant each frame is sampled.
      for (UINT32 f = 0; f < endpoint->packetFrames; ++f) {
        const long double seconds = driftedFrameTicks(first + f) / kSimClockFrequency;
        encodeFrame(signalAt(endpoint->signal, seconds), format, packet.data() + f * stride);
      }
      return;
    }
    for (UINT32 f = 0; f < endpoint->packetFrames; ++f)
      encodeFrame(signalValue(endpoint->signal, first + f, format.rate), format, packet.data() + f * stride);
  }
};

class AudioClient;

class CaptureClient final : public CaptureClientObject<CaptureClient> {
 public:
  CaptureClient(AudioClient* owner, Stream& stream);
  ~CaptureClient();

  HRESULT STDMETHODCALLTYPE GetBuffer(BYTE** data, UINT32* frames, DWORD* flags, UINT64* devicePosition,
                                      UINT64* counterPosition) override {
    if (const HRESULT refused = clearBufferOutputs(data, frames, flags); FAILED(refused)) return refused;
    if (const auto failure = scriptedFailure(stream_.endpoint->scripted, "GetBuffer")) return *failure;
    if (stream_.packetOut) return AUDCLNT_E_OUT_OF_ORDER;
    if (stream_.readyPackets(1) == 0) return AUDCLNT_S_BUFFER_EMPTY;
    stream_.fillPacket();
    stream_.packetOut = true;
    stream_.packetOutFrames = stream_.endpoint->packetFrames;
    *data = stream_.packet.data();
    *frames = stream_.packetOutFrames;
    if (stream_.endpoint->signal.kind == SignalKind::silence) *flags = AUDCLNT_BUFFERFLAGS_SILENT;
    if (devicePosition != nullptr)
      *devicePosition = static_cast<UINT64>(stream_.consumedPackets) * stream_.endpoint->packetFrames;
    // As WASAPI: when the packet's first frame was sampled, in 100 ns units.
    if (counterPosition != nullptr)
      *counterPosition = static_cast<UINT64>(
          stream_.startTicks + stream_.frameTicks(stream_.consumedPackets * stream_.endpoint->packetFrames));
    return scriptedSuccess(stream_.endpoint->scripted, "GetBuffer");
  }

  HRESULT STDMETHODCALLTYPE ReleaseBuffer(UINT32 frames) override {
    if (const auto failure = scriptedFailure(stream_.endpoint->scripted, "ReleaseBuffer")) return *failure;
    if (!stream_.packetOut) return AUDCLNT_E_OUT_OF_ORDER;
    // Releasing 0 frames keeps the packet for the next GetBuffer.
    if (frames != 0 && frames != stream_.packetOutFrames) return AUDCLNT_E_INVALID_SIZE;
    stream_.packetOut = false;
    if (frames != 0) ++stream_.consumedPackets;
    return scriptedSuccess(stream_.endpoint->scripted, "ReleaseBuffer");
  }

  HRESULT STDMETHODCALLTYPE GetNextPacketSize(UINT32* frames) override {
    if (frames == nullptr) return E_POINTER;
    *frames = 0;
    if (const auto failure = scriptedFailure(stream_.endpoint->scripted, "GetNextPacketSize")) return *failure;
    if (const auto lost = lossOf(*stream_.endpoint, simClockTicks())) return *lost;
    if (stream_.readyPackets(1) > 0) *frames = stream_.endpoint->packetFrames;
    return scriptedSuccess(stream_.endpoint->scripted, "GetNextPacketSize");
  }

 private:
  AudioClient* owner_;
  Stream& stream_;
};

class AudioClient final : public AudioClientObject<AudioClient> {
 public:
  explicit AudioClient(const Endpoint& endpoint) {
    stream_.endpoint = &endpoint;
    stream_.delaySeed = delaySeedOf(endpoint);
  }

  HRESULT STDMETHODCALLTYPE Initialize(AUDCLNT_SHAREMODE shareMode, DWORD streamFlags, REFERENCE_TIME bufferDuration,
                                       REFERENCE_TIME periodicity, const WAVEFORMATEX* format, LPCGUID) override {
    if (const auto failure = scriptedFailure(endpoint().scripted, "Initialize")) return *failure;
    if (stream_.initialised) return AUDCLNT_E_ALREADY_INITIALIZED;
    if (format == nullptr) return E_POINTER;
    if (shareMode != AUDCLNT_SHAREMODE_SHARED && shareMode != AUDCLNT_SHAREMODE_EXCLUSIVE) return E_INVALIDARG;
    if ((streamFlags & ~kKnownStreamFlags) != 0 || bufferDuration < 0) return E_INVALIDARG;
    // Shared mode takes its period from the engine.
    if (shareMode == AUDCLNT_SHAREMODE_SHARED && periodicity != 0) return E_INVALIDARG;
    const bool loopback = (streamFlags & AUDCLNT_STREAMFLAGS_LOOPBACK) != 0;
    if (loopback && (endpoint().flow != eRender || shareMode != AUDCLNT_SHAREMODE_SHARED))
      return AUDCLNT_E_WRONG_ENDPOINT_TYPE;
    // The engine here mixes in the mix format only, and offers no exclusive use.
    WAVEFORMATEX* mix = newMixFormat(endpoint().format);
    if (mix == nullptr) return E_OUTOFMEMORY;
    const bool sameFormat =
        formatBlockBytes(*mix) == formatBlockBytes(*format) && std::memcmp(mix, format, formatBlockBytes(*mix)) == 0;
    CoTaskMemFree(mix);
    if (shareMode == AUDCLNT_SHAREMODE_EXCLUSIVE || !sameFormat || endpoint().format.channels == 0 ||
        endpoint().format.rate == 0)
      return AUDCLNT_E_UNSUPPORTED_FORMAT;
    stream_.initialised = true;
    loopback_ = loopback;
    return scriptedSuccess(endpoint().scripted, "Initialize");
  }

  HRESULT STDMETHODCALLTYPE GetBufferSize(UINT32* frames) override {
    if (frames == nullptr) return E_POINTER;
    if (!stream_.initialised) return AUDCLNT_E_NOT_INITIALIZED;
    *frames = static_cast<UINT32>(static_cast<std::int64_t>(endpoint().format.rate) * kHeldMilliseconds / 1000);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetMixFormat(WAVEFORMATEX** format) override {
    if (format == nullptr) return E_POINTER;
    *format = nullptr;
    if (const auto failure = scriptedFailure(endpoint().scripted, "GetMixFormat")) return *failure;
    *format = newMixFormat(endpoint().format);
    if (*format == nullptr) return E_OUTOFMEMORY;
    return scriptedSuccess(endpoint().scripted, "GetMixFormat");
  }
  HRESULT STDMETHODCALLTYPE Start() override {
    if (const auto failure = scriptedFailure(endpoint().scripted, "Start")) return *failure;
    if (!stream_.initialised) return AUDCLNT_E_NOT_INITIALIZED;
    if (stream_.started) return AUDCLNT_E_NOT_STOPPED;
    // A restart continues the stream where Stop left it.
    stream_.startTicks = simClockTicks() - (stream_.stoppedTicks - stream_.startTicks);
    stream_.started = true;
    stream_.everStarted = true;
    return scriptedSuccess(endpoint().scripted, "Start");
  }
  HRESULT STDMETHODCALLTYPE Stop() override {
    if (const auto failure = scriptedFailure(endpoint().scripted, "Stop")) return *failure;
    if (!stream_.initialised) return AUDCLNT_E_NOT_INITIALIZED;
    if (!stream_.started) return S_FALSE;
    stream_.stoppedTicks = simClockTicks();
    stream_.started = false;
    return scriptedSuccess(endpoint().scripted, "Stop");
  }
  HRESULT STDMETHODCALLTYPE GetService(REFIID iid, void** service) override {
    if (service == nullptr) return E_POINTER;
    *service = nullptr;
    if (const auto failure = scriptedFailure(endpoint().scripted, "GetService")) return *failure;
    if (!stream_.initialised) return AUDCLNT_E_NOT_INITIALIZED;
    if (!IsEqualGUID(iid, IID_IAudioCaptureClient)) return E_NOINTERFACE;
    // A render stream opened without loopback plays; it has nothing to capture.
    if (endpoint().flow == eRender && !loopback_) return AUDCLNT_E_WRONG_ENDPOINT_TYPE;
    *service = static_cast<IAudioCaptureClient*>(new CaptureClient(this, stream_));
    return scriptedSuccess(endpoint().scripted, "GetService");
  }

 private:
  const Endpoint& endpoint() const { return *stream_.endpoint; }
  Stream stream_;
  bool loopback_ = false;
};

// The capture client keeps its audio client, and so the stream, alive.
CaptureClient::CaptureClient(AudioClient* owner, Stream& stream) : owner_(owner), stream_(stream) { owner_->AddRef(); }
CaptureClient::~CaptureClient() { owner_->Release(); }

}  // namespace

IAudioClient* newAudioClient(const Endpoint& endpoint) { return new AudioClient(endpoint); }

}  // namespace sim
