// The console control handler, with SIGINT and SIGTERM as its events, the
// sleep and the performance counter on the simulated clock, and the C
// runtime's _setmode, which puts the scenario's standard output in place.
#include "platform/sim/console_and_clock.h"

#include <unistd.h>

#include "platform/portable/console_control.h"
#include "platform/portable/monotonic_clock.h"
#include "platform/sim/device_objects.h"
#include "platform/sim/sim_scenario.h"
#include "platform/sim/stdout_limit.h"

namespace {
constexpr std::int64_t kNanosecondsPerTick = 1'000'000'000 / kSimClockFrequency;

std::int64_t nowTicks = 0;
std::int64_t controlEventTicks = -1;  // -1: none pending

bool realTime = false;
std::int64_t realOriginNanoseconds = 0;

// On real time the clock is read, never advanced.
void followRealTime() {
  if (realTime) nowTicks = (monotonicNanoseconds() - realOriginNanoseconds) / kNanosecondsPerTick;
}

void raiseDueControlEvent() {
  followRealTime();
  if (controlEventTicks < 0 || nowTicks < controlEventTicks) return;
  if (raiseConsoleControlEvent(CTRL_C_EVENT)) controlEventTicks = -1;
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
  forgetConsoleControlHandler();
}

void simClockScheduleControlEvent(std::int64_t atMilliseconds) {
  controlEventTicks = atMilliseconds * (kSimClockFrequency / 1000);
  raiseDueControlEvent();
}

void simClockUseRealTime() {
  realOriginNanoseconds = monotonicNanoseconds() - nowTicks * kNanosecondsPerTick;
  realTime = true;
}

void Sleep(DWORD milliseconds) {
  if (realTime) {
    sleepMilliseconds(milliseconds);
  } else {
    nowTicks += static_cast<std::int64_t>(milliseconds) * (kSimClockFrequency / 1000);
  }
  sim::tellDefaultChanges();
  raiseDueControlEvent();
}

BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency) {
  if (frequency == nullptr) return FALSE;
  frequency->QuadPart = kSimClockFrequency;
  return TRUE;
}

BOOL QueryPerformanceCounter(LARGE_INTEGER* counter) {
  if (counter == nullptr) return FALSE;
  counter->QuadPart = simClockTicks();
  return TRUE;
}

BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE handler, BOOL add) {
  const BOOL done = setConsoleControlHandler(handler, add);
  raiseDueControlEvent();
  return done;
}

// Streams carry bytes untranslated off Windows already. Standard output is,
// from here on, the pipe the scenario describes.
int _setmode(int fileDescriptor, int) {
  if (fileDescriptor == STDOUT_FILENO) {
    static bool limited = false;
    const sim::World& world = sim::world();
    if (world.stdoutAcceptsBytes && !limited) simLimitStandardOutput(*world.stdoutAcceptsBytes);
    limited = true;
  }
  return _O_TEXT;
}
