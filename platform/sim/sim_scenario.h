// The simulated audio system as a scenario file describes it: endpoints with
// their formats and signals, the statuses calls should return, and how a run
// ends. Read once, lazily, at the first platform call that needs it, from the
// file named by AUDIOTAP_SIM_SCENARIO (unset: a default microphone and a
// default speaker, each with a tone).
//
// Scenario keys (other tools write these; keys not listed here are passed over):
//   endpoints: list of
//     flow          "capture" | "render"                        (required)
//     id            identifier text                             (required)
//     name          friendly name; null or absent: no property; a number:
//                   a property that is not text
//     state         "active" (default) | "unplugged" | "disabled" | "notpresent"
//     default       true: default of its flow for every role (active only)
//     defaultAtMs   becomes the default of its flow at this virtual time, as
//                   when a user picks another device (active only; not with
//                   default). At any moment the default of a flow is, among
//                   its active endpoints that are not lost, the one that
//                   became default last; so a lost default hands over to the
//                   one before it, or leaves the flow without one. Registered
//                   notification clients hear of each change when the clock
//                   reaches it, from Sleep.
//     format        tag "pcm" | "float" (default) | "extensible-pcm" |
//                   "extensible-float"; channels (2); bits (32 float, 16 pcm);
//                   rate (48000); validBits (extensible only; = bits)
//     signal        {"kind":"sine","frequency":F,"amplitude":A} (default 440, 0.5)
//                   {"kind":"constant","value":V}; {"kind":"silence"} (packets
//                   flagged silent); {"kind":"none"} (no packets at all).
//                   On a render endpoint: what plays, as loopback hears it.
//     packetFrames  frames per packet (default 10 ms worth)
//     startAtMs     no packet is handed out before this virtual time (0)
//     pauses        [[fromMs, toMs], ...]: no packet is handed out from fromMs
//                   up to toMs. A packet due in such a quiet time is lost, as
//                   from a device that produced nothing; the signal's frame
//                   count runs on, so it stays in step with the clock.
//     jitterMs      each packet is handed out up to this much after it is
//                   due, never before the one ahead of it (0). The delays
//                   follow a fixed sequence, so runs are repeatable.
//     driftPpm      the device's clock runs this many millionths fast (+) or
//                   slow (-) against the performance counter (0): it hands out
//                   rate x (1 + driftPpm / 10^6) frames a second while it
//                   announces rate, and its signal is sampled at those instants
//                   (frame k at k / (rate x (1 + driftPpm / 10^6)) s from its
//                   start), so the sound keeps its pitch. GetBuffer's counter
//                   position is that instant for the packet's first frame.
//     driftChanges  [[atMs, ppm], ...]: from atMs after Start the drift is ppm
//                   instead, in rising atMs order (none)
//     fail          call -> "0x8..." failure status, which the call returns
//                   instead of doing its work: Activate, GetMixFormat,
//                   Initialize, GetService, Start, Stop, GetId,
//                   OpenPropertyStore, GetValue, GetState, GetNextPacketSize,
//                   GetBuffer, ReleaseBuffer, Item
//     succeedWith   call -> "0x0..." success status, which the call returns
//                   instead of S_OK once its work is done; the same calls
//     lostAtMs      the device is lost at this virtual time: from then on the
//                   capture client's GetNextPacketSize answers lostStatus and
//                   reports no packet, and it is nobody's default
//     lostStatus    "0x..." status of the loss (default "0x88890004", device
//                   invalidated; "0x88890010": audio service stopped); only
//                   with lostAtMs
//   fail, succeedWith: the same for CoInitializeEx, CoCreateInstance, and per
//     flow (name or name:capture / name:render) EnumAudioEndpoints,
//     GetDefaultAudioEndpoint, GetCount. A scripted CoInitializeEx status is
//     only returned: COM still works, as after RPC_E_CHANGED_MODE on Windows.
//   stop: {"controlEventAtMs": T} and/or {"stdoutAcceptsBytes": N}; without
//     it a capture run ends by a control event at 10 s (virtual clock) or
//     runs until stopped (real clock). Standard output accepts N bytes from
//     the moment the program sets its mode (as a capture run does first) and
//     refuses the rest, as a pipe whose reader went away.
//   clock: "virtual" (default): time moves only in Sleep, exactly, so every
//     run of a scenario writes the same bytes as fast as it is read; "real":
//     the devices and the performance counter follow the monotonic clock and
//     Sleep sleeps, so a reader gets 16000 frames a second, as from a real
//     build. Every time in the scenario then counts real time from its load.
//   Either way SIGINT and SIGTERM are console control events (an orderly
//   stop) and SIGPIPE is ignored, as in the Linux build.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/core_audio.h"
#include "platform/portable/property_store.h"

