#include "app/run_sequences.h"

#include <cstdint>
#include <cstdio>

#include "app/stop_flag.h"
#include "platform/core_audio.h"
#include "endpoints/default_following.h"
#include "endpoints/endpoint_listing.h"
#include "endpoints/endpoint_selection.h"
#include "endpoints/slot_opening.h"
#include "events/event_lines.h"
#include "events/faults.h"
#include "pipeline/capture_slot.h"
#include "pipeline/pacer.h"

namespace {
// The run's enumerator, sources, clock and output scratch live here for the
// whole process; none of them is ever released.
IMMDeviceEnumerator* enumerator = nullptr;
SlotTable slotTable;
PacerState pacerState;
OutputFrameBuffer outputFrames;

[[noreturn]] void deviceLayerUnavailable(const char* callName, HRESULT status) {
  endRunOnCallFailure(faultReason::separateUnavailable, callName, status, nullptr, exitStatus::setupFailed);
}

void createEnumerator() {
  const HRESULT status = CoCreateInstance(CLSID_MMDeviceEnumerator, nullptr, CLSCTX_ALL, IID_IMMDeviceEnumerator,
                                          reinterpret_cast<void**>(&enumerator));
  if (FAILED(status)) deviceLayerUnavailable("MMDeviceEnumerator", status);
}

void reportStarted(int slotCount) {
  StartedSource sources[kMaxSlots];
  for (int i = 0; i < slotCount; ++i) {
    const CaptureSlot& slot = slotTable.entries[i];
    sources[i] = StartedSource{slot.label, slot.deviceRate, slot.friendlyName};
  }
  emitStarted(sources, slotCount);
}
}  // namespace

int runListSequence() {
  // A failure here shows up, if it matters, when the enumerator is created.
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  createEnumerator();
  std::fputs("[", stdout);
  std::int32_t firstRecord = 1;
  listDataFlow(enumerator, eCapture, firstRecord);
  listDataFlow(enumerator, eRender, firstRecord);
  std::fputs("]\n", stdout);
  return exitStatus::ok;
}

int runCaptureSequence(const char* micValue, const char* systemValue) {
  _setmode(_fileno(stdout), _O_BINARY);
  // Unbuffered, so that each batch is handed to the system by its own fwrite:
  // a reader that has gone away then shows as a short write at once. With a
  // buffer, the failed flush is forgotten (glibc, and the Windows runtime
  // alike) and every later small fwrite reports full success.
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  SetConsoleCtrlHandler(onConsoleControl, TRUE);
  const HRESULT status = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (FAILED(status)) deviceLayerUnavailable("CoInitializeEx", status);
  createEnumerator();

  // Every source is opened before any is started; the microphone is entry 0.
  int slotCount = 0;
  if (micValue != nullptr) selectMicrophone(enumerator, micValue, slotTable.entries[slotCount++]);
  if (systemValue != nullptr) selectDesktop(enumerator, slotTable.entries[slotCount++]);
  startSlots(slotTable, slotCount);
  startFollowingDefaults(enumerator);

  startClock(pacerState);
  reportStarted(slotCount);
  runPacer(slotTable, slotCount, pacerState, outputFrames, stopRequested, followDefaults);
  return exitStatus::ok;
}
