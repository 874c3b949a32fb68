#include "platform/pulse/capture_stream.h"

#include <cstring>

CaptureStream::CaptureStream(std::shared_ptr<PulseConnection> connectionIn, pa_stream* streamIn,
                             const pa_sample_spec& spec)
    : connection(std::move(connectionIn)),
      stream(streamIn),
      frameBytes(pa_frame_size(&spec)),
      framesPerPeriod(spec.rate / 100 > 0 ? spec.rate / 100 : 1) {}

CaptureStream::~CaptureStream() {
  PulseConnection::Lock lock(*connection);
  pa_stream_set_state_callback(stream, nullptr, nullptr);
  if (pa_stream_get_state(stream) == PA_STREAM_READY) pa_stream_disconnect(stream);
  pa_stream_unref(stream);
}

bool CaptureStream::usable() const {
  return connection->alive() && pa_stream_get_state(stream) == PA_STREAM_READY;
}

bool CaptureStream::fetchPacket() {
  if (packetHeld) return true;
  if (!usable()) return false;
  for (;;) {
    const void* data = nullptr;
    std::size_t bytes = 0;
    if (pa_stream_peek(stream, &data, &bytes) < 0) return false;
    if (bytes == 0) return true;  // nothing readable yet
    const std::size_t frames = bytes / frameBytes;
    if (frames > 0) {
      packet.resize(frames * frameBytes);
      // A hole in the stream (data lost on the way) is a silent packet.
      if (data != nullptr) {
        std::memcpy(packet.data(), data, packet.size());
      } else {
        std::memset(packet.data(), 0, packet.size());
      }
      packetFrames = static_cast<UINT32>(frames);
      packetSilent = data == nullptr;
      packetHeld = true;
    }
    pa_stream_drop(stream);
    if (packetHeld) return true;
  }
}
