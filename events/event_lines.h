// The event lines a host reads on standard error: one JSON object per line,
// written whole and flushed at once.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr std::size_t kCallFailureDetailSize = 256;

// "name:0x%08lx" of a failing platform call, the detail of most faults.
void formatCallFailure(const char* callName, std::int32_t status, char* buffer);

// One fault line; slot may be null, and then the "slot" key is left out.
// Ending the process is the caller's next step.
void emitFault(const char* reason, const char* detail, const char* slot);

// Every fault is final: its line, then the end of the process with the exit
// status of that kind of fault. Nothing is stopped or released first.
[[noreturn]] void endRunOnFault(const char* reason, const char* detail, const char* slot, int exitStatus);

// The same with the call-failure detail of a failing platform call.
[[noreturn]] void endRunOnCallFailure(const char* reason, const char* callName, std::int32_t status, const char* slot,
                                      int exitStatus);

struct StartedSource {
  const char* label;         // "mic" or "desktop"
  std::int32_t deviceRate;   // Hz
  const char* friendlyName;  // UTF-8
};

// The "started" line for the opened sources, in slot table order.
void emitStarted(const StartedSource* sources, int sourceCount);

// The "switched" line: a source that follows the default endpoint of its
// flow now captures the new default, named and at the rate given.
void emitSwitched(const char* label, const char* friendlyName, std::int32_t deviceRate);

// The 20-byte "stopped" line, the last output of an orderly run.
void emitStopped();
