#include "platform/sim/sim_scenario.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <stdexcept>

#include "platform/sim/console_and_clock.h"

namespace sim {
namespace {
using nlohmann::json;

constexpr std::int64_t kDefaultControlEventMs = 10000;
constexpr std::int64_t kLargestPacketBytes = std::int64_t{64} << 20;

// A small machine for runs without a scenario: one microphone and one
// speaker, both defaults, each carrying a tone.
constexpr char kDefaultWorld[] = R"json({
  "endpoints": [
    {"flow": "capture", "id": "{0.0.1.00000000}.{5a1b7c3e-0001-4d2a-9b1e-000000000001}",
     "name": "Microphone (Simulated)", "default": true,
     "signal": {"kind": "sine", "frequency": 440, "amplitude": 0.5}},
    {"flow": "render", "id": "{0.0.0.00000000}.{5a1b7c3e-0002-4d2a-9b1e-000000000002}",
     "name": "Speakers (Simulated)", "default": true,
     "signal": {"kind": "sine", "frequency": 1000, "amplitude": 0.25}}
  ]
})json";

const std::set<std::string> kEndpointCalls = {
    "Activate", "GetMixFormat", "Initialize",        "GetService", "Start", "GetId", "OpenPropertyStore",
    "GetValue", "GetState",     "GetNextPacketSize", "GetBuffer",  "Item",  "Stop",  "ReleaseBuffer"};
const std::set<std::string> kTopCalls = {"CoInitializeEx", "CoCreateInstance"};
const std::set<std::string> kFlowCalls = {"EnumAudioEndpoints", "GetDefaultAudioEndpoint", "GetCount"};

[[noreturn]] void reject(const std::string& where, const std::string& why) {
  throw std::runtime_error(where + ": " + why);
}

// Other tools write scenarios too and may annotate them with keys of their
// own, so keys beyond the known ones are passed over, not refused.
void requireObject(const json& object, const std::string& where) {
  if (!object.is_object()) reject(where, "must be an object");
}

std::int64_t integerAt(const json& object, const std::string& key, const std::string& where, std::int64_t low,
                       std::int64_t high, std::int64_t fallback) {
  if (!object.contains(key)) return fallback;
  const json& value = object.at(key);
  if (!value.is_number_integer()) reject(where + "." + key, "must be an integer");
  const std::int64_t number = value.get<std::int64_t>();
  if (number < low || number > high)
    reject(where + "." + key, "must be between " + std::to_string(low) + " and " + std::to_string(high));
  return number;
}

double numberAt(const json& object, const std::string& key, const std::string& where, double fallback) {
  if (!object.contains(key)) return fallback;
  if (!object.at(key).is_number()) reject(where + "." + key, "must be a number");
  return object.at(key).get<double>();
}

HRESULT parseStatus(const json& value, const std::string& where) {
  if (!value.is_string()) reject(where, "must be a status text such as \"0x80070005\"");
  const std::string text = value.get<std::string>();
  if (text.size() < 3 || text.size() > 10 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X') ||
      text.find_first_not_of("0123456789abcdefABCDEF", 2) != std::string::npos)
    reject(where, "\"" + text + "\" is not a status text such as \"0x80070005\"");
  return static_cast<HRESULT>(static_cast<std::uint32_t>(std::stoul(text.substr(2), nullptr, 16)));
}

bool isFlowCall(const std::string& key) {
  const std::size_t colon = key.find(':');
  const std::string call = key.substr(0, colon);
  if (kFlowCalls.count(call) == 0) return false;
  return colon == std::string::npos || key.substr(colon + 1) == "capture" || key.substr(colon + 1) == "render";
}

// "fail" holds failure statuses and "succeedWith" success statuses, each
// for the calls that can be scripted at its level.
void parseScripted(const json& object, const std::string& where, bool topLevel, bool failures,
                   std::map<std::string, HRESULT>& into) {
  if (!object.is_object()) reject(where, "must be an object");
  for (const auto& [key, value] : object.items()) {
    const bool known = topLevel ? (kTopCalls.count(key) != 0 || isFlowCall(key)) : kEndpointCalls.count(key) != 0;
    if (!known) reject(where, "no call named \"" + key + "\" can be scripted here");
    const HRESULT status = parseStatus(value, where + "." + key);
    if (failures && SUCCEEDED(status)) reject(where + "." + key, "is a success status; those go under succeedWith");
    if (!failures && FAILED(status)) reject(where + "." + key, "is a failure status; those go under fail");
    into[key] = status;
  }
}

