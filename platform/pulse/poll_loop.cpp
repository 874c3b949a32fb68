#include "platform/pulse/poll_loop.h"

#include <poll.h>
#include <pulse/rtclock.h>
#include <sys/time.h>

#include <algorithm>
#include <cstdint>

// Events are only marked dead when freed, and deleted after a round, so that
// a callback may free any event, itself included, while the round goes on.
struct PollLoop::IoEvent {
  PollLoop* loop;
  int fd;
  pa_io_event_flags_t events;
  pa_io_event_cb_t callback;
  void* userdata;
  pa_io_event_destroy_cb_t destroy = nullptr;
  bool dead = false;
};

struct PollLoop::TimeEvent {
  PollLoop* loop;
  bool enabled;
  pa_usec_t due;    // on the monotonic clock
  timeval asGiven;  // handed back to the callback
  pa_time_event_cb_t callback;
  void* userdata;
  pa_time_event_destroy_cb_t destroy = nullptr;
  bool dead = false;
};

struct PollLoop::DeferEvent {
  PollLoop* loop;
  bool enabled = true;
  pa_defer_event_cb_t callback;
  void* userdata;
  pa_defer_event_destroy_cb_t destroy = nullptr;
  bool dead = false;
};

namespace {

PollLoop& loopOf(pa_mainloop_api* api) { return *static_cast<PollLoop*>(api->userdata); }

// libpulse hands a loop that is not its own wall-clock times.
pa_usec_t monotonicDue(const timeval& when) {
  timeval now{};
  gettimeofday(&now, nullptr);
  const std::int64_t ahead = (static_cast<std::int64_t>(when.tv_sec) - now.tv_sec) * 1'000'000 +
                             (static_cast<std::int64_t>(when.tv_usec) - now.tv_usec);
  const pa_usec_t monotonicNow = pa_rtclock_now();
  return ahead <= 0 ? monotonicNow : monotonicNow + static_cast<pa_usec_t>(ahead);
}

short pollEventsOf(pa_io_event_flags_t events) {
  return static_cast<short>(((events & PA_IO_EVENT_INPUT) != 0 ? POLLIN : 0) |
                            ((events & PA_IO_EVENT_OUTPUT) != 0 ? POLLOUT : 0));
}

pa_io_event_flags_t ioEventsOf(short revents) {
  return static_cast<pa_io_event_flags_t>(((revents & POLLIN) != 0 ? PA_IO_EVENT_INPUT : 0) |
                                          ((revents & POLLOUT) != 0 ? PA_IO_EVENT_OUTPUT : 0) |
                                          ((revents & POLLHUP) != 0 ? PA_IO_EVENT_HANGUP : 0) |
                                          ((revents & (POLLERR | POLLNVAL)) != 0 ? PA_IO_EVENT_ERROR : 0));
}

pa_io_event* opaque(PollLoop::IoEvent* event) { return reinterpret_cast<pa_io_event*>(event); }
pa_time_event* opaque(PollLoop::TimeEvent* event) { return reinterpret_cast<pa_time_event*>(event); }
pa_defer_event* opaque(PollLoop::DeferEvent* event) { return reinterpret_cast<pa_defer_event*>(event); }
PollLoop::IoEvent* ours(pa_io_event* event) { return reinterpret_cast<PollLoop::IoEvent*>(event); }
PollLoop::TimeEvent* ours(pa_time_event* event) { return reinterpret_cast<PollLoop::TimeEvent*>(event); }
PollLoop::DeferEvent* ours(pa_defer_event* event) { return reinterpret_cast<PollLoop::DeferEvent*>(event); }

// Takes the dead events out of one list and deletes them, after their
// destroy callbacks (which may free more). True when it took any.
template <class Event>
bool deleteDead(std::vector<Event*>& events, pa_mainloop_api* api) {
  std::vector<Event*> dead;
  auto alive = std::partition(events.begin(), events.end(), [](const Event* event) { return !event->dead; });
  dead.assign(alive, events.end());
  events.erase(alive, events.end());
  for (Event* event : dead) {
    if (event->destroy != nullptr) event->destroy(api, opaque(event), event->userdata);
    delete event;
  }
  return !dead.empty();
}

}  // namespace

struct PollLoopAccess {
  static pa_io_event* ioNew(pa_mainloop_api* api, int fd, pa_io_event_flags_t events, pa_io_event_cb_t callback,
                            void* userdata) {
    PollLoop& loop = loopOf(api);
    auto* event = new PollLoop::IoEvent{&loop, fd, events, callback, userdata};
    loop.io_.push_back(event);
    return opaque(event);
  }
  static void ioEnable(pa_io_event* event, pa_io_event_flags_t events) { ours(event)->events = events; }
  static void ioFree(pa_io_event* event) { markDead(ours(event)); }
  static void ioSetDestroy(pa_io_event* event, pa_io_event_destroy_cb_t destroy) { ours(event)->destroy = destroy; }

