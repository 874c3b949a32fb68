#include "platform/sim/stdout_limit.h"

#include <unistd.h>

#include <cstdio>

namespace {
std::int64_t remainingBytes = 0;
int forwardDescriptor = -1;

ssize_t limitedWrite(void*, const char* data, size_t size) {
  // 0, not -1: glibc's fwrite reports a -1 at the start of a call as full success.
  if (remainingBytes <= 0) return 0;
  const std::int64_t accepted =
      static_cast<std::int64_t>(size) < remainingBytes ? static_cast<std::int64_t>(size) : remainingBytes;
  std::int64_t done = 0;
  while (done < accepted) {
    const ssize_t wrote = write(forwardDescriptor, data + done, static_cast<size_t>(accepted - done));
    if (wrote <= 0) break;
    done += wrote;
  }
  remainingBytes -= accepted;
  return static_cast<ssize_t>(accepted);
}
}  // namespace

void simLimitStandardOutput(std::int64_t acceptedBytes) {
  std::fflush(stdout);
  remainingBytes = acceptedBytes;
  forwardDescriptor = dup(STDOUT_FILENO);
  cookie_io_functions_t functions{nullptr, limitedWrite, nullptr, nullptr};
  std::FILE* limited = fopencookie(nullptr, "w", functions);
  if (limited == nullptr) return;
  // Unbuffered, so each fwrite meets the limit itself and reports it.
  setvbuf(limited, nullptr, _IONBF, 0);
  stdout = limited;
}