ScriptedStatuses parseScriptedStatuses(const json& object, const std::string& where, bool topLevel) {
  ScriptedStatuses statuses;
  const std::string prefix = where.empty() ? "" : where + ".";
  if (object.contains("fail")) parseScripted(object.at("fail"), prefix + "fail", topLevel, true, statuses.failures);
  if (object.contains("succeedWith"))
    parseScripted(object.at("succeedWith"), prefix + "succeedWith", topLevel, false, statuses.successes);
  return statuses;
}

MixFormat parseFormat(const json& object, const std::string& where) {
  requireObject(object, where);
  MixFormat format;
  if (object.contains("tag") && !object.at("tag").is_string()) reject(where + ".tag", "must be a string");
  const std::string tag = object.value("tag", std::string("float"));
  if (tag == "pcm") {
    format.tag = WAVE_FORMAT_PCM;
    format.subFloat = false;
  } else if (tag == "float") {
    format.tag = WAVE_FORMAT_IEEE_FLOAT;
  } else if (tag == "extensible-pcm" || tag == "extensible-float") {
    format.tag = WAVE_FORMAT_EXTENSIBLE;
    format.subFloat = tag == "extensible-float";
  } else {
    reject(where + ".tag", "\"" + tag + "\" is not pcm, float, extensible-pcm or extensible-float");
  }
  const std::int64_t defaultBits = format.subFloat ? 32 : 16;
  format.channels = static_cast<WORD>(integerAt(object, "channels", where, 0, 65535, 2));
  format.bits = static_cast<WORD>(integerAt(object, "bits", where, 0, 65535, defaultBits));
  format.validBits = static_cast<WORD>(integerAt(object, "validBits", where, 0, 65535, format.bits));
  format.rate = static_cast<DWORD>(integerAt(object, "rate", where, 0, 4294967295LL, 48000));
  // WASAPI hands out float samples in 32-bit containers (or wider); a
  // narrower one would have a reader step past the end of a packet.
  if (format.subFloat && format.bits < 32) reject(where + ".bits", "a float format needs at least 32 bits");
  return format;
}

Signal parseSignal(const json& object, const std::string& where) {
  if (!object.is_object() || !object.contains("kind") || !object.at("kind").is_string())
    reject(where, "must be an object with a \"kind\"");
  Signal signal;
  const std::string kind = object.at("kind").get<std::string>();
  if (kind == "sine") {
    requireObject(object, where);
    signal.kind = SignalKind::sine;
    signal.frequency = numberAt(object, "frequency", where, 440.0);
    signal.amplitude = numberAt(object, "amplitude", where, 0.5);
  } else if (kind == "constant") {
    requireObject(object, where);
    signal.kind = SignalKind::constant;
    signal.value = numberAt(object, "value", where, 0.0);
  } else if (kind == "silence") {
    requireObject(object, where);
    signal.kind = SignalKind::silence;
  } else if (kind == "none") {
    requireObject(object, where);
    signal.kind = SignalKind::none;
  } else {
    reject(where + ".kind", "\"" + kind + "\" is not sine, constant, silence or none");
  }
  return signal;
}

// "lostAtMs" and "lostStatus": a device that goes away while it is captured.
void parseLoss(const json& object, const std::string& where, Endpoint& endpoint) {
  if (!object.contains("lostAtMs")) {
    if (object.contains("lostStatus")) reject(where + ".lostStatus", "needs a lostAtMs");
    return;
  }
  endpoint.lostAtMs = integerAt(object, "lostAtMs", where, 0, INT64_MAX / kSimClockFrequency, 0);
  if (object.contains("lostStatus")) endpoint.lostStatus = parseStatus(object.at("lostStatus"), where + ".lostStatus");
}

