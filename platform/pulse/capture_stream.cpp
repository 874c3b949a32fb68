#include "platform/pulse/capture_stream.h"

#include <algorithm>
#include <cstring>

#include "platform/portable/monotonic_clock.h"

CaptureStream::CaptureStream(std::shared_ptr<PulseConnection> connectionIn, pa_stream* streamIn,
                             const pa_sample_spec& sampleSpec, std::size_t grantedFragmentBytes, UINT32 bufferFrames)
    : connection(std::move(connectionIn)),
      stream(streamIn),
      frameBytes(pa_frame_size(&sampleSpec)),
      rate(sampleSpec.rate),
      framesPerPeriod(sampleSpec.rate / 100 > 0 ? sampleSpec.rate / 100 : 1),
      slackFrames_(2 * framesPerPeriod) {
  const UINT64 burstFrames = grantedFragmentBytes / frameBytes;
  // A few periods per fragment is ordinary; a fragment of half the buffer or
  // longer would be cut down by a caller that keeps a short backlog.
  paced_ = burstFrames > bufferFrames / 2;
  queueLimitFrames_ = burstFrames + bufferFrames;
}

CaptureStream::~CaptureStream() {
  if (pa_stream_get_state(stream) == PA_STREAM_READY) pa_stream_disconnect(stream);
  pa_stream_unref(stream);
}

HRESULT CaptureStream::health() const {
  // A dead connection fails its streams too; it is the one to report.
  if (!connection->alive()) return AUDCLNT_E_SERVICE_NOT_RUNNING;
  if (pa_stream_get_state(stream) != PA_STREAM_READY) return AUDCLNT_E_DEVICE_INVALIDATED;
  return S_OK;
}

HRESULT CaptureStream::fetchPacket() {
  if (packetHeld) return S_OK;
  connection->pumpIfStale();
  const HRESULT status = health();
  if (FAILED(status)) return status;
  // A stream in working order refuses a peek only when it is broken.
  return (paced_ ? fetchPaced() : fetchFragment()) ? S_OK : AUDCLNT_E_DEVICE_INVALIDATED;
}

void CaptureStream::consumePacket() {
  if (paced_) {
    queueStart_ += static_cast<std::size_t>(packetFrames) * frameBytes;
    framesHandedOut_ += packetFrames;
  }
  framesReleased += packetFrames;
  packetHeld = false;
}

bool CaptureStream::fetchFragment() {
  for (;;) {
    const void* data = nullptr;
    std::size_t bytes = 0;
    if (pa_stream_peek(stream, &data, &bytes) < 0) return false;
    if (bytes == 0) return true;  // nothing readable yet
    const std::size_t frames = bytes / frameBytes;
    if (frames > 0) {
      fragment_.resize(frames * frameBytes);
      // A hole in the stream (data lost on the way) is a silent packet.
      if (data != nullptr) {
        std::memcpy(fragment_.data(), data, fragment_.size());
      } else {
        std::memset(fragment_.data(), 0, fragment_.size());
      }
      packetData = fragment_.data();
      packetFrames = static_cast<UINT32>(frames);
      packetSilent = data == nullptr;
      packetHeld = true;
    }
    pa_stream_drop(stream);
    if (packetHeld) return true;
  }
}

bool CaptureStream::fetchPaced() {
  // Move everything readable into the queue (holes as silence).
  if (queueStart_ > 0 && queueStart_ * 2 >= queue_.size()) {
    queue_.erase(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(queueStart_));
    queueStart_ = 0;
  }
  for (;;) {
    const void* data = nullptr;
    std::size_t bytes = 0;
    if (pa_stream_peek(stream, &data, &bytes) < 0) return false;
    if (bytes == 0) break;
    const std::size_t end = queue_.size();
    queue_.resize(end + bytes);
    if (data != nullptr) {
      std::memcpy(queue_.data() + end, data, bytes);
    } else {
      std::memset(queue_.data() + end, 0, bytes);
    }
    pa_stream_drop(stream);
  }
  const UINT64 queuedFrames = (queue_.size() - queueStart_) / frameBytes;
  if (queuedFrames == 0) return true;
  const std::int64_t now = monotonicNanoseconds();
  if (originNs_ < 0) originNs_ = now;
  const UINT64 dueFrames = static_cast<UINT64>(static_cast<double>(now - originNs_) * rate / 1e9) + slackFrames_;
  UINT64 allowed = dueFrames > framesHandedOut_ ? dueFrames - framesHandedOut_ : 0;
  // A device clock a little faster than ours must not build up latency
  // without end: past the limit the surplus goes out at once.
  if (queuedFrames > queueLimitFrames_) allowed = std::max(allowed, queuedFrames - queueLimitFrames_);
  const UINT64 frames = std::min<UINT64>({queuedFrames, allowed, rate});
  if (frames == 0) return true;
  packetData = queue_.data() + queueStart_;
  packetFrames = static_cast<UINT32>(frames);
  packetSilent = false;
  packetHeld = true;
  return true;
}