  static pa_time_event* timeNew(pa_mainloop_api* api, const timeval* when, pa_time_event_cb_t callback,
                                void* userdata) {
    PollLoop& loop = loopOf(api);
    auto* event = new PollLoop::TimeEvent{&loop, false, 0, timeval{}, callback, userdata};
    timeRestart(opaque(event), when);
    loop.timers_.push_back(event);
    return opaque(event);
  }
  static void timeRestart(pa_time_event* opaqueEvent, const timeval* when) {
    PollLoop::TimeEvent* event = ours(opaqueEvent);
    event->enabled = when != nullptr;
    if (when != nullptr) {
      event->asGiven = *when;
      event->due = monotonicDue(*when);
    }
  }
  static void timeFree(pa_time_event* event) { markDead(ours(event)); }
  static void timeSetDestroy(pa_time_event* event, pa_time_event_destroy_cb_t destroy) {
    ours(event)->destroy = destroy;
  }

  static pa_defer_event* deferNew(pa_mainloop_api* api, pa_defer_event_cb_t callback, void* userdata) {
    PollLoop& loop = loopOf(api);
    auto* event = new PollLoop::DeferEvent{&loop, true, callback, userdata};
    loop.defers_.push_back(event);
    return opaque(event);
  }
  static void deferEnable(pa_defer_event* event, int enabled) { ours(event)->enabled = enabled != 0; }
  static void deferFree(pa_defer_event* event) { markDead(ours(event)); }
  static void deferSetDestroy(pa_defer_event* event, pa_defer_event_destroy_cb_t destroy) {
    ours(event)->destroy = destroy;
  }

  static void quit(pa_mainloop_api*, int) {}  // nothing runs the loop but its callers

  template <class Event>
  static void markDead(Event* event) {
    event->dead = true;
    event->loop->anyDead_ = true;
  }
};

PollLoop::PollLoop() {
  api_ = pa_mainloop_api{};
  api_.userdata = this;
  api_.io_new = PollLoopAccess::ioNew;
  api_.io_enable = PollLoopAccess::ioEnable;
  api_.io_free = PollLoopAccess::ioFree;
  api_.io_set_destroy = PollLoopAccess::ioSetDestroy;
  api_.time_new = PollLoopAccess::timeNew;
  api_.time_restart = PollLoopAccess::timeRestart;
  api_.time_free = PollLoopAccess::timeFree;
  api_.time_set_destroy = PollLoopAccess::timeSetDestroy;
  api_.defer_new = PollLoopAccess::deferNew;
  api_.defer_enable = PollLoopAccess::deferEnable;
  api_.defer_free = PollLoopAccess::deferFree;
  api_.defer_set_destroy = PollLoopAccess::deferSetDestroy;
  api_.quit = PollLoopAccess::quit;
}

PollLoop::~PollLoop() {
  for (IoEvent* event : io_) event->dead = true;
  for (TimeEvent* event : timers_) event->dead = true;
  for (DeferEvent* event : defers_) event->dead = true;
  anyDead_ = true;
  removeDead();
}

void PollLoop::removeDead() {
  while (anyDead_) {
    anyDead_ = false;
    deleteDead(io_, &api_);
    deleteDead(timers_, &api_);
    deleteDead(defers_, &api_);
  }
}

int PollLoop::iterate(long long timeoutUs) {
  int ran = 0;
  // Deferred work first; when there was any, the poll does not wait.
  const std::size_t deferCount = defers_.size();
  for (std::size_t i = 0; i < deferCount; ++i) {
    DeferEvent* event = defers_[i];
    if (event->dead || !event->enabled) continue;
    event->callback(&api_, opaque(event), event->userdata);
    ++ran;
  }
  if (ran > 0) timeoutUs = 0;

  pa_usec_t now = pa_rtclock_now();
  for (const TimeEvent* event : timers_) {
    if (event->dead || !event->enabled) continue;
    const long long until = event->due > now ? static_cast<long long>(event->due - now) : 0;
    timeoutUs = std::min(timeoutUs, until);
  }

  descriptors_.clear();
  polled_.clear();
  for (IoEvent* event : io_) {
    if (event->dead) continue;
    descriptors_.push_back(pollfd{event->fd, pollEventsOf(event->events), 0});
    polled_.push_back(event);
  }
  timeoutUs = std::max(timeoutUs, 0LL);
  const timespec wait{static_cast<time_t>(timeoutUs / 1'000'000), static_cast<long>(timeoutUs % 1'000'000) * 1000};
  const int ready = ppoll(descriptors_.data(), descriptors_.size(), &wait, nullptr);

  now = pa_rtclock_now();
  const std::size_t timerCount = timers_.size();
  for (std::size_t i = 0; i < timerCount; ++i) {
    TimeEvent* event = timers_[i];
    if (event->dead || !event->enabled || event->due > now) continue;
    event->enabled = false;
    event->callback(&api_, opaque(event), &event->asGiven, event->userdata);
    ++ran;
  }
  if (ready > 0) {
    for (std::size_t i = 0; i < descriptors_.size(); ++i) {
      IoEvent* event = polled_[i];
      if (descriptors_[i].revents == 0 || event->dead) continue;
      event->callback(&api_, opaque(event), event->fd, ioEventsOf(descriptors_[i].revents), event->userdata);
      ++ran;
    }
  }
  removeDead();
  return ran;
}