DeliveryTiming parseDeliveryTiming(const json& object, const std::string& where) {
  constexpr std::int64_t kLatestMs = INT64_MAX / kSimClockFrequency;
  DeliveryTiming timing;
  timing.startAtMs = integerAt(object, "startAtMs", where, 0, kLatestMs, 0);
  timing.jitterMs = integerAt(object, "jitterMs", where, 0, 60'000, 0);
  if (!object.contains("pauses")) return timing;
  const json& pauses = object.at("pauses");
  if (!pauses.is_array()) reject(where + ".pauses", "must be a list of [fromMs, toMs]");
  for (std::size_t i = 0; i < pauses.size(); ++i) {
    const std::string at = where + ".pauses[" + std::to_string(i) + "]";
    const json& pause = pauses[i];
    if (!pause.is_array() || pause.size() != 2 || !pause[0].is_number_integer() || !pause[1].is_number_integer())
      reject(at, "must be [fromMs, toMs], two integers");
    const std::int64_t from = pause[0].get<std::int64_t>();
    const std::int64_t to = pause[1].get<std::int64_t>();
    if (from < 0 || to < from || to > kLatestMs) reject(at, "needs 0 <= fromMs <= toMs");
    timing.pauses.emplace_back(from, to);
  }
  return timing;
}

DWORD parseState(const std::string& text, const std::string& where) {
  if (text == "active") return DEVICE_STATE_ACTIVE;
  if (text == "unplugged") return DEVICE_STATE_UNPLUGGED;
  if (text == "disabled") return DEVICE_STATE_DISABLED;
  if (text == "notpresent") return DEVICE_STATE_NOTPRESENT;
  reject(where, "\"" + text + "\" is not active, unplugged, disabled or notpresent");
}

Endpoint parseEndpoint(const json& object, const std::string& where) {
  requireObject(object, where);
  Endpoint endpoint;
  const std::string flow =
      object.contains("flow") && object.at("flow").is_string() ? object.at("flow").get<std::string>() : "";
  if (flow == "capture") {
    endpoint.flow = eCapture;
  } else if (flow == "render") {
    endpoint.flow = eRender;
  } else {
    reject(where + ".flow", "must be \"capture\" or \"render\"");
  }
  if (!object.contains("id") || !object.at("id").is_string()) reject(where + ".id", "must be a string");
  endpoint.id = object.at("id").get<std::string>();
  if (object.contains("name")) {
    const json& name = object.at("name");
    if (name.is_string()) {
      endpoint.name.kind = FriendlyNameKind::text;
      endpoint.name.text = name.get<std::string>();
    } else if (name.is_number_unsigned()) {
      endpoint.name.kind = FriendlyNameKind::number;
      endpoint.name.number = name.get<std::uint32_t>();
    } else if (!name.is_null()) {
      reject(where + ".name", "must be a string, null or a number");
    }
  }
  if (object.contains("state")) {
    if (!object.at("state").is_string()) reject(where + ".state", "must be a string");
    endpoint.state = parseState(object.at("state").get<std::string>(), where + ".state");
  }
  if (object.contains("default")) {
    if (!object.at("default").is_boolean()) reject(where + ".default", "must be true or false");
    endpoint.isDefault = object.at("default").get<bool>();
  }
  if (object.contains("defaultAtMs")) {
    if (endpoint.isDefault) reject(where + ".defaultAtMs", "an endpoint that is default from the start");
    endpoint.defaultAtMs = integerAt(object, "defaultAtMs", where, 0, INT64_MAX / kSimClockFrequency, 0);
  }
  if (object.contains("format")) endpoint.format = parseFormat(object.at("format"), where + ".format");
  if (object.contains("signal")) endpoint.signal = parseSignal(object.at("signal"), where + ".signal");
  const std::int64_t tenMilliseconds = endpoint.format.rate / 100 > 0 ? endpoint.format.rate / 100 : 1;
  endpoint.packetFrames = static_cast<UINT32>(integerAt(object, "packetFrames", where, 1, 1 << 24, tenMilliseconds));
  endpoint.timing = parseDeliveryTiming(object, where);
  // Real clocks are off by parts per million; ±10 % is already no clock at all.
  endpoint.driftPpm = numberAt(object, "driftPpm", where, 0.0);
  if (!(endpoint.driftPpm >= -100'000.0 && endpoint.driftPpm <= 100'000.0))
    reject(where + ".driftPpm", "must be from -100000 to 100000");
  if (object.contains("driftChanges")) {
    const json& changes = object.at("driftChanges");
    if (!changes.is_array()) reject(where + ".driftChanges", "must be a list of [atMs, ppm]");
    std::int64_t lastMs = 0;
    for (const json& change : changes) {
      if (!change.is_array() || change.size() != 2 || !change[0].is_number_integer() || !change[1].is_number())
        reject(where + ".driftChanges", "must be a list of [atMs, ppm]");
      const std::int64_t atMs = change[0].get<std::int64_t>();
      const double ppm = change[1].get<double>();
      if (atMs <= lastMs || atMs > INT64_MAX / kSimClockFrequency || !(ppm >= -100'000.0 && ppm <= 100'000.0))
        reject(where + ".driftChanges", "times must rise from above 0; ppm from -100000 to 100000");
      endpoint.driftChanges.emplace_back(atMs, ppm);
      lastMs = atMs;
    }
  }
  endpoint.scripted = parseScriptedStatuses(object, where, false);
  parseLoss(object, where, endpoint);
  const std::int64_t packetBytes =
      static_cast<std::int64_t>(endpoint.packetFrames) * endpoint.format.channels * (endpoint.format.bits / 8);
  if (packetBytes > kLargestPacketBytes) reject(where, "a packet of this format and packetFrames passes 64 MiB");
  return endpoint;
}

std::unique_ptr<World> loadedWorld;
bool comIsInitialised = false;

std::string readFile(const char* path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw std::runtime_error("cannot be opened");
  std::ostringstream text;
  text << file.rdbuf();
  if (file.bad()) throw std::runtime_error("cannot be read");
  return text.str();
}

// "clock": "real" paces the run by the wall clock, for hosts that read the
// stream as it comes; the virtual clock stays the default for exact runs.
bool parseRealClock(const json& root) {
  if (!root.contains("clock")) return false;
  const json& clock = root.at("clock");
  if (clock == "real") return true;
  if (clock == "virtual") return false;
  reject("clock", "must be \"real\" or \"virtual\"");
}

void applyClock(const World& loaded) {
  if (loaded.realClock) simClockUseRealTime();
}

// The process's own scenario decides when its control event comes. On real
// time a run without a "stop" lasts until it is stopped, as on a real machine.
// (Its standard output limit is the C runtime's business: see _setmode.)
void scheduleStop(const World& loaded) {
  if (loaded.controlEventAtMs) {
    simClockScheduleControlEvent(*loaded.controlEventAtMs);
  } else if (!loaded.stdoutAcceptsBytes && !loaded.realClock) {
    simClockScheduleControlEvent(kDefaultControlEventMs);
  }
}

[[noreturn]] void scenarioUnusable(const char* path, const std::string& why) {
  std::string line = why;
  for (char& c : line)
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';  // one line, whatever the parser quoted
  std::fprintf(stderr, "audiotap-sim: scenario %s: %s\n", path, line.c_str());
  std::fflush(stderr);
  std::exit(2);
}
}  // namespace

