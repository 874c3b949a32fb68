// Runs an executable as a host would: arguments, extra environment, standard
// output and standard error captured apart, exit status.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

struct ProcessResult {
  int exitStatus = -1;  // -1 when killed by a signal
  std::string standardOutput;
  std::string standardError;
};

// A signal a host sends once the first event line is in and `after` has passed.
struct SignalAfterFirstLine {
  int signalNumber;
  std::chrono::milliseconds after;
};

ProcessResult runProcess(const std::vector<std::string>& command,
                         const std::vector<std::pair<std::string, std::string>>& environment = {},
                         const SignalAfterFirstLine* signal = nullptr);

// Starts command (looked up on PATH) with its standard streams on the given
// descriptors (-1: /dev/null), in process group `group` (0: one of its own,
// -1: this process's), and has it killed when this process ends, so that a
// test that crashes leaves nothing running. Its pid, or -1.
pid_t spawnChild(const std::vector<std::string>& command, int input, int output, int error, pid_t group);

// The event lines of standard error, each without its line ending; "\r\n"
// endings are noted in crlfEndings.
std::vector<std::string> splitLines(const std::string& text, bool* crlfEndings = nullptr);

bool fileExists(const std::string& path);
std::string findOnPath(const std::string& name);
