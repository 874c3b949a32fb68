// The simulated COM runtime and C runtime calls: COM must be initialised
// before the device enumerator can be created, as on Windows. A scripted
// CoInitializeEx failure only changes the status returned, so a run that
// does not look at it goes on as it would after RPC_E_CHANGED_MODE.
#include "endpoints/core_audio.h"
#include "platform/sim/sim_objects.h"
#include "platform/sim/sim_scenario.h"

namespace {
constexpr HRESULT kNotInitialised = static_cast<HRESULT>(0x800401F0u);  // CO_E_NOTINITIALIZED
}  // namespace

HRESULT CoInitializeEx(void* reserved, DWORD) {
  if (reserved != nullptr) return E_INVALIDARG;
  const bool already = sim::comInitialised();
  sim::setComInitialised(true);
  if (auto status = sim::failureOf(sim::world().fail, "CoInitializeEx")) return *status;
  return already ? S_FALSE : S_OK;
}

HRESULT CoCreateInstance(REFCLSID classId, IUnknown* outer, DWORD classContext, REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (auto status = sim::failureOf(sim::world().fail, "CoCreateInstance"); status && FAILED(*status)) return *status;
  if (!sim::comInitialised()) return kNotInitialised;
  if (!IsEqualGUID(classId, CLSID_MMDeviceEnumerator)) return REGDB_E_CLASSNOTREG;
  if (outer != nullptr) return static_cast<HRESULT>(0x80040110u);  // CLASS_E_NOAGGREGATION
  if ((classContext & CLSCTX_ALL) == 0) return E_INVALIDARG;
  IMMDeviceEnumerator* enumerator = sim::newEnumerator();
  const HRESULT status = enumerator->QueryInterface(iid, object);
  enumerator->Release();
  if (FAILED(status)) return status;
  return sim::failureOf(sim::world().fail, "CoCreateInstance").value_or(S_OK);
}

// Off Windows streams carry bytes untranslated already.
int _setmode(int, int) { return _O_TEXT; }
