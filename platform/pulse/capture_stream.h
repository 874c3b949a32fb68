// One PulseAudio record stream and the packet the capture client is handing
// out. A packet is a copy of stream data, taken and dropped from the stream at
// once, so that what the caller reads never depends on the server staying
// alive while it reads.
//
// Most sources hand over a fragment every 10 ms or so, and each fragment is
// one packet. A source with a long fixed latency (a tunnel, module-sine-source)
// hands over seconds at once; a WASAPI caller that drains every 10 ms and keeps
// a short backlog would throw most of such a burst away. Those streams are
// paced: their data is queued here and handed out no faster than the clock
// lets it fall due (two periods ahead at most), as WASAPI's own engine hands
// out periods. The price is latency: the length of one burst.
#pragma once

#include <pulse/pulseaudio.h>

#include <memory>
#include <vector>

#include "platform/core_audio.h"
#include "platform/pulse/pulse_connection.h"

struct CaptureStream {
  // grantedFragmentBytes: the fragment size the server settled on;
  // bufferFrames: the buffer duration asked for at Initialize.
  CaptureStream(std::shared_ptr<PulseConnection> connection, pa_stream* stream, const pa_sample_spec& sampleSpec,
                std::size_t grantedFragmentBytes, UINT32 bufferFrames);
  ~CaptureStream();
  CaptureStream(const CaptureStream&) = delete;
  CaptureStream& operator=(const CaptureStream&) = delete;

  // S_OK while the connection and the stream both work, as of the last
  // pump; else what WASAPI answers for a lost device or a stopped service.
  HRESULT health() const;
  // Reads what the server has sent (unless that was done a moment ago) and
  // takes the next packet, unless one is already held. Fails, with
  // health(), once the stream or the connection has died.
  HRESULT fetchPacket();

  std::shared_ptr<PulseConnection> connection;
  pa_stream* stream;
  std::size_t frameBytes;
  UINT32 rate;
  UINT32 framesPerPeriod;  // 10 ms of frames

  // The packet being handed out.
  const BYTE* packetData = nullptr;
  UINT32 packetFrames = 0;
  bool packetSilent = false;
  bool packetHeld = false;  // fetched and not yet released
  bool packetOut = false;   // handed out by GetBuffer
  UINT64 framesReleased = 0;
  // Release the held packet (after the caller released all of its frames).
  void consumePacket();

 private:
  bool fetchFragment();
  bool fetchPaced();

  std::vector<BYTE> fragment_;  // unpaced: the copy of one fragment
  // Paced streams only.
  bool paced_;
  UINT64 slackFrames_;       // how far ahead of the clock it may run
  UINT64 queueLimitFrames_;  // beyond this much queued, pacing gives way
  std::vector<BYTE> queue_;
  std::size_t queueStart_ = 0;  // bytes of queue_ already handed out
  std::int64_t originNs_ = -1;  // when the first data arrived
  UINT64 framesHandedOut_ = 0;
};
