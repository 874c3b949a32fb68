// One connection to the PulseAudio (or pipewire-pulse) server, served by a
// threaded main loop so that no call from the capture loop's thread waits for
// the server. Every object that talks to the server shares it.
#pragma once

#include <pulse/pulseaudio.h>

#include <functional>
#include <memory>

#include "endpoints/core_audio.h"

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
  pa_threaded_mainloop* loop() const { return loop_; }

  // Holds the main loop's lock: every libpulse call outside a callback needs it.
  class Lock {
   public:
    explicit Lock(const PulseConnection& connection) : loop_(connection.loop_) { pa_threaded_mainloop_lock(loop_); }
    ~Lock() { pa_threaded_mainloop_unlock(loop_); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

   private:
    pa_threaded_mainloop* loop_;
  };

  // With the lock held: whether the server connection still works.
  bool alive() const;

  // With the lock held: waits until done() is true, the connection dies or
  // timeoutMs passes. True only when done() became true. Callbacks that change
  // what done() looks at must call wake().
  bool waitUntil(const std::function<bool()>& done, int timeoutMs);

  // From a callback (main loop thread): lets waitUntil look again.
  void wake() { pa_threaded_mainloop_signal(loop_, 0); }

  // Waits for an operation to finish; unreferences it either way.
  bool finish(pa_operation* operation, int timeoutMs);

 private:
  PulseConnection() = default;

  pa_threaded_mainloop* loop_ = nullptr;
  pa_context* context_ = nullptr;
};

// Long enough for a busy server, short enough that set-up never appears hung.
inline constexpr int kServerReplyTimeoutMs = 5000;
