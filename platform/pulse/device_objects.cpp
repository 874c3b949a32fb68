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
// Once a client listens for changes, the enumerator subscribes to the
// server's events: any change of a sink, a source or the server's defaults
// makes the next call read the inventory again, and a change of a default
// is told to the clients. The events are read with everything else the
// server sends, whenever a call reads the connection.
class PulseEnumerator final : public DeviceEnumeratorObject<PulseEnumerator> {
 public:
  explicit PulseEnumerator(std::shared_ptr<PulseConnection> connection) : connection_(std::move(connection)) {}
  ~PulseEnumerator() {
    if (subscribed_) pa_context_set_subscribe_callback(connection_->context(), nullptr, nullptr);
    dropDefaultsQuery();
  }

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
    // Once changes are listened for, the question comes after one: the
    // server's answer now, not a change event that has not been read yet.
    if (subscribed_) inventoryRead_ = false;
    const Inventory* inventory = this->inventory();
    if (inventory == nullptr) return AUDCLNT_E_SERVICE_NOT_RUNNING;
    const EndpointInfo* found = inventory->defaultEndpoint(flow);
    if (found == nullptr) return HRESULT_ERROR_NOT_FOUND;
    *endpoint = new PulseDevice(connection_, *found);
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE RegisterEndpointNotificationCallback(IMMNotificationClient* client) override {
    const HRESULT status = DeviceEnumeratorObject::RegisterEndpointNotificationCallback(client);
    if (FAILED(status) || subscribed_) return status;
    // The defaults as they are now: a change is told against these.
    if (const Inventory* inventory = this->inventory()) {
      toldSink_ = inventory->defaultSink;
      toldSource_ = inventory->defaultSource;
    }
    pa_context_set_subscribe_callback(connection_->context(), onServerEvent, this);
    const auto mask = static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SERVER | PA_SUBSCRIPTION_MASK_SINK |
                                                          PA_SUBSCRIPTION_MASK_SOURCE);
    pa_operation* operation = pa_context_subscribe(connection_->context(), mask, nullptr, nullptr);
    if (operation == nullptr) return AUDCLNT_E_SERVICE_NOT_RUNNING;
    pa_operation_unref(operation);  // sent with the next read of the connection
    subscribed_ = true;
    return S_OK;
  }

 private:
  // Null while the server does not answer; a later call asks again.
  const Inventory* inventory() {
    if (!inventoryRead_) inventoryRead_ = readInventory(*connection_, &inventory_);
    return inventoryRead_ ? &inventory_ : nullptr;
  }

  static void onServerEvent(pa_context* context, pa_subscription_event_type_t, uint32_t, void* self) {
    auto* enumerator = static_cast<PulseEnumerator*>(self);
    enumerator->inventoryRead_ = false;
    // One question at a time: its answer comes after every event sent before it.
    if (enumerator->defaultsQuery_ != nullptr) return;
    enumerator->defaultsQuery_ = pa_context_get_server_info(context, onServerInfo, self);
  }

  static void onServerInfo(pa_context*, const pa_server_info* info, void* self) {
    auto* enumerator = static_cast<PulseEnumerator*>(self);
    // Answered: libpulse keeps its own reference until this returns.
    pa_operation_unref(enumerator->defaultsQuery_);
    enumerator->defaultsQuery_ = nullptr;
    if (info == nullptr) return;
    enumerator->tellIfChanged(eRender, enumerator->toldSink_, info->default_sink_name);
    enumerator->tellIfChanged(eCapture, enumerator->toldSource_, info->default_source_name);
  }

  void tellIfChanged(EDataFlow flow, std::string& told, const char* name) {
    const std::string now = name != nullptr ? name : "";
    if (now == told) return;
    told = now;
    notifyDefaultChanged(flow, now.empty() ? nullptr : toUtf16(now).c_str());
  }

  void dropDefaultsQuery() {
    if (defaultsQuery_ == nullptr) return;
    if (pa_operation_get_state(defaultsQuery_) == PA_OPERATION_RUNNING) pa_operation_cancel(defaultsQuery_);
    pa_operation_unref(defaultsQuery_);
    defaultsQuery_ = nullptr;
  }

  std::shared_ptr<PulseConnection> connection_;
  Inventory inventory_;
  bool inventoryRead_ = false;
  bool subscribed_ = false;
  pa_operation* defaultsQuery_ = nullptr;
  std::string toldSink_;
  std::string toldSource_;
};

}  // namespace

IMMDeviceEnumerator* newPulseEnumerator(std::shared_ptr<PulseConnection> connection) {
  return new PulseEnumerator(std::move(connection));
}
