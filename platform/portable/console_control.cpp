#include "platform/portable/console_control.h"

#include <signal.h>

#include <atomic>

namespace {

std::atomic<PHANDLER_ROUTINE> installedHandler{nullptr};
static_assert(std::atomic<PHANDLER_ROUTINE>::is_always_lock_free, "read from a signal handler");

// Runs on whichever thread the signal lands on: only a lock-free load and the
// handler, which itself only sets a flag atomically. A handler that declines
// the event (or none installed) leaves the signal its default effect, as
// Windows then ends the process.
void onControlSignal(int signalNumber) {
  if (raiseConsoleControlEvent(signalNumber == SIGINT ? CTRL_C_EVENT : CTRL_BREAK_EVENT)) return;
  signal(signalNumber, SIG_DFL);
  raise(signalNumber);
}

}  // namespace

BOOL setConsoleControlHandler(PHANDLER_ROUTINE handler, BOOL add) {
  ignoreBrokenPipes();
  if (handler == nullptr) return FALSE;
  if (add == FALSE) {
    PHANDLER_ROUTINE expected = handler;
    return installedHandler.compare_exchange_strong(expected, nullptr) ? TRUE : FALSE;
  }
  installedHandler.store(handler);
  struct sigaction action {};
  action.sa_handler = onControlSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  if (sigaction(SIGINT, &action, nullptr) != 0 || sigaction(SIGTERM, &action, nullptr) != 0) return FALSE;
  return TRUE;
}

bool raiseConsoleControlEvent(DWORD controlType) {
  const PHANDLER_ROUTINE handler = installedHandler.load();
  return handler != nullptr && handler(controlType) != FALSE;
}

void forgetConsoleControlHandler() { installedHandler.store(nullptr); }

void ignoreBrokenPipes() { signal(SIGPIPE, SIG_IGN); }
