#include "platform/sim/virtual_clock.h"

#include <time.h>

#include <atomic>
#include <cerrno>

#include "platform/sim/control_signals.h"

namespace {
constexpr std::int64_t kNanosecondsPerTick = 1'000'000'000 / kSimClockFrequency;

std::int64_t nowTicks = 0;
std::int64_t controlEventTicks = -1;  // -1: none pending
std::atomic<PHANDLER_ROUTINE> installedHandler{nullptr};
static_assert(std::atomic<PHANDLER_ROUTINE>::is_always_lock_free, "read from a signal handler");

bool realTime = false;
std::int64_t realOriginNanoseconds = 0;

std::int64_t monotonicNanoseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// On real time the clock is read, never advanced.
void followRealTime() {
  if (realTime) nowTicks = (monotonicNanoseconds() - realOriginNanoseconds) / kNanosecondsPerTick;
}

// An absolute deadline, so that a signal arriving mid-sleep neither cuts the
// sleep short nor stretches it.
void sleepRealTime(DWORD milliseconds) {
  timespec deadline{};
  clock_gettime(CLOCK_MONOTONIC, &deadline);
  const std::int64_t nanoseconds = deadline.tv_nsec + static_cast<std::int64_t>(milliseconds) * 1'000'000;
  deadline.tv_sec += static_cast<time_t>(nanoseconds / 1'000'000'000);
  deadline.tv_nsec = static_cast<long>(nanoseconds % 1'000'000'000);
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
  }
}

void raiseDueControlEvent() {
  PHANDLER_ROUTINE handler = installedHandler.load();
  followRealTime();
  if (controlEventTicks < 0 || nowTicks < controlEventTicks || handler == nullptr) return;
  controlEventTicks = -1;
  handler(CTRL_C_EVENT);
}
}  // namespace

std::int64_t simClockTicks() {
  followRealTime();
  return nowTicks;
}

void simClockReset() {
  nowTicks = 0;
  controlEventTicks = -1;
  realTime = false;
  installedHandler.store(nullptr);
}

void simClockScheduleControlEvent(std::int64_t atMilliseconds) {
  controlEventTicks = atMilliseconds * (kSimClockFrequency / 1000);
  raiseDueControlEvent();
}

void simClockUseRealTime() {
  realOriginNanoseconds = monotonicNanoseconds() - nowTicks * kNanosecondsPerTick;
  realTime = true;
}

bool simRaiseControlEvent(DWORD controlType) {
  const PHANDLER_ROUTINE handler = installedHandler.load();
  return handler != nullptr && handler(controlType) != FALSE;
}

void Sleep(DWORD milliseconds) {
  if (realTime) {
    sleepRealTime(milliseconds);
  } else {
    nowTicks += static_cast<std::int64_t>(milliseconds) * (kSimClockFrequency / 1000);
  }
  raiseDueControlEvent();
}

BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency) {
  frequency->QuadPart = kSimClockFrequency;
  return TRUE;
}

BOOL QueryPerformanceCounter(LARGE_INTEGER* counter) {
  counter->QuadPart = simClockTicks();
  return TRUE;
}

BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE handler, BOOL add) {
  simCatchControlSignals();
  installedHandler.store(add ? handler : nullptr);
  raiseDueControlEvent();
  return TRUE;
}
