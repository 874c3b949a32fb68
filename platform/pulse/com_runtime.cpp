// COM's entry points: the only class there is, the device enumerator, comes
// with its own connection to the sound server.
#include "endpoints/core_audio.h"
#include "platform/pulse/device_objects.h"
#include "platform/pulse/process_signals.h"

HRESULT CoInitializeEx(void*, DWORD) {
  ignoreBrokenPipes();
  return S_OK;
}

HRESULT CoCreateInstance(REFCLSID classId, IUnknown* outer, DWORD, REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (!(classId == CLSID_MMDeviceEnumerator)) return REGDB_E_CLASSNOTREG;
  if (outer != nullptr) return static_cast<HRESULT>(0x80040110u);  // CLASS_E_NOAGGREGATION
  if (!(iid == IID_IMMDeviceEnumerator || iid == IID_IUnknown)) return E_NOINTERFACE;
  // A write to a server that has just gone away must not kill the process.
  ignoreBrokenPipes();
  HRESULT status = S_OK;
  std::shared_ptr<PulseConnection> connection = PulseConnection::open(&status);
  if (connection == nullptr) return status;
  IMMDeviceEnumerator* enumerator = newPulseEnumerator(std::move(connection));
  *object = enumerator;
  return S_OK;
}
