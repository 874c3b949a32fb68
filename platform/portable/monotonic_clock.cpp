#include "platform/portable/monotonic_clock.h"

#include <time.h>

#include <cerrno>

namespace {
constexpr std::int64_t kNanosecondsPerSecond = 1'000'000'000;
}  // namespace

std::int64_t monotonicNanoseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * kNanosecondsPerSecond + now.tv_nsec;
}

void sleepMilliseconds(DWORD milliseconds) {
  timespec deadline{};
  clock_gettime(CLOCK_MONOTONIC, &deadline);
  const std::int64_t nanoseconds = deadline.tv_nsec + static_cast<std::int64_t>(milliseconds) * 1'000'000;
  deadline.tv_sec += static_cast<time_t>(nanoseconds / kNanosecondsPerSecond);
  deadline.tv_nsec = static_cast<long>(nanoseconds % kNanosecondsPerSecond);
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
  }
}
