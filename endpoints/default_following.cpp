#include "endpoints/default_following.h"

#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "endpoints/default_change_watch.h"
#include "endpoints/endpoint_strings.h"
#include "endpoints/slot_opening.h"
#include "events/event_lines.h"
#include "events/faults.h"

namespace {
constexpr std::int64_t kSettleMilliseconds = 250;

struct FollowingState {
  IMMDeviceEnumerator* enumerator;
  std::uint32_t changesSeen[2];  // by flow
  std::int64_t lastChangeMs[2];  // when the last change was seen
  bool changePending[2];         // seen, not yet acted on
};

FollowingState following;

std::int64_t nowMilliseconds() {
  LARGE_INTEGER counter;
  LARGE_INTEGER frequency;
  QueryPerformanceCounter(&counter);
  QueryPerformanceFrequency(&frequency);
  return static_cast<std::int64_t>(static_cast<double>(counter.QuadPart) * 1000.0 /
                                   static_cast<double>(frequency.QuadPart));
}

EDataFlow flowOf(const CaptureSlot& slot) { return slot.loopback != 0 ? eRender : eCapture; }

[[noreturn]] void endRunOnLoss(const CaptureSlot& slot) {
  endRunOnCallFailure(faultReason::stopped, "GetNextPacketSize", slot.lostStatus, slot.label,
                      exitStatus::captureFailed);
}

void switchTo(CaptureSlot& slot, IMMDevice* device) {
  OpenFailure failure{};
  if (!reopenSlot(slot, device, failure))
    endRunOnCallFailure(faultReason::stopped, failure.callName, failure.status, slot.label, exitStatus::captureFailed);
  emitSwitched(slot.label, slot.friendlyName, slot.deviceRate);
}

// The flow's default now, when it is another endpoint than the slot's; null
// when it is the same one or there is none.
IMMDevice* otherDefault(const CaptureSlot& slot) {
  IMMDevice* device = nullptr;
  const HRESULT status = following.enumerator->GetDefaultAudioEndpoint(flowOf(slot), eConsole, &device);
  if (FAILED(status) || device == nullptr) return nullptr;
  char id[kEndpointIdSize];
  readEndpointId(device, id, sizeof id);
  if (std::strcmp(id, slot.endpointId) != 0) return device;
  device->Release();
  return nullptr;
}

// A lost device that is still the default (its stream failed, the device
// stayed) leaves nowhere to go: the run ends as it always has.
void followLostSource(CaptureSlot& slot) {
  IMMDevice* device = otherDefault(slot);
  if (device == nullptr) endRunOnLoss(slot);
  switchTo(slot, device);
}

// No default just now, or the same one again: the source stays where it is.
void followChangedDefault(CaptureSlot& slot) {
  if (IMMDevice* device = otherDefault(slot)) switchTo(slot, device);
}
}  // namespace

void startFollowingDefaults(IMMDeviceEnumerator* enumerator) {
  following.enumerator = enumerator;
  for (EDataFlow flow : {eRender, eCapture}) {
    following.changesSeen[flow] = defaultChangesHeard(flow);
    following.changePending[flow] = false;
  }
  // Without notifications a lost device is still followed; changes are not.
  watchDefaultChanges(enumerator);
}

void followDefaults(SlotTable& table, int slotCount) {
  if (following.enumerator == nullptr) return;
  const std::int64_t now = nowMilliseconds();
  bool settled[2] = {false, false};
  for (EDataFlow flow : {eRender, eCapture}) {
    const std::uint32_t heard = defaultChangesHeard(flow);
    if (heard != following.changesSeen[flow]) {
      following.changesSeen[flow] = heard;
      following.lastChangeMs[flow] = now;
      following.changePending[flow] = true;
    }
    settled[flow] = following.changePending[flow] && now - following.lastChangeMs[flow] >= kSettleMilliseconds;
    if (settled[flow]) following.changePending[flow] = false;
  }
  for (int s = 0; s < slotCount; ++s) {
    CaptureSlot& slot = table.entries[s];
    if (slot.followsDefault == 0) continue;
    if (slot.lostStatus != S_OK) {
      followLostSource(slot);
    } else if (settled[flowOf(slot)]) {
      followChangedDefault(slot);
    }
  }
}
