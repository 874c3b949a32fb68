#include "platform/pulse/audio_client.h"

#include <algorithm>
#include <cstring>

#include "platform/portable/seam_objects.h"
#include "platform/portable/monotonic_clock.h"
#include "platform/pulse/capture_stream.h"
#include "platform/pulse/pulse_format.h"

namespace {

constexpr HRESULT kExclusiveModeNotAllowed = static_cast<HRESULT>(0x8889000Eu);  // AUDCLNT_E_EXCLUSIVE_MODE_NOT_ALLOWED
constexpr REFERENCE_TIME kPeriod = 100000;         // 10 ms, the shared-mode period WASAPI reports
constexpr REFERENCE_TIME kMinimumBuffer = 200000;  // 20 ms: two periods

void onCorked(pa_stream*, int success, void* succeeded) { *static_cast<bool*>(succeeded) = success != 0; }

HRESULT statusOfServerError(int error) {
  switch (error) {
    case PA_ERR_ACCESS:
    case PA_ERR_AUTHKEY: return E_ACCESSDENIED;
    case PA_ERR_NOENTITY:
    case PA_ERR_KILLED: return AUDCLNT_E_DEVICE_INVALIDATED;
    case PA_ERR_NOTSUPPORTED:
    case PA_ERR_INVALID: return AUDCLNT_E_UNSUPPORTED_FORMAT;
    case PA_ERR_CONNECTIONREFUSED:
    case PA_ERR_CONNECTIONTERMINATED: return AUDCLNT_E_SERVICE_NOT_RUNNING;
    default: return E_FAIL;
  }
}

UINT64 performanceCounterIn100ns() { return static_cast<UINT64>(monotonicNanoseconds() / 100); }

class PulseCaptureClient final : public CaptureClientObject<PulseCaptureClient> {
 public:
  explicit PulseCaptureClient(std::shared_ptr<CaptureStream> stream) : stream_(std::move(stream)) {}

