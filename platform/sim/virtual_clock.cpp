#include "platform/sim/virtual_clock.h"

#include <atomic>

#include "endpoints/core_audio.h"

namespace {
std::int64_t nowTicks = 0;
std::int64_t controlEventTicks = -1;  // -1: none pending
std::atomic<PHANDLER_ROUTINE> installedHandler{nullptr};

void raiseDueControlEvent() {
  PHANDLER_ROUTINE handler = installedHandler.load();
  if (controlEventTicks < 0 || nowTicks < controlEventTicks || handler == nullptr) return;
  controlEventTicks = -1;
  handler(CTRL_C_EVENT);
}
}  // namespace

std::int64_t simClockTicks() { return nowTicks; }

void simClockReset() {
  nowTicks = 0;
  controlEventTicks = -1;
  installedHandler.store(nullptr);
}

void simClockScheduleControlEvent(std::int64_t atMilliseconds) {
  controlEventTicks = atMilliseconds * (kSimClockFrequency / 1000);
  raiseDueControlEvent();
}

void Sleep(DWORD milliseconds) {
  nowTicks += static_cast<std::int64_t>(milliseconds) * (kSimClockFrequency / 1000);
  raiseDueControlEvent();
}

BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency) {
  frequency->QuadPart = kSimClockFrequency;
  return TRUE;
}

BOOL QueryPerformanceCounter(LARGE_INTEGER* counter) {
  counter->QuadPart = nowTicks;
  return TRUE;
}

BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE handler, BOOL add) {
  installedHandler.store(add ? handler : nullptr);
  raiseDueControlEvent();
  return TRUE;
}
