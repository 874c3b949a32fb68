#include "endpoints/endpoint_selection.h"

#include <cstring>

#include "endpoints/endpoint_strings.h"
#include "endpoints/slot_opening.h"
#include "events/event_lines.h"
#include "events/faults.h"

namespace {
constexpr char kMicLabel[] = "mic";
constexpr char kDesktopLabel[] = "desktop";
constexpr char kInstancePrefix[] = "MMDEVAPI\\";

char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Only A-Z and a-z fold; every other byte, UTF-8 included, compares as is.
bool equalsIgnoringAsciiCase(const char* a, const char* b) {
  for (; *a != '\0' && *b != '\0'; ++a, ++b)
    if (lowerAscii(*a) != lowerAscii(*b)) return false;
  return *a == *b;
}

// The part of the selector compared with identifiers: what follows the
// listing's "SWD\MMDEVAPI\" prefix, or the whole value.
const char* identifierKey(const char* micValue) {
  const char* prefix = std::strstr(micValue, kInstancePrefix);
  return prefix != nullptr ? prefix + sizeof kInstancePrefix - 1 : micValue;
}

[[noreturn]] void microphoneMissing(const char* micValue) {
  endRunOnFault(faultReason::targetMissing, micValue, kMicLabel, exitStatus::setupFailed);
}

IMMDevice* findDefaultMicrophone(IMMDeviceEnumerator* enumerator) {
  IMMDevice* device = nullptr;
  if (FAILED(enumerator->GetDefaultAudioEndpoint(eCapture, eConsole, &device))) return nullptr;
  return device;
}

// First active capture endpoint, in collection order, that answers the
// selector by identifier or by friendly name.
IMMDevice* searchMicrophone(IMMDeviceEnumerator* enumerator, const char* micValue) {
  const char* key = identifierKey(micValue);
  IMMDeviceCollection* collection = nullptr;
  if (FAILED(enumerator->EnumAudioEndpoints(eCapture, DEVICE_STATE_ACTIVE, &collection))) return nullptr;
  UINT count = 0;
  if (FAILED(collection->GetCount(&count))) count = 0;
  IMMDevice* chosen = nullptr;
  for (UINT index = 0; index < count && chosen == nullptr; ++index) {
    IMMDevice* device = nullptr;
    if (FAILED(collection->Item(index, &device)) || device == nullptr) continue;
    char id[kEndpointIdSize];
    char name[kFriendlyNameSize];
    readEndpointId(device, id, sizeof id);
    readFriendlyName(device, name, sizeof name);
    // A text that could not be read is empty and answers no selector, not
    // even an empty one.
    const bool idMatches = id[0] != '\0' && equalsIgnoringAsciiCase(id, key);
    const bool nameMatches = name[0] != '\0' && equalsIgnoringAsciiCase(name, micValue);
    if (idMatches || nameMatches) {
      chosen = device;
    } else {
      device->Release();
    }
  }
  collection->Release();
  return chosen;
}
}  // namespace

void selectMicrophone(IMMDeviceEnumerator* enumerator, const char* micValue, CaptureSlot& slot) {
  slot.label = kMicLabel;
  const bool byDefault = equalsIgnoringAsciiCase(micValue, "default");
  IMMDevice* device = byDefault ? findDefaultMicrophone(enumerator) : searchMicrophone(enumerator, micValue);
  if (device == nullptr) microphoneMissing(micValue);
  slot.device = device;
  slot.followsDefault = byDefault ? 1 : 0;
  if (byDefault) readEndpointId(device, slot.endpointId, sizeof slot.endpointId);
  readFriendlyName(device, slot.friendlyName, sizeof slot.friendlyName);
  openSlot(slot, false);
}

void selectDesktop(IMMDeviceEnumerator* enumerator, CaptureSlot& slot) {
  slot.label = kDesktopLabel;
  const HRESULT status = enumerator->GetDefaultAudioEndpoint(eRender, eConsole, &slot.device);
  if (FAILED(status) || slot.device == nullptr) {
    endRunOnCallFailure(faultReason::targetMissing, "no-output-endpoint", status, kDesktopLabel,
                        exitStatus::setupFailed);
  }
  slot.followsDefault = 1;
  readEndpointId(slot.device, slot.endpointId, sizeof slot.endpointId);
  readFriendlyName(slot.device, slot.friendlyName, sizeof slot.friendlyName);
  openSlot(slot, true);
}
