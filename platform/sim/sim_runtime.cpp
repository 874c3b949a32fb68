// The simulated COM runtime. Devices come later; for now nothing is
// registered, which is what a machine without an audio service reports.
#include "endpoints/core_audio.h"

HRESULT CoInitializeEx(void*, DWORD) { return S_OK; }

HRESULT CoCreateInstance(REFCLSID, IUnknown*, DWORD, REFIID, void** object) {
  if (object != nullptr) *object = nullptr;
  return REGDB_E_CLASSNOTREG;
}

int _setmode(int, int) { return _O_TEXT; }
