// The main loop libpulse runs on: its events, dispatched only when the
// capture loop asks. libpulse's own pa_mainloop wakes itself through a pipe
// whenever a deferred event is enabled, two writes and a read for every
// packet read from the server; here enabling an event is just a flag, since
// the loop is never asleep while anything can enable one.
#pragma once

#include <poll.h>
#include <pulse/mainloop-api.h>

#include <vector>

class PollLoop {
 public:
  PollLoop();
  ~PollLoop();
  PollLoop(const PollLoop&) = delete;
  PollLoop& operator=(const PollLoop&) = delete;

  pa_mainloop_api* api() { return &api_; }

  // Runs what is due: deferred events, expired timers, and every descriptor
  // that poll finds ready within timeoutUs (0: does not wait; a signal only
  // cuts the wait short). Returns how many events ran.
  int iterate(long long timeoutUs);

  struct IoEvent;
  struct TimeEvent;
  struct DeferEvent;

 private:
  void removeDead();

  pa_mainloop_api api_;
  std::vector<IoEvent*> io_;
  std::vector<TimeEvent*> timers_;
  std::vector<DeferEvent*> defers_;
  bool anyDead_ = false;
  // One round's poll set, kept to spare an allocation per round.
  std::vector<pollfd> descriptors_;
  std::vector<IoEvent*> polled_;
  friend struct PollLoopAccess;
};
