// COM's entry points: the only class there is, the device enumerator, comes
// with its own connection to the sound server.
#include "platform/core_audio.h"
#include "platform/portable/console_control.h"
#include "platform/pulse/device_objects.h"
#include "platform/pulse/pulse_library.h"

HRESULT CoInitializeEx(void*, DWORD) {
  ignoreBrokenPipes();
  return S_OK;
}

HRESULT CoCreateInstance(REFCLSID classId, IUnknown* outer, DWORD, REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (!(classId == CLSID_MMDeviceEnumerator)) return REGDB_E_CLASSNOTREG;
  if (outer != nullptr) return CLASS_E_NOAGGREGATION;
  if (!(iid == IID_IMMDeviceEnumerator || iid == IID_IUnknown)) return E_NOINTERFACE;
  // A write to a server that has just gone away must not kill the process.
  ignoreBrokenPipes();
  // libpulse is loaded here, when the sound server is first needed: where it
  // is missing the run ends with a fault line like any other set-up failure.
  if (!pulseLibraryAvailable()) return kPulseLibraryMissing;
  HRESULT status = S_OK;
  std::shared_ptr<PulseConnection> connection = PulseConnection::open(&status);
  if (connection == nullptr) return status;
  *object = newPulseEnumerator(std::move(connection));
  return S_OK;
}