namespace sim {

enum class SignalKind { sine, constant, silence, none };

struct Signal {
  SignalKind kind = SignalKind::sine;
  double frequency = 440.0;
  double amplitude = 0.5;
  double value = 0.0;  // constant
};

struct MixFormat {
  WORD tag = WAVE_FORMAT_IEEE_FLOAT;  // WAVE_FORMAT_EXTENSIBLE with subFloat deciding the sub-format
  bool subFloat = true;
  WORD channels = 2;
  WORD bits = 32;
  WORD validBits = 32;
  DWORD rate = 48000;
};

// Call name -> status: a failure returned instead of the call's work, a
// success status returned instead of S_OK after it.
struct ScriptedStatuses {
  std::map<std::string, HRESULT> failures;
  std::map<std::string, HRESULT> successes;
};

// When an endpoint hands its packets out; times in virtual milliseconds.
struct DeliveryTiming {
  std::int64_t startAtMs = 0;
  std::vector<std::pair<std::int64_t, std::int64_t>> pauses;  // [fromMs, toMs)
  std::int64_t jitterMs = 0;
};

struct Endpoint {
  EDataFlow flow = eCapture;
  std::string id;
  FriendlyName name;
  DWORD state = DEVICE_STATE_ACTIVE;
  bool isDefault = false;
  std::optional<std::int64_t> defaultAtMs;  // becomes the default at this virtual time
  MixFormat format;
  Signal signal;
  UINT32 packetFrames = 480;
  DeliveryTiming timing;
  double driftPpm = 0.0;
  std::vector<std::pair<std::int64_t, double>> driftChanges;  // [atMs since Start, ppm], in time order
  ScriptedStatuses scripted;
  std::optional<std::int64_t> lostAtMs;  // device lost from this virtual time on
  HRESULT lostStatus = AUDCLNT_E_DEVICE_INVALIDATED;
};

struct World {
  std::vector<Endpoint> endpoints;
  ScriptedStatuses scripted;
  std::optional<std::int64_t> controlEventAtMs;
  std::optional<std::int64_t> stdoutAcceptsBytes;
  bool realClock = false;
};

// The world of AUDIOTAP_SIM_SCENARIO, or the default world when it is unset,
// read at the first call. Reading it sets the clock going as the scenario
// says and schedules its control event; nothing else of the process changes.
// A scenario that cannot be read ends the process with status 2 and a
// one-line message on standard error.
const World& world();

// The default endpoint of a flow at virtual time ticks, or null when it has none.
const Endpoint* defaultEndpointAt(EDataFlow flow, std::int64_t ticks);

// The status an endpoint's lost device answers at virtual time ticks, if it is lost by then.
std::optional<HRESULT> lossOf(const Endpoint& endpoint, std::int64_t ticks);

// The failure a scenario scripts for call, and the status it returns instead
// of S_OK (S_OK when none is scripted).
std::optional<HRESULT> scriptedFailure(const ScriptedStatuses& statuses, const std::string& call);
HRESULT scriptedSuccess(const ScriptedStatuses& statuses, const std::string& call);

// The same for a top-level call that may be named per flow: "name:capture"
// before "name".
std::optional<HRESULT> flowScriptedFailure(const std::string& call, EDataFlow flow);
HRESULT flowScriptedSuccess(const std::string& call, EDataFlow flow);

// For in-process tests: replace the world by the scenario in text (same rules
// and same exit on error as a file) and forget COM's state.
void useScenarioText(const std::string& text);

// Parses a scenario; throws std::runtime_error with a readable reason.
World parseScenario(const std::string& text);

// COM apartment state of the simulated process.
bool comInitialised();
void setComInitialised(bool initialised);

}  // namespace sim