  // Whatever the server has sent is read here, from the capture loop's own
  // thread. A stream whose device or server is gone answers as WASAPI does:
  // AUDCLNT_E_DEVICE_INVALIDATED or AUDCLNT_E_SERVICE_NOT_RUNNING, from then
  // on.
  HRESULT STDMETHODCALLTYPE GetNextPacketSize(UINT32* frames) override {
    if (frames == nullptr) return E_POINTER;
    *frames = 0;
    CaptureStream& s = *stream_;
    const HRESULT status = s.fetchPacket();
    if (FAILED(status)) return status;
    *frames = s.packetHeld ? s.packetFrames : 0;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE GetBuffer(BYTE** data, UINT32* frames, DWORD* flags, UINT64* devicePosition,
                                      UINT64* counterPosition) override {
    if (const HRESULT refused = clearBufferOutputs(data, frames, flags); FAILED(refused)) return refused;
    CaptureStream& s = *stream_;
    if (s.packetOut) return AUDCLNT_E_OUT_OF_ORDER;
    const HRESULT status = s.fetchPacket();
    if (FAILED(status)) return status;
    if (!s.packetHeld) return AUDCLNT_S_BUFFER_EMPTY;
    *data = const_cast<BYTE*>(s.packetData);
    *frames = s.packetFrames;
    *flags = s.packetSilent ? AUDCLNT_BUFFERFLAGS_SILENT : 0;
    if (devicePosition != nullptr) *devicePosition = s.framesReleased;
    if (counterPosition != nullptr) *counterPosition = performanceCounterIn100ns();
    s.packetOut = true;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE ReleaseBuffer(UINT32 frames) override {
    CaptureStream& s = *stream_;
    if (!s.packetOut) return AUDCLNT_E_OUT_OF_ORDER;
    if (frames != 0 && frames != s.packetFrames) return AUDCLNT_E_INVALID_SIZE;
    s.packetOut = false;
    if (frames == 0) return S_OK;  // as WASAPI: the same packet comes again
    s.consumePacket();
    return S_OK;
  }

 private:
  std::shared_ptr<CaptureStream> stream_;
};

class PulseAudioClient final : public AudioClientObject<PulseAudioClient> {
 public:
  PulseAudioClient(std::shared_ptr<PulseConnection> connection, EndpointInfo endpoint)
      : connection_(std::move(connection)),
        endpoint_(std::move(endpoint)),
        mixFormat_(describeMixFormat(endpoint_.sampleSpec, endpoint_.channelMap)) {}

  HRESULT STDMETHODCALLTYPE Initialize(AUDCLNT_SHAREMODE shareMode, DWORD streamFlags, REFERENCE_TIME bufferDuration,
                                       REFERENCE_TIME, const WAVEFORMATEX* format, LPCGUID) override {
    if (initialized_) return AUDCLNT_E_ALREADY_INITIALIZED;
    if (format == nullptr) return E_POINTER;
    if (shareMode != AUDCLNT_SHAREMODE_SHARED) return kExclusiveModeNotAllowed;
    if ((streamFlags & ~AUDCLNT_STREAMFLAGS_LOOPBACK) != 0) return E_INVALIDARG;
    const bool loopback = (streamFlags & AUDCLNT_STREAMFLAGS_LOOPBACK) != 0;
    if (loopback && endpoint_.flow != eRender) return AUDCLNT_E_WRONG_ENDPOINT_TYPE;
    pa_sample_spec sampleSpec{};
    if (!matchesDevice(*format, &sampleSpec)) return AUDCLNT_E_UNSUPPORTED_FORMAT;
    if (!loopback && endpoint_.flow == eRender) {
      // A render stream: it exists, but it has no capture service.
      initialized_ = true;
      return S_OK;
    }
    const std::string& sourceName = loopback ? endpoint_.monitorSource : endpoint_.name;
    if (sourceName.empty()) return AUDCLNT_E_DEVICE_INVALIDATED;

    pa_channel_map channelMap = endpoint_.channelMap;
    if (channelMap.channels != sampleSpec.channels)
      pa_channel_map_init_extend(&channelMap, sampleSpec.channels, PA_CHANNEL_MAP_AUX);
    // The requested duration is what GetBufferSize reports; the stream's own
    // queue is left at the server's size, because a source with a fixed
    // latency (no dynamic latency) hands over fragments as long as that
    // latency, and a shorter queue would throw most of them away.
    bufferFrames_ = static_cast<UINT32>(
        pa_usec_to_bytes(static_cast<pa_usec_t>(std::max(bufferDuration, kMinimumBuffer) / 10), &sampleSpec) /
        pa_frame_size(&sampleSpec));
    pa_buffer_attr attributes;
    attributes.maxlength = static_cast<std::uint32_t>(-1);
    attributes.fragsize = static_cast<std::uint32_t>(pa_usec_to_bytes(kPeriod / 10, &sampleSpec));
    attributes.tlength = attributes.prebuf = attributes.minreq = static_cast<std::uint32_t>(-1);
    // The exact device format: the caller does its own resampling and down-mix,
    // so the server must do neither; and the stream stays on its device, as a
    // WASAPI stream does, instead of following another one.
    const auto flags =
        static_cast<pa_stream_flags_t>(PA_STREAM_START_CORKED | PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE |
                                       PA_STREAM_NO_REMAP_CHANNELS | PA_STREAM_NO_REMIX_CHANNELS);

    if (!connection_->alive()) return AUDCLNT_E_SERVICE_NOT_RUNNING;
    pa_stream* stream =
        pa_stream_new(connection_->context(), loopback ? "loopback capture" : "capture", &sampleSpec, &channelMap);
    if (stream == nullptr) return statusOfServerError(pa_context_errno(connection_->context()));
    HRESULT status = S_OK;
    if (pa_stream_connect_record(stream, sourceName.c_str(), &attributes, flags) < 0) {
      status = statusOfServerError(pa_context_errno(connection_->context()));
    } else {
      const bool settled = connection_->waitUntil(
          [stream] {
            const pa_stream_state_t state = pa_stream_get_state(stream);
            return state == PA_STREAM_READY || state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED;
          },
          kServerReplyTimeoutMs);
      if (pa_stream_get_state(stream) != PA_STREAM_READY)
        status = settled ? statusOfServerError(pa_context_errno(connection_->context()))
                         : (connection_->alive() ? HRESULT_ERROR_TIMEOUT : AUDCLNT_E_SERVICE_NOT_RUNNING);
    }
    if (FAILED(status)) {
      if (pa_stream_get_state(stream) != PA_STREAM_UNCONNECTED) pa_stream_disconnect(stream);
      pa_stream_unref(stream);
      return status;
    }
    const pa_buffer_attr* granted = pa_stream_get_buffer_attr(stream);
    stream_ = std::make_shared<CaptureStream>(
        connection_, stream, sampleSpec, granted != nullptr ? granted->fragsize : attributes.fragsize, bufferFrames_);
    initialized_ = true;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE GetBufferSize(UINT32* frames) override {
    if (frames == nullptr) return E_POINTER;
    if (!initialized_) return AUDCLNT_E_NOT_INITIALIZED;
    *frames = bufferFrames_;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE GetMixFormat(WAVEFORMATEX** format) override {
    if (format == nullptr) return E_POINTER;
    const std::size_t size = mixFormatSize(mixFormat_);
    *format = static_cast<WAVEFORMATEX*>(CoTaskMemAlloc(size));
    if (*format == nullptr) return E_OUTOFMEMORY;
    std::memcpy(*format, &mixFormat_, size);
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE Start() override {
    if (!initialized_) return AUDCLNT_E_NOT_INITIALIZED;
    if (running_) return AUDCLNT_E_NOT_STOPPED;
    if (stream_ != nullptr) {
      connection_->pump();
      HRESULT status = stream_->health();
      if (FAILED(status)) return status;
      bool succeeded = false;
      pa_operation* operation = pa_stream_cork(stream_->stream, 0, onCorked, &succeeded);
      const bool finished = connection_->finish(operation, kServerReplyTimeoutMs);
      if (!finished || !succeeded) {
        status = stream_->health();
        return FAILED(status) ? status : HRESULT_ERROR_TIMEOUT;
      }
    }
    running_ = true;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE Stop() override {
    if (!initialized_) return AUDCLNT_E_NOT_INITIALIZED;
    if (!running_) return S_FALSE;
    running_ = false;
    if (stream_ != nullptr) {
      // Not waited for: the stream stops delivering once the server has it.
      // The pump only sends the request on its way.
      if (SUCCEEDED(stream_->health())) {
        pa_operation* operation = pa_stream_cork(stream_->stream, 1, nullptr, nullptr);
        if (operation != nullptr) pa_operation_unref(operation);
        connection_->pump();
      }
    }
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE GetService(REFIID iid, void** service) override {
    if (service == nullptr) return E_POINTER;
    *service = nullptr;
    if (!initialized_) return AUDCLNT_E_NOT_INITIALIZED;
    if (!(iid == IID_IAudioCaptureClient)) return E_NOINTERFACE;
    if (stream_ == nullptr) return AUDCLNT_E_WRONG_ENDPOINT_TYPE;
    *service = static_cast<IAudioCaptureClient*>(new PulseCaptureClient(stream_));
    return S_OK;
  }

 private:
  // Shared mode takes the device's own rate and channel count only, as on
  // Windows; the sample type may be any the stream can record exactly.
  bool matchesDevice(const WAVEFORMATEX& format, pa_sample_spec* sampleSpec) const {
    return recordingSpec(format, sampleSpec) && sampleSpec->rate == endpoint_.sampleSpec.rate &&
           sampleSpec->channels == endpoint_.sampleSpec.channels;
  }

  std::shared_ptr<PulseConnection> connection_;
  EndpointInfo endpoint_;
  WAVEFORMATEXTENSIBLE mixFormat_;
  std::shared_ptr<CaptureStream> stream_;
  UINT32 bufferFrames_ = 0;
  bool initialized_ = false;
  bool running_ = false;
};

}  // namespace

IAudioClient* newPulseAudioClient(std::shared_ptr<PulseConnection> connection, const EndpointInfo& endpoint) {
  return new PulseAudioClient(std::move(connection), endpoint);
}
