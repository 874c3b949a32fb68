// What the server has: its sinks and non-monitor sources as render and
// capture endpoints, and its defaults, read in one round of queries.
#pragma once

#include <pulse/pulseaudio.h>

#include <string>
#include <vector>

#include "platform/core_audio.h"
#include "platform/pulse/pulse_connection.h"

struct EndpointInfo {
  EDataFlow flow = eCapture;
  std::string name;         // the endpoint identifier: source or sink name
  std::string description;  // the friendly name
  DWORD state = DEVICE_STATE_ACTIVE;
  pa_sample_spec sampleSpec{};
  pa_channel_map channelMap{};
  std::string monitorSource;  // render endpoints: the source that loopback records
};

struct Inventory {
  std::vector<EndpointInfo> capture;
  std::vector<EndpointInfo> render;
  std::string defaultSource;
  std::string defaultSink;

  const std::vector<EndpointInfo>& endpoints(EDataFlow flow) const { return flow == eCapture ? capture : render; }
  // The default endpoint of a flow, or null when the server has none of that
  // flow (a default source that is a sink's monitor counts as none).
  const EndpointInfo* defaultEndpoint(EDataFlow flow) const;
};

// False when the server does not answer in time.
bool readInventory(PulseConnection& connection, Inventory* inventory);

// Active, unless the device has an active port that is known to be unavailable
// (headphones pulled, for instance).
DWORD endpointState(bool hasActivePort, pa_port_available_t activePortAvailable);
