#include "platform/pulse/device_objects.h"

#include <string>
#include <vector>

#include "platform/portable/com_object.h"
#include "platform/portable/seam_objects.h"
#include "platform/portable/property_store.h"
#include "platform/portable/text_conversion.h"
#include "platform/pulse/audio_client.h"
#include "platform/pulse/pulse_inventory.h"

namespace {

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
    *store = newPropertyStore(FriendlyName{FriendlyNameKind::text, info_.description});
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

// The server's inventory is read at the enumerator's first call and kept, so
// that one listing or one selection sees one state of the server, read once.
class PulseEnumerator final : public DeviceEnumeratorObject<PulseEnumerator> {
 public:
  explicit PulseEnumerator(std::shared_ptr<PulseConnection> connection) : connection_(std::move(connection)) {}

  HRESULT STDMETHODCALLTYPE EnumAudioEndpoints(EDataFlow flow, DWORD stateMask,
                                               IMMDeviceCollection** devices) override {
    if (const HRESULT refused = checkEnumeration(flow, stateMask, devices); FAILED(refused)) return refused;
    const Inventory* inventory = this->inventory();
    if (inventory == nullptr) return AUDCLNT_E_SERVICE_NOT_RUNNING;
    std::vector<EndpointInfo> chosen;
    for (EDataFlow each : {eRender, eCapture}) {
      if (flow != eAll && flow != each) continue;
      for (const auto& endpoint : inventory->endpoints(each))
        if ((endpoint.state & stateMask) != 0) chosen.push_back(endpoint);
    }
    *devices = new PulseCollection(connection_, std::move(chosen));
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE GetDefaultAudioEndpoint(EDataFlow flow, ERole role, IMMDevice** endpoint) override {
    if (const HRESULT refused = checkDefaultRequest(flow, role, endpoint); FAILED(refused)) return refused;
    const Inventory* inventory = this->inventory();
    if (inventory == nullptr) return AUDCLNT_E_SERVICE_NOT_RUNNING;
    const EndpointInfo* found = inventory->defaultEndpoint(flow);
    if (found == nullptr) return HRESULT_ERROR_NOT_FOUND;
    *endpoint = new PulseDevice(connection_, *found);
    return S_OK;
  }

 private:
  // Null while the server does not answer; a later call asks again.
  const Inventory* inventory() {
    if (!inventoryRead_) inventoryRead_ = readInventory(*connection_, &inventory_);
    return inventoryRead_ ? &inventory_ : nullptr;
  }

  std::shared_ptr<PulseConnection> connection_;
  Inventory inventory_;
  bool inventoryRead_ = false;
};

}  // namespace

IMMDeviceEnumerator* newPulseEnumerator(std::shared_ptr<PulseConnection> connection) {
  return new PulseEnumerator(std::move(connection));
}
