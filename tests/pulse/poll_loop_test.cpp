// The loop libpulse runs on: what libpulse relies on from any main loop
// (events that free themselves or others from a callback, timers in wall-clock
// time, destroy callbacks), without a server.
#include "platform/pulse/poll_loop.h"

#include <gtest/gtest.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>

namespace {

struct Counts {
  int ran = 0;
  int destroyed = 0;
  pa_io_event* other = nullptr;  // freed by the first callback that sees it
};

timeval wallClockIn(int milliseconds) {
  timeval when{};
  gettimeofday(&when, nullptr);
  const long long usec = when.tv_usec + milliseconds * 1000LL;
  when.tv_sec += static_cast<time_t>(usec / 1'000'000);
  when.tv_usec = static_cast<suseconds_t>(usec % 1'000'000);
  return when;
}

TEST(PollLoop, ADescriptorThatIsReadyRunsItsEventAndOneThatIsNotDoesNot) {
  PollLoop loop;
  pa_mainloop_api* api = loop.api();
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  Counts counts;
  pa_io_event* reader = api->io_new(
      api, ends[0], PA_IO_EVENT_INPUT,
      [](pa_mainloop_api*, pa_io_event*, int fd, pa_io_event_flags_t events, void* userdata) {
        char byte;
        EXPECT_EQ(read(fd, &byte, 1), 1);
        EXPECT_NE(events & PA_IO_EVENT_INPUT, 0);
        ++static_cast<Counts*>(userdata)->ran;
      },
      &counts);
  EXPECT_EQ(loop.iterate(0), 0);
  ASSERT_EQ(write(ends[1], "x", 1), 1);
  EXPECT_EQ(loop.iterate(0), 1);
  EXPECT_EQ(counts.ran, 1);
  api->io_enable(reader, PA_IO_EVENT_NULL);
  ASSERT_EQ(write(ends[1], "x", 1), 1);
  EXPECT_EQ(loop.iterate(0), 0) << "a disabled event ran";
  api->io_free(reader);
  close(ends[0]);
  close(ends[1]);
}

TEST(PollLoop, ACallbackMayFreeItselfAndOthersAndEachDestroyCallbackRunsOnce) {
  Counts counts;
  {
    PollLoop loop;
    pa_mainloop_api* api = loop.api();
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    ASSERT_EQ(write(ends[1], "xx", 2), 2);
    auto onReady = [](pa_mainloop_api* a, pa_io_event* self, int, pa_io_event_flags_t, void* userdata) {
      auto* c = static_cast<Counts*>(userdata);
      ++c->ran;
      a->io_free(self);
      if (c->other != nullptr && c->other != self) a->io_free(c->other);
      c->other = nullptr;
    };
    auto onDestroy = [](pa_mainloop_api*, pa_io_event*, void* userdata) {
      ++static_cast<Counts*>(userdata)->destroyed;
    };
    pa_io_event* first = api->io_new(api, ends[0], PA_IO_EVENT_INPUT, onReady, &counts);
    pa_io_event* second = api->io_new(api, ends[0], PA_IO_EVENT_INPUT, onReady, &counts);
    api->io_set_destroy(first, onDestroy);
    api->io_set_destroy(second, onDestroy);
    counts.other = second;
    EXPECT_EQ(loop.iterate(0), 1) << "an event freed earlier in the round still ran";
    EXPECT_EQ(counts.destroyed, 2);

    // A deferred event runs on every round until disabled, without waiting.
    pa_defer_event* deferred = api->defer_new(
        api, [](pa_mainloop_api*, pa_defer_event*, void* userdata) { ++static_cast<Counts*>(userdata)->ran; }, &counts);
    api->defer_set_destroy(deferred, [](pa_mainloop_api*, pa_defer_event*, void* userdata) {
      ++static_cast<Counts*>(userdata)->destroyed;
    });
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(loop.iterate(1'000'000), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(500)) << "it waited";
    api->defer_enable(deferred, 0);
    EXPECT_EQ(loop.iterate(0), 0);
    close(ends[0]);
    close(ends[1]);
  }
  EXPECT_EQ(counts.destroyed, 3) << "the loop's end destroys what is left";
}

TEST(PollLoop, ATimerGivenInWallClockTimeEndsTheWaitWhenItIsDueAndRunsOnce) {
  PollLoop loop;
  pa_mainloop_api* api = loop.api();
  Counts counts;
  const timeval due = wallClockIn(50);
  pa_time_event* timer = api->time_new(
      api, &due,
      [](pa_mainloop_api*, pa_time_event*, const timeval*, void* userdata) { ++static_cast<Counts*>(userdata)->ran; },
      &counts);
  const auto begin = std::chrono::steady_clock::now();
  while (counts.ran == 0 && std::chrono::steady_clock::now() - begin < std::chrono::seconds(5)) loop.iterate(5'000'000);
  const auto waited = std::chrono::steady_clock::now() - begin;
  EXPECT_EQ(counts.ran, 1);
  EXPECT_GE(waited, std::chrono::milliseconds(45));
  EXPECT_LT(waited, std::chrono::seconds(1)) << "the wait did not end at the timer";
  EXPECT_EQ(loop.iterate(0), 0) << "a timer that ran is not due again until restarted";
  const timeval again = wallClockIn(0);
  api->time_restart(timer, &again);
  EXPECT_EQ(loop.iterate(0), 1);
  api->time_free(timer);
}

}  // namespace
