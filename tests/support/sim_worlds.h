// Small scenario worlds for the black-box runs: a microphone and a speaker,
// each patched per case (JSON merge patch: null removes a key; a "signal" or a
// "stop" in a patch replaces the whole object, since their keys depend on kind).
#pragma once

#include <nlohmann/json.hpp>
#include <string>

inline constexpr char kMicId[] = "{0.0.1.00000000}.{6d1c0a7e-1111-4b7a-9c11-0000000000a1}";
inline constexpr char kSpeakerId[] = "{0.0.0.00000000}.{6d1c0a7e-2222-4b7a-9c11-0000000000b2}";

inline nlohmann::json micEndpoint(const nlohmann::json& patch = nlohmann::json::object()) {
  nlohmann::json endpoint = {{"flow", "capture"},
                             {"id", kMicId},
                             {"name", "Desk Mic"},
                             {"default", true},
                             {"format", {{"tag", "float"}, {"channels", 2}, {"bits", 32}, {"rate", 48000}}},
                             {"signal", {{"kind", "constant"}, {"value", 0.25}}}};
  if (!patch.is_null()) endpoint.merge_patch(patch);
  if (patch.contains("signal")) endpoint["signal"] = patch["signal"];
  return endpoint;
}

inline nlohmann::json speakerEndpoint(const nlohmann::json& patch = nlohmann::json::object()) {
  nlohmann::json endpoint = {{"flow", "render"},
                             {"id", kSpeakerId},
                             {"name", "Speakers"},
                             {"default", true},
                             {"format", {{"tag", "float"}, {"channels", 2}, {"bits", 32}, {"rate", 44100}}},
                             {"signal", {{"kind", "constant"}, {"value", -0.25}}}};
  if (!patch.is_null()) endpoint.merge_patch(patch);
  if (patch.contains("signal")) endpoint["signal"] = patch["signal"];
  return endpoint;
}

// Both endpoints, a control event at stopMs, and top-level keys patched in.
inline std::string twoEndpointWorld(const nlohmann::json& micPatch = nlohmann::json::object(),
                                    const nlohmann::json& speakerPatch = nlohmann::json::object(),
                                    const nlohmann::json& topPatch = nlohmann::json::object(), int stopMs = 200) {
  nlohmann::json world = {{"endpoints", {micEndpoint(micPatch), speakerEndpoint(speakerPatch)}},
                          {"stop", {{"controlEventAtMs", stopMs}}}};
  if (!topPatch.is_null()) world.merge_patch(topPatch);
  if (topPatch.contains("stop")) world["stop"] = topPatch["stop"];
  return world.dump();
}
