#include "endpoints/slot_opening.h"

#include <cstring>

#include "events/event_lines.h"
#include "events/faults.h"
#include "pipeline/rate_tracking.h"

namespace {
constexpr REFERENCE_TIME kBufferDuration = 2000000;  // 200 ms in 100 ns units
constexpr WORD kExtensibleExtraBytes = 22;           // cbSize of a WAVEFORMATEXTENSIBLE
// KSDATAFORMAT_SUBTYPE_IEEE_FLOAT, spelt out: the mingw headers declare it
// without giving it storage.
constexpr GUID kIeeeFloatSubFormat = {0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

[[noreturn]] void failSlot(const CaptureSlot& slot, const char* reason, const char* callName, HRESULT status) {
  endRunOnCallFailure(reason, callName, status, slot.label, exitStatus::setupFailed);
}

const char* refusalReason(HRESULT status) {
  return status == E_ACCESSDENIED ? faultReason::permissionDenied : faultReason::linkFailed;
}

std::int32_t carriesFloat(const WAVEFORMATEX* format) {
  if (format->wFormatTag == WAVE_FORMAT_IEEE_FLOAT) return 1;
  // The sub-format is only there when the block says it is; a short block is
  // taken as integer rather than read past its end.
  if (format->wFormatTag != WAVE_FORMAT_EXTENSIBLE || format->cbSize < kExtensibleExtraBytes) return 0;
  const auto* extensible = reinterpret_cast<const WAVEFORMATEXTENSIBLE*>(format);
  return std::memcmp(&extensible->SubFormat, &kIeeeFloatSubFormat, sizeof(GUID)) == 0 ? 1 : 0;
}
}  // namespace

namespace {
// Everything of openSlot but the fault: false with the failing call.
bool tryOpenSlot(CaptureSlot& slot, bool loopback, OpenFailure& failure) {
  slot.loopback = loopback ? 1 : 0;
  HRESULT status =
      slot.device->Activate(IID_IAudioClient, CLSCTX_ALL, nullptr, reinterpret_cast<void**>(&slot.audioClient));
  if (FAILED(status)) {
    failure = OpenFailure{"Activate", status, refusalReason(status)};
    return false;
  }

  status = slot.audioClient->GetMixFormat(&slot.mixFormat);
  if (FAILED(status)) {
    failure = OpenFailure{"GetMixFormat", status, faultReason::linkFailed};
    return false;
  }
  // No channel to average or no rate to step by: the converter could not run.
  if (slot.mixFormat->nChannels == 0 || slot.mixFormat->nSamplesPerSec == 0) {
    failure = OpenFailure{"GetMixFormat", AUDCLNT_E_UNSUPPORTED_FORMAT, faultReason::linkFailed};
    return false;
  }

  slot.channelCount = slot.mixFormat->nChannels;
  slot.bitsPerSample = slot.mixFormat->wBitsPerSample;
  slot.isFloat = carriesFloat(slot.mixFormat);
  slot.deviceRate = static_cast<std::int32_t>(slot.mixFormat->nSamplesPerSec);
  slot.resampleStep = static_cast<double>(slot.deviceRate) / 16000.0;
  slot.resamplePhase = 0.0;
  slot.lastSample = 0.0f;
  slot.lostStatus = S_OK;
  resetRateTracking(slot);

  // Polled, never event-driven: the capture loop drains on its own beat.
  status = slot.audioClient->Initialize(AUDCLNT_SHAREMODE_SHARED, loopback ? AUDCLNT_STREAMFLAGS_LOOPBACK : 0,
                                        kBufferDuration, 0, slot.mixFormat, nullptr);
  if (FAILED(status)) {
    failure = OpenFailure{"Initialize", status, refusalReason(status)};
    return false;
  }

  status = slot.audioClient->GetService(IID_IAudioCaptureClient, reinterpret_cast<void**>(&slot.captureClient));
  if (FAILED(status)) {
    failure = OpenFailure{"GetService", status, faultReason::linkFailed};
    return false;
  }
  return true;
}

// Lets go of the slot's stream and device; the ring is left as it is.
void closeSlot(CaptureSlot& slot) {
  if (slot.audioClient != nullptr) slot.audioClient->Stop();
  if (slot.captureClient != nullptr) slot.captureClient->Release();
  if (slot.audioClient != nullptr) slot.audioClient->Release();
  if (slot.device != nullptr) slot.device->Release();
  CoTaskMemFree(slot.mixFormat);
  slot.captureClient = nullptr;
  slot.audioClient = nullptr;
  slot.device = nullptr;
  slot.mixFormat = nullptr;
}
}  // namespace

void openSlot(CaptureSlot& slot, bool loopback) {
  OpenFailure failure{};
  if (!tryOpenSlot(slot, loopback, failure)) failSlot(slot, failure.reason, failure.callName, failure.status);
}

bool reopenSlot(CaptureSlot& slot, IMMDevice* device, OpenFailure& failure) {
  closeSlot(slot);
  slot.device = device;
  readFriendlyName(device, slot.friendlyName, sizeof slot.friendlyName);
  readEndpointId(device, slot.endpointId, sizeof slot.endpointId);
  if (!tryOpenSlot(slot, slot.loopback != 0, failure)) return false;
  const HRESULT status = slot.audioClient->Start();
  if (FAILED(status)) {
    failure = OpenFailure{"Start", status, faultReason::linkFailed};
    return false;
  }
  // What the old device left in the ring would otherwise stand in for the
  // new one's cushion, and a new device that starts a little late would
  // then be read dry at every pass.
  slot.startsAfresh = 1;
  slot.freshFromCount = slot.ring.writeCount;
  return true;
}

void startSlots(SlotTable& table, int slotCount) {
  for (int i = 0; i < slotCount; ++i) {
    CaptureSlot& slot = table.entries[i];
    const HRESULT status = slot.audioClient->Start();
    if (FAILED(status)) failSlot(slot, faultReason::linkFailed, "Start", status);
  }
}
