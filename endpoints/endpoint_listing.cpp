#include "endpoints/endpoint_listing.h"

#include <cstdio>
#include <cstring>

#include "endpoints/endpoint_strings.h"
#include "events/json_escape.h"

namespace {
constexpr int kInstanceTextSize = 600;  // the prefix and a 511-byte identifier always fit

void readDefaultId(IMMDeviceEnumerator* enumerator, EDataFlow flow, char* buffer) {
  buffer[0] = '\0';
  IMMDevice* device = nullptr;
  if (FAILED(enumerator->GetDefaultAudioEndpoint(flow, eConsole, &device)) || device == nullptr) return;
  readEndpointId(device, buffer, kEndpointIdSize);
  device->Release();
}

void writeRecord(IMMDevice* device, EDataFlow flow, const char* defaultId, std::int32_t& firstRecord) {
  char id[kEndpointIdSize];
  char name[kFriendlyNameSize];
  readEndpointId(device, id, sizeof id);
  readFriendlyName(device, name, sizeof name);
  DWORD state = 0;
  if (FAILED(device->GetState(&state))) state = 0;

  char instance[kInstanceTextSize];
  std::snprintf(instance, sizeof instance, "SWD\\MMDEVAPI\\%s", id);
  char escapedInstance[kEscapedInstanceIdLimit];
  char escapedName[kEscapedTextLimit];
  escapeJson(instance, escapedInstance, sizeof escapedInstance);
  escapeJson(name, escapedName, sizeof escapedName);

  // Two unreadable identifiers are both empty, which says nothing about
  // which endpoint is the default.
  const bool isDefault = id[0] != '\0' && std::strcmp(id, defaultId) == 0;
  // Flow comes last, so that a host reading the first four keys by position
  // still finds them where they were.
  std::fprintf(
      stdout, "%s{\"FriendlyName\":\"%s\",\"InstanceId\":\"%s\",\"Status\":\"%s\",\"IsDefault\":%s,\"Flow\":\"%s\"}",
      firstRecord != 0 ? "" : ",", escapedName, escapedInstance, state == DEVICE_STATE_ACTIVE ? "OK" : "Unknown",
      isDefault ? "true" : "false", flow == eCapture ? "capture" : "render");
  firstRecord = 0;
}
}  // namespace

void listDataFlow(IMMDeviceEnumerator* enumerator, EDataFlow flow, std::int32_t& firstRecord) {
  char defaultId[kEndpointIdSize];
  readDefaultId(enumerator, flow, defaultId);

  IMMDeviceCollection* collection = nullptr;
  if (FAILED(enumerator->EnumAudioEndpoints(flow, DEVICE_STATE_ACTIVE | DEVICE_STATE_UNPLUGGED, &collection))) return;
  UINT count = 0;
  if (FAILED(collection->GetCount(&count))) count = 0;
  for (UINT index = 0; index < count; ++index) {
    IMMDevice* device = nullptr;
    if (FAILED(collection->Item(index, &device)) || device == nullptr) continue;
    writeRecord(device, flow, defaultId, firstRecord);
    device->Release();
  }
  collection->Release();
}
