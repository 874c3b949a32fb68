// The console control handler on SIGINT and SIGTERM, the sleep, the
// performance counter on CLOCK_MONOTONIC, and the C runtime's _setmode.
#include <signal.h>
#include <time.h>

#include <atomic>
#include <cerrno>
#include <cstdio>

#include "endpoints/core_audio.h"
#include "platform/pulse/process_signals.h"

namespace {

std::atomic<PHANDLER_ROUTINE> installedHandler{nullptr};
static_assert(std::atomic<PHANDLER_ROUTINE>::is_always_lock_free, "read from a signal handler");

constexpr LONGLONG kNanosecondsPerSecond = 1'000'000'000;

// Runs on whichever thread the signal lands on: only a lock-free load and the
// handler, which itself only sets a flag atomically. A handler that declines
// the event leaves the signal its default effect, as Windows then ends the
// process.
void onControlSignal(int signalNumber) {
  const PHANDLER_ROUTINE handler = installedHandler.load();
  const DWORD controlType = signalNumber == SIGINT ? CTRL_C_EVENT : CTRL_BREAK_EVENT;
  if (handler != nullptr && handler(controlType) != FALSE) return;
  signal(signalNumber, SIG_DFL);
  raise(signalNumber);
}

}  // namespace

void ignoreBrokenPipes() { signal(SIGPIPE, SIG_IGN); }

BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE handler, BOOL add) {
  ignoreBrokenPipes();
  if (handler == nullptr) return FALSE;  // Windows' "ignore Ctrl+C" form is not needed here
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

void Sleep(DWORD milliseconds) {
  // An absolute deadline, so that a signal arriving mid-sleep does not cut the
  // sleep short nor stretch it.
  timespec deadline{};
  clock_gettime(CLOCK_MONOTONIC, &deadline);
  const LONGLONG nanoseconds = deadline.tv_nsec + static_cast<LONGLONG>(milliseconds) * 1'000'000;
  deadline.tv_sec += static_cast<time_t>(nanoseconds / kNanosecondsPerSecond);
  deadline.tv_nsec = static_cast<long>(nanoseconds % kNanosecondsPerSecond);
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
  }
}

BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency) {
  if (frequency == nullptr) return FALSE;
  frequency->QuadPart = kNanosecondsPerSecond;
  return TRUE;
}

BOOL QueryPerformanceCounter(LARGE_INTEGER* counter) {
  if (counter == nullptr) return FALSE;
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  counter->QuadPart = static_cast<LONGLONG>(now.tv_sec) * kNanosecondsPerSecond + now.tv_nsec;
  return TRUE;
}

// Linux streams make no text/binary difference, but binary mode is what a
// capture run asks for before it writes the PCM stream: standard output then
// goes unbuffered. With glibc's buffering, a flush that fails because the
// reader has gone discards the buffer, so every later fwrite that fits the
// buffer reports full success and the closed pipe is never seen; unbuffered,
// each fwrite is one write(2) and comes back short at once. Reports text as
// the mode before.
int _setmode(int fileDescriptor, int mode) {
  if (mode == _O_BINARY && fileDescriptor == fileno(stdout)) setvbuf(stdout, nullptr, _IONBF, 0);
  return _O_TEXT;
}
