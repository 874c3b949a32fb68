// The simulated COM runtime: COM must be initialised before the device
// enumerator can be created, as on Windows. A scripted CoInitializeEx status
// is only returned, so a run that does not look at it goes on as it would
// after RPC_E_CHANGED_MODE.
#include "platform/core_audio.h"
#include "platform/sim/device_objects.h"
#include "platform/sim/sim_scenario.h"

HRESULT CoInitializeEx(void* reserved, DWORD) {
  if (reserved != nullptr) return E_INVALIDARG;
  const bool already = sim::comInitialised();
  sim::setComInitialised(true);
  if (const auto failure = sim::scriptedFailure(sim::world().scripted, "CoInitializeEx")) return *failure;
  const HRESULT success = sim::scriptedSuccess(sim::world().scripted, "CoInitializeEx");
  if (success != S_OK) return success;
  return already ? S_FALSE : S_OK;
}

HRESULT CoCreateInstance(REFCLSID classId, IUnknown* outer, DWORD classContext, REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (const auto failure = sim::scriptedFailure(sim::world().scripted, "CoCreateInstance")) return *failure;
  if (!sim::comInitialised()) return CO_E_NOTINITIALIZED;
  if (!IsEqualGUID(classId, CLSID_MMDeviceEnumerator)) return REGDB_E_CLASSNOTREG;
  if (outer != nullptr) return CLASS_E_NOAGGREGATION;
  if ((classContext & CLSCTX_ALL) == 0) return E_INVALIDARG;
  IMMDeviceEnumerator* enumerator = sim::newEnumerator();
  const HRESULT status = enumerator->QueryInterface(iid, object);
  enumerator->Release();
  if (FAILED(status)) return status;
  return sim::scriptedSuccess(sim::world().scripted, "CoCreateInstance");
}
