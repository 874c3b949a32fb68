// Runs audiotap-sim on a scenario given as JSON text, as a host would start
// it, and reads its event lines back with a real JSON parser.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/support/process_runner.h"

struct SimRun {
  ProcessResult result;
  std::vector<nlohmann::json> events;  // every standard-error line, parsed
  std::vector<std::string> lines;      // the same lines, as bytes
};

// Writes scenario to a private temporary file, runs audiotap-sim with it and
// removes the file. An empty scenario text runs without AUDIOTAP_SIM_SCENARIO.
inline SimRun runSim(const std::string& scenario, const std::vector<std::string>& arguments) {
  std::vector<std::pair<std::string, std::string>> environment;
  char path[] = "/tmp/audiotap-scenario-XXXXXX";
  int descriptor = -1;
  if (!scenario.empty()) {
    descriptor = mkstemp(path);
    if (descriptor >= 0) {
      const ssize_t wrote = write(descriptor, scenario.data(), scenario.size());
      (void)wrote;
      close(descriptor);
    }
    environment.emplace_back("AUDIOTAP_SIM_SCENARIO", path);
  }
  std::vector<std::string> command = {AUDIOTAP_SIM_PATH};
  command.insert(command.end(), arguments.begin(), arguments.end());
  SimRun run;
  run.result = runProcess(command, environment);
  if (descriptor >= 0) unlink(path);
  if (!run.result.standardError.empty()) run.lines = splitLines(run.result.standardError);
  for (const auto& line : run.lines) run.events.push_back(nlohmann::json::parse(line, nullptr, false));
  return run;
}

// The fault line a host reads, built the way the JSON should look.
inline std::string faultLine(const std::string& reason, const std::string& detailJson, const char* slot) {
  std::string line = "{\"event\":\"fault\",\"reason\":\"" + reason + "\",\"detail\":\"" + detailJson + "\"";
  if (slot != nullptr) line += std::string(",\"slot\":\"") + slot + "\"";
  return line + "}";
}

// Little-endian 16-bit samples of one channel of an interleaved stream.
inline std::vector<std::int16_t> channelSamples(const std::string& pcm, int channels, int channel) {
  std::vector<std::int16_t> samples;
  const std::size_t frameBytes = 2 * static_cast<std::size_t>(channels);
  for (std::size_t at = 2 * static_cast<std::size_t>(channel); at + 1 < pcm.size(); at += frameBytes) {
    const auto low = static_cast<unsigned char>(pcm[at]);
    const auto high = static_cast<unsigned char>(pcm[at + 1]);
    samples.push_back(static_cast<std::int16_t>(static_cast<std::uint16_t>(low | (high << 8))));
  }
  return samples;
}
