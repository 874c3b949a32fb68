#include "platform/pulse/pulse_inventory.h"

namespace {

struct Query {
  Inventory* inventory;
  int pending = 3;
  bool failed = false;
};

void finishPart(Query* query, bool failed) {
  query->failed = query->failed || failed;
  --query->pending;
}

EndpointInfo describe(EDataFlow flow, const char* name, const char* description, const pa_sample_spec& sampleSpec,
                      const pa_channel_map& channelMap, bool hasActivePort, int activePortAvailable) {
  EndpointInfo info;
  info.flow = flow;
  info.name = name != nullptr ? name : "";
  // Windows always has a friendly name; a device without a description is
  // known by its name.
  info.description = description != nullptr && description[0] != 0 ? description : info.name;
  info.state = endpointState(hasActivePort, static_cast<pa_port_available_t>(activePortAvailable));
  info.sampleSpec = sampleSpec;
  info.channelMap = channelMap;
  return info;
}

void onSource(pa_context*, const pa_source_info* source, int eol, void* userdata) {
  auto* query = static_cast<Query*>(userdata);
  if (eol != 0) return finishPart(query, eol < 0);
  if (source->monitor_of_sink != PA_INVALID_INDEX) return;  // a sink's monitor is loopback, not a microphone
  query->inventory->capture.push_back(describe(eCapture, source->name, source->description, source->sample_spec,
                                               source->channel_map, source->active_port != nullptr,
                                               source->active_port != nullptr ? source->active_port->available : 0));
}

void onSink(pa_context*, const pa_sink_info* sink, int eol, void* userdata) {
  auto* query = static_cast<Query*>(userdata);
  if (eol != 0) return finishPart(query, eol < 0);
  EndpointInfo info =
      describe(eRender, sink->name, sink->description, sink->sample_spec, sink->channel_map,
               sink->active_port != nullptr, sink->active_port != nullptr ? sink->active_port->available : 0);
  if (sink->monitor_source_name != nullptr) info.monitorSource = sink->monitor_source_name;
  query->inventory->render.push_back(std::move(info));
}

void onServer(pa_context*, const pa_server_info* server, void* userdata) {
  auto* query = static_cast<Query*>(userdata);
  if (server != nullptr) {
    if (server->default_source_name != nullptr) query->inventory->defaultSource = server->default_source_name;
    if (server->default_sink_name != nullptr) query->inventory->defaultSink = server->default_sink_name;
  }
  finishPart(query, server == nullptr);
}

const EndpointInfo* findIn(const std::vector<EndpointInfo>& endpoints, const std::string& name) {
  for (const auto& endpoint : endpoints)
    if (endpoint.name == name) return &endpoint;
  return nullptr;
}

}  // namespace

DWORD endpointState(bool hasActivePort, pa_port_available_t activePortAvailable) {
  return hasActivePort && activePortAvailable == PA_PORT_AVAILABLE_NO ? DEVICE_STATE_UNPLUGGED : DEVICE_STATE_ACTIVE;
}

const EndpointInfo* Inventory::defaultEndpoint(EDataFlow flow) const {
  if (flow == eCapture) return defaultSource.empty() ? nullptr : findIn(capture, defaultSource);
  if (flow == eRender) return defaultSink.empty() ? nullptr : findIn(render, defaultSink);
  return nullptr;
}

bool readInventory(PulseConnection& connection, Inventory* inventory) {
  *inventory = Inventory{};
  Query query{inventory};
  if (!connection.alive()) return false;
  pa_operation* operations[] = {
      pa_context_get_server_info(connection.context(), onServer, &query),
      pa_context_get_source_info_list(connection.context(), onSource, &query),
      pa_context_get_sink_info_list(connection.context(), onSink, &query),
  };
  bool complete = true;
  for (pa_operation* operation : operations) {
    if (operation == nullptr) {
      complete = false;
      --query.pending;  // never started, so its callback never comes
    }
  }
  complete = connection.waitUntil([&] { return query.pending == 0; }, kServerReplyTimeoutMs) && complete;
  for (pa_operation* operation : operations) {
    if (operation == nullptr) continue;
    // A query still running when we give up must not call back into `query`.
    if (pa_operation_get_state(operation) == PA_OPERATION_RUNNING) pa_operation_cancel(operation);
    pa_operation_unref(operation);
  }
  return complete && !query.failed;
}
