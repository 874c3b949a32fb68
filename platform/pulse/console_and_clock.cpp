// The console control handler, with SIGINT and SIGTERM as its events, the
// sleep and the performance counter on CLOCK_MONOTONIC, and the C runtime's
// _setmode.
#include "platform/core_audio.h"
#include "platform/portable/console_control.h"
#include "platform/portable/monotonic_clock.h"

BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE handler, BOOL add) { return setConsoleControlHandler(handler, add); }

void Sleep(DWORD milliseconds) { sleepMilliseconds(milliseconds); }

BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency) {
  if (frequency == nullptr) return FALSE;
  frequency->QuadPart = 1'000'000'000;
  return TRUE;
}

BOOL QueryPerformanceCounter(LARGE_INTEGER* counter) {
  if (counter == nullptr) return FALSE;
  counter->QuadPart = monotonicNanoseconds();
  return TRUE;
}

// Linux streams make no text/binary difference. Reports text as the mode before.
int _setmode(int, int) { return _O_TEXT; }
