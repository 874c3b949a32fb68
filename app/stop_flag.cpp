#include "app/stop_flag.h"

std::atomic<std::int32_t> stopRequested{0};

BOOL WINAPI onConsoleControl(DWORD /*controlType*/) {
  stopRequested.exchange(1);
  return TRUE;
}
