// The simulated audio system as a scenario file describes it: endpoints with
// their formats and signals, the statuses calls should return, and how a run
// ends. Read once, lazily, at the first platform call that needs it.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "endpoints/core_audio.h"

namespace sim {

enum class SignalKind { sine, constant, silence, none };

struct Signal {
  SignalKind kind = SignalKind::sine;
  double frequency = 440.0;
  double amplitude = 0.5;
  double value = 0.0;  // constant
};

enum class NameKind { missing, text, number };

struct MixFormat {
  WORD tag = WAVE_FORMAT_IEEE_FLOAT;  // WAVE_FORMAT_EXTENSIBLE with subFloat deciding the sub-format
  bool subFloat = true;
  WORD channels = 2;
  WORD bits = 32;
  WORD validBits = 32;
  DWORD rate = 48000;
};

// Call name -> status to return instead of the normal result.
using FailureMap = std::map<std::string, HRESULT>;

struct Endpoint {
  EDataFlow flow = eCapture;
  std::string id;
  NameKind nameKind = NameKind::missing;
  std::string name;              // NameKind::text
  std::uint32_t nameNumber = 0;  // NameKind::number: a property of another type
  DWORD state = DEVICE_STATE_ACTIVE;
  bool isDefault = false;
  MixFormat format;
  Signal signal;
  UINT32 packetFrames = 480;
  FailureMap fail;
};

struct World {
  std::vector<Endpoint> endpoints;
  FailureMap fail;
  std::optional<std::int64_t> controlEventAtMs;
  std::optional<std::int64_t> stdoutAcceptsBytes;
};

// The world of AUDIOTAP_SIM_SCENARIO, or the default world when it is unset.
// A scenario that cannot be read ends the process with status 2 and a
// one-line message on standard error.
const World& world();

// The status a scenario sets for call (a top-level or endpoint failure map).
std::optional<HRESULT> failureOf(const FailureMap& map, const std::string& call);

// Top-level call that may be named per flow: "name:capture" before "name".
std::optional<HRESULT> flowFailureOf(const std::string& call, EDataFlow flow);

// For in-process tests: replace the world by the scenario in text (same rules
// and same exit on error as a file) and forget COM's state.
void useScenarioText(const std::string& text);

// Parses a scenario; throws std::runtime_error with a readable reason.
World parseScenario(const std::string& text);

// COM apartment state of the simulated process.
bool comInitialised();
void setComInitialised(bool initialised);

}  // namespace sim
