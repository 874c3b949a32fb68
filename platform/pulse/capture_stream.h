// One PulseAudio record stream and the packet the capture client is handing
// out. The packet is a copy of one fragment of the stream, taken and dropped
// from the stream under the main loop's lock, so that what the caller reads
// never depends on the server staying alive while it reads.
#pragma once

#include <pulse/pulseaudio.h>

#include <memory>
#include <vector>

#include "endpoints/core_audio.h"
#include "platform/pulse/pulse_connection.h"

struct CaptureStream {
  CaptureStream(std::shared_ptr<PulseConnection> connection, pa_stream* stream, const pa_sample_spec& spec);
  ~CaptureStream();
  CaptureStream(const CaptureStream&) = delete;
  CaptureStream& operator=(const CaptureStream&) = delete;

  // With the lock held: the connection and the stream both still work.
  bool usable() const;
  // With the lock held: takes the next fragment into `packet` unless one is
  // already held. False when the stream or the connection has died.
  bool fetchPacket();

  std::shared_ptr<PulseConnection> connection;
  pa_stream* stream;
  std::size_t frameBytes;
  UINT32 framesPerPeriod;  // 10 ms of frames
  std::vector<BYTE> packet;
  UINT32 packetFrames = 0;
  bool packetSilent = false;
  bool packetHeld = false;  // fetched and not yet released
  bool packetOut = false;   // handed out by GetBuffer
  UINT64 framesReleased = 0;
};
