// One connection to the PulseAudio (or pipewire-pulse) server on a main loop
// that no thread runs (PollLoop): what the server sends waits in the socket
// until a call from the capture loop reads it, as a WASAPI packet waits for
// GetBuffer. So nothing wakes between two passes of the loop, and no call
// waits for another thread. Every object that talks to the server shares it;
// all of them are used from one thread.
#pragma once

#include <pulse/pulseaudio.h>

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/core_audio.h"
#include "platform/pulse/poll_loop.h"

class PulseConnection {
 public:
  // Connects to the server named by the environment (or the user's default)
  // and waits for it to be ready; never spawns a server. Null with *status set
  // when there is none or it does not answer in time.
  static std::shared_ptr<PulseConnection> open(HRESULT* status);
  ~PulseConnection();
  PulseConnection(const PulseConnection&) = delete;
  PulseConnection& operator=(const PulseConnection&) = delete;

  pa_context* context() const { return context_; }

  // Whether the server connection still works, as of the last dispatch.
  bool alive() const;

  // Reads and dispatches everything the server has sent, and sends what is
  // queued for it, without waiting.
  void pump();
  // The same, unless a pump finished a moment ago: one drain pass asks for
  // packets several times, and the server sends only every few milliseconds.
  void pumpIfStale();

  // Runs the loop, sleeping in poll, until done() is true, the connection
  // dies or timeoutMs passes. True only when done() became true.
  bool waitUntil(const std::function<bool()>& done, int timeoutMs);

  // Waits for an operation to finish; unreferences it either way.
  bool finish(pa_operation* operation, int timeoutMs);

 private:
  PulseConnection() = default;

  PollLoop loop_;
  pa_context* context_ = nullptr;
  std::int64_t lastPumpNs_ = -1;
};

// Long enough for a busy server, short enough that set-up never appears hung.
inline constexpr int kServerReplyTimeoutMs = 5000;
