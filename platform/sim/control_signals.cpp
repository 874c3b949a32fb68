#include "platform/sim/control_signals.h"

#include <signal.h>

#include "platform/sim/virtual_clock.h"

namespace {
// A handler that declines the event (or none installed) leaves the signal its
// default effect, as Windows then ends the process.
void onControlSignal(int signalNumber) {
  if (simRaiseControlEvent(signalNumber == SIGINT ? CTRL_C_EVENT : CTRL_BREAK_EVENT)) return;
  signal(signalNumber, SIG_DFL);
  raise(signalNumber);
}
}  // namespace

void simCatchControlSignals() {
  signal(SIGPIPE, SIG_IGN);
  struct sigaction action {};
  action.sa_handler = onControlSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}