World parseScenario(const std::string& text) {
  json root;
  try {
    root = json::parse(text);
  } catch (const json::exception& error) {
    // Not only syntax: a number too large for a double is refused here too.
    throw std::runtime_error(std::string("is not valid JSON: ") + error.what());
  }
  requireObject(root, "scenario");
  World parsed;
  if (root.contains("endpoints")) {
    const json& endpoints = root.at("endpoints");
    if (!endpoints.is_array()) reject("endpoints", "must be a list");
    bool defaultSeen[2] = {false, false};
    for (std::size_t i = 0; i < endpoints.size(); ++i) {
      const std::string where = "endpoints[" + std::to_string(i) + "]";
      parsed.endpoints.push_back(parseEndpoint(endpoints[i], where));
      const Endpoint& endpoint = parsed.endpoints.back();
      // Windows has at most one default per flow and role, and it is active.
      if (endpoint.isDefault && endpoint.state == DEVICE_STATE_ACTIVE) {
        if (defaultSeen[endpoint.flow]) reject(where + ".default", "a second active default endpoint of its flow");
        defaultSeen[endpoint.flow] = true;
      }
      // Two endpoints becoming default at one moment would leave the order to chance.
      for (std::size_t j = 0; j + 1 < parsed.endpoints.size() && endpoint.defaultAtMs; ++j) {
        const Endpoint& other = parsed.endpoints[j];
        if (other.flow == endpoint.flow && other.defaultAtMs == endpoint.defaultAtMs)
          reject(where + ".defaultAtMs", "a second endpoint of its flow becoming default at that time");
      }
    }
  }
  parsed.scripted = parseScriptedStatuses(root, "", true);
  parsed.realClock = parseRealClock(root);
  if (root.contains("stop")) {
    const json& stop = root.at("stop");
    requireObject(stop, "stop");
    if (stop.empty()) reject("stop", "names neither controlEventAtMs nor stdoutAcceptsBytes");
    if (stop.contains("controlEventAtMs"))
      parsed.controlEventAtMs = integerAt(stop, "controlEventAtMs", "stop", 0, INT64_MAX / kSimClockFrequency, 0);
    if (stop.contains("stdoutAcceptsBytes"))
      parsed.stdoutAcceptsBytes = integerAt(stop, "stdoutAcceptsBytes", "stop", 0, INT64_MAX, 0);
  }
  return parsed;
}

