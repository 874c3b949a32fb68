// Runs an executable as a host would: arguments, extra environment, standard
// output and standard error captured apart, exit status.
#pragma once

#include <string>
#include <utility>
#include <vector>

struct ProcessResult {
  int exitStatus = -1;  // -1 when killed by a signal
  std::string standardOutput;
  std::string standardError;
};

ProcessResult runProcess(const std::vector<std::string>& command,
                         const std::vector<std::pair<std::string, std::string>>& environment = {});

// The event lines of standard error, each without its line ending; "\r\n"
// endings are noted in crlfEndings.
std::vector<std::string> splitLines(const std::string& text, bool* crlfEndings = nullptr);

bool fileExists(const std::string& path);
std::string findOnPath(const std::string& name);
