#include "platform/pulse/device_objects.h"

#include <string>
#include <vector>

#include "platform/pulse/audio_client.h"
#include "platform/pulse/com_object.h"
#include "platform/pulse/pulse_inventory.h"
#include "platform/pulse/wide_text.h"

namespace {

constexpr DWORD kAllStates = DEVICE_STATE_ACTIVE | DEVICE_STATE_DISABLED | DEVICE_STATE_NOTPRESENT |
                             DEVICE_STATE_UNPLUGGED;

class PulsePropertyStore final : public ComObject<IPropertyStore, IID_IPropertyStore, PulsePropertyStore> {
 public:
  explicit PulsePropertyStore(std::string friendlyName) : friendlyName_(std::move(friendlyName)) {}

  HRESULT STDMETHODCALLTYPE GetCount(DWORD* count) override {
    if (count == nullptr) return E_POINTER;
    *count = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetAt(DWORD index, PROPERTYKEY* key) override {
    if (key == nullptr) return E_POINTER;
    if (index != 0) return E_INVALIDARG;
    *key = PKEY_Device_FriendlyName;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetValue(REFPROPERTYKEY key, PROPVARIANT* value) override {
    if (value == nullptr) return E_POINTER;
    PropVariantInit(value);
    // As on Windows, a key the store does not hold reads as VT_EMPTY.
    if (!(key.fmtid == PKEY_Device_FriendlyName.fmtid && key.pid == PKEY_Device_FriendlyName.pid)) return S_OK;
    value->pwszVal = toCoTaskWideText(friendlyName_);
    if (value->pwszVal == nullptr) return E_OUTOFMEMORY;
    value->vt = VT_LPWSTR;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetValue(REFPROPERTYKEY, REFPROPVARIANT) override { return E_ACCESSDENIED; }
  HRESULT STDMETHODCALLTYPE Commit() override { return E_ACCESSDENIED; }

 private:
  std::string friendlyName_;
};

class PulseDevice final : public ComObject<IMMDevice, IID_IMMDevice, PulseDevice> {
 public:
  PulseDevice(std::shared_ptr<PulseConnection> connection, EndpointInfo info)
      : connection_(std::move(connection)), info_(std::move(info)) {}

  HRESULT STDMETHODCALLTYPE Activate(REFIID iid, DWORD, PROPVARIANT*, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (!(iid == IID_IAudioClient)) return E_NOINTERFACE;
    IAudioClient* client = newPulseAudioClient(connection_, info_);
    if (client == nullptr) return E_OUTOFMEMORY;
    *object = client;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OpenPropertyStore(DWORD, IPropertyStore** store) override {
    if (store == nullptr) return E_POINTER;
    *store = new PulsePropertyStore(info_.description);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetId(LPWSTR* id) override {
    if (id == nullptr) return E_POINTER;
    *id = toCoTaskWideText(info_.name);
    return *id != nullptr ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT STDMETHODCALLTYPE GetState(DWORD* state) override {
    if (state == nullptr) return E_POINTER;
    *state = info_.state;
    return S_OK;
  }

 private:
  std::shared_ptr<PulseConnection> connection_;
  EndpointInfo info_;
};

class PulseCollection final : public ComObject<IMMDeviceCollection, IID_IMMDeviceCollection, PulseCollection> {
 public:
  PulseCollection(std::shared_ptr<PulseConnection> connection, std::vector<EndpointInfo> endpoints)
      : connection_(std::move(connection)), endpoints_(std::move(endpoints)) {}

  HRESULT STDMETHODCALLTYPE GetCount(UINT* count) override {
    if (count == nullptr) return E_POINTER;
    *count = static_cast<UINT>(endpoints_.size());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Item(UINT index, IMMDevice** device) override {
    if (device == nullptr) return E_POINTER;
    *device = nullptr;
    if (index >= endpoints_.size()) return E_INVALIDARG;
    *device = new PulseDevice(connection_, endpoints_[index]);
    return S_OK;
  }

 private:
  std::shared_ptr<PulseConnection> connection_;
  std::vector<EndpointInfo> endpoints_;
};

class PulseEnumerator final : public ComObject<IMMDeviceEnumerator, IID_IMMDeviceEnumerator, PulseEnumerator> {
 public:
  explicit PulseEnumerator(std::shared_ptr<PulseConnection> connection) : connection_(std::move(connection)) {}

  HRESULT STDMETHODCALLTYPE EnumAudioEndpoints(EDataFlow flow, DWORD stateMask,
                                               IMMDeviceCollection** devices) override {
    if (devices == nullptr) return E_POINTER;
    *devices = nullptr;
    if (flow < eRender || flow > eAll || stateMask == 0 || (stateMask & ~kAllStates) != 0) return E_INVALIDARG;
    Inventory inventory;
    if (!readInventory(*connection_, &inventory)) return AUDCLNT_E_SERVICE_NOT_RUNNING;
    std::vector<EndpointInfo> chosen;
    for (EDataFlow each : {eRender, eCapture}) {
      if (flow != eAll && flow != each) continue;
      for (const auto& endpoint : inventory.endpoints(each))
        if ((endpoint.state & stateMask) != 0) chosen.push_back(endpoint);
    }
    *devices = new PulseCollection(connection_, std::move(chosen));
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE GetDefaultAudioEndpoint(EDataFlow flow, ERole role, IMMDevice** endpoint) override {
    if (endpoint == nullptr) return E_POINTER;
    *endpoint = nullptr;
    if ((flow != eRender && flow != eCapture) || role < eConsole || role > eCommunications) return E_INVALIDARG;
    Inventory inventory;
    if (!readInventory(*connection_, &inventory)) return AUDCLNT_E_SERVICE_NOT_RUNNING;
    const EndpointInfo* found = inventory.defaultEndpoint(flow);
    if (found == nullptr) return HRESULT_ERROR_NOT_FOUND;
    *endpoint = new PulseDevice(connection_, *found);
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE GetDevice(LPCWSTR id, IMMDevice** device) override {
    if (id == nullptr || device == nullptr) return E_POINTER;
    *device = nullptr;
    Inventory inventory;
    if (!readInventory(*connection_, &inventory)) return AUDCLNT_E_SERVICE_NOT_RUNNING;
    for (EDataFlow flow : {eCapture, eRender}) {
      for (const auto& endpoint : inventory.endpoints(flow)) {
        if (sameText(id, endpoint.name)) {
          *device = new PulseDevice(connection_, endpoint);
          return S_OK;
        }
      }
    }
    return HRESULT_ERROR_NOT_FOUND;
  }

  HRESULT STDMETHODCALLTYPE RegisterEndpointNotificationCallback(IMMNotificationClient*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE UnregisterEndpointNotificationCallback(IMMNotificationClient*) override {
    return E_NOTIMPL;
  }

 private:
  static bool sameText(LPCWSTR wide, const std::string& utf8) {
    LPWSTR converted = toCoTaskWideText(utf8);
    if (converted == nullptr) return false;
    std::size_t i = 0;
    while (wide[i] != 0 && wide[i] == converted[i]) ++i;
    const bool same = wide[i] == converted[i];
    CoTaskMemFree(converted);
    return same;
  }

  std::shared_ptr<PulseConnection> connection_;
};

}  // namespace

IMMDeviceEnumerator* newPulseEnumerator(std::shared_ptr<PulseConnection> connection) {
  return new PulseEnumerator(std::move(connection));
}