const World& world() {
  if (loadedWorld) return *loadedWorld;
  const char* path = std::getenv("AUDIOTAP_SIM_SCENARIO");
  try {
    loadedWorld = std::make_unique<World>(parseScenario(path != nullptr ? readFile(path) : kDefaultWorld));
  } catch (const std::exception& error) {
    scenarioUnusable(path != nullptr ? path : "(built in)", error.what());
  }
  applyClock(*loadedWorld);
  scheduleStop(*loadedWorld);
  return *loadedWorld;
}

void useScenarioText(const std::string& text) {
  try {
    loadedWorld = std::make_unique<World>(parseScenario(text));
  } catch (const std::exception& error) {
    scenarioUnusable("(text)", error.what());
  }
  comIsInitialised = false;
}

const Endpoint* defaultEndpointAt(EDataFlow flow, std::int64_t ticks) {
  const Endpoint* chosen = nullptr;
  std::int64_t chosenSince = -1;
  for (const Endpoint& candidate : world().endpoints) {
    if (candidate.flow != flow || candidate.state != DEVICE_STATE_ACTIVE || lossOf(candidate, ticks)) continue;
    std::int64_t since = -1;
    if (candidate.isDefault) since = 0;
    if (candidate.defaultAtMs && *candidate.defaultAtMs * (kSimClockFrequency / 1000) <= ticks)
      since = *candidate.defaultAtMs * (kSimClockFrequency / 1000);
    if (since > chosenSince) {
      chosen = &candidate;
      chosenSince = since;
    }
  }
  return chosen;
}

std::optional<HRESULT> lossOf(const Endpoint& endpoint, std::int64_t ticks) {
  if (!endpoint.lostAtMs || ticks < *endpoint.lostAtMs * (kSimClockFrequency / 1000)) return std::nullopt;
  return endpoint.lostStatus;
}

std::optional<HRESULT> scriptedFailure(const ScriptedStatuses& statuses, const std::string& call) {
  const auto found = statuses.failures.find(call);
  if (found == statuses.failures.end()) return std::nullopt;
  return found->second;
}

HRESULT scriptedSuccess(const ScriptedStatuses& statuses, const std::string& call) {
  const auto found = statuses.successes.find(call);
  return found == statuses.successes.end() ? S_OK : found->second;
}

namespace {
// A top-level call named per flow: "name:capture" before "name".
std::string flowCallName(const std::map<std::string, HRESULT>& map, const std::string& call, EDataFlow flow) {
  const std::string perFlow = call + (flow == eCapture ? ":capture" : flow == eRender ? ":render" : ":all");
  return map.count(perFlow) != 0 ? perFlow : call;
}
}  // namespace

std::optional<HRESULT> flowScriptedFailure(const std::string& call, EDataFlow flow) {
  const ScriptedStatuses& statuses = world().scripted;
  return scriptedFailure(statuses, flowCallName(statuses.failures, call, flow));
}

HRESULT flowScriptedSuccess(const std::string& call, EDataFlow flow) {
  const ScriptedStatuses& statuses = world().scripted;
  return scriptedSuccess(statuses, flowCallName(statuses.successes, call, flow));
}

bool comInitialised() { return comIsInitialised; }
void setComInitialised(bool initialised) { comIsInitialised = initialised; }

}  // namespace sim
