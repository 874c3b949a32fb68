#include "endpoints/default_change_watch.h"

#include <atomic>

namespace {

std::atomic<std::uint32_t> changesHeard[2];  // by flow: eRender, eCapture

// Lives as long as the process, so its reference count means nothing: the
// enumerator may hold it, or drop it, from any thread, and nothing is freed.
class DefaultChangeListener final : public IMMNotificationClient {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (IsEqualGUID(iid, IID_IUnknown) || IsEqualGUID(iid, IID_IMMNotificationClient)) {
      *object = static_cast<IMMNotificationClient*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  // Only noted: no call back into the enumerator, no waiting, from here.
  HRESULT STDMETHODCALLTYPE OnDefaultDeviceChanged(EDataFlow flow, ERole role, LPCWSTR) override {
    if (role == eConsole && (flow == eRender || flow == eCapture)) changesHeard[flow].fetch_add(1);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnDeviceStateChanged(LPCWSTR, DWORD) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnDeviceAdded(LPCWSTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnDeviceRemoved(LPCWSTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnPropertyValueChanged(LPCWSTR, const PROPERTYKEY) override { return S_OK; }
};

DefaultChangeListener listener;
bool registered = false;

}  // namespace

bool watchDefaultChanges(IMMDeviceEnumerator* enumerator) {
  if (!registered) registered = SUCCEEDED(enumerator->RegisterEndpointNotificationCallback(&listener));
  return registered;
}

std::uint32_t defaultChangesHeard(EDataFlow flow) { return changesHeard[flow].load(); }
