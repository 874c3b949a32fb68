// The simulated MMDevice API: enumerator, collections and devices, answering
// as Windows does for the scenario's endpoints.
#include "platform/sim/device_objects.h"

#include <algorithm>
#include <vector>

#include "platform/portable/com_object.h"
#include "platform/portable/seam_objects.h"
#include "platform/portable/property_store.h"
#include "platform/portable/text_conversion.h"
#include "platform/sim/audio_client.h"
#include "platform/sim/console_and_clock.h"

namespace sim {
namespace {

class Device final : public ComObject<IMMDevice, IID_IMMDevice, Device> {
 public:
  explicit Device(const Endpoint& endpoint) : endpoint_(endpoint) {}

  HRESULT STDMETHODCALLTYPE Activate(REFIID iid, DWORD classContext, PROPVARIANT*, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (const auto failure = scriptedFailure(endpoint_.scripted, "Activate")) return *failure;
    if (!IsEqualGUID(iid, IID_IAudioClient)) return E_NOINTERFACE;
    if ((classContext & CLSCTX_ALL) == 0) return E_INVALIDARG;
    if (endpoint_.state != DEVICE_STATE_ACTIVE) return AUDCLNT_E_DEVICE_INVALIDATED;
    *object = newAudioClient(endpoint_);
    return scriptedSuccess(endpoint_.scripted, "Activate");
  }
  HRESULT STDMETHODCALLTYPE OpenPropertyStore(DWORD access, IPropertyStore** store) override {
    if (store == nullptr) return E_POINTER;
    *store = nullptr;
    if (const auto failure = scriptedFailure(endpoint_.scripted, "OpenPropertyStore")) return *failure;
    if (access != STGM_READ) return E_ACCESSDENIED;  // only an administrator may write endpoint properties
    const auto getValueFailure = scriptedFailure(endpoint_.scripted, "GetValue");
    *store =
        newPropertyStore(endpoint_.name, getValueFailure.value_or(scriptedSuccess(endpoint_.scripted, "GetValue")));
    return scriptedSuccess(endpoint_.scripted, "OpenPropertyStore");
  }
  HRESULT STDMETHODCALLTYPE GetId(LPWSTR* id) override {
    if (id == nullptr) return E_POINTER;
    *id = nullptr;
    if (const auto failure = scriptedFailure(endpoint_.scripted, "GetId")) return *failure;
    *id = toCoTaskWideText(endpoint_.id);
    if (*id == nullptr) return E_OUTOFMEMORY;
    return scriptedSuccess(endpoint_.scripted, "GetId");
  }
  HRESULT STDMETHODCALLTYPE GetState(DWORD* state) override {
    if (state == nullptr) return E_POINTER;
    if (const auto failure = scriptedFailure(endpoint_.scripted, "GetState")) return *failure;
    *state = endpoint_.state;
    return scriptedSuccess(endpoint_.scripted, "GetState");
  }

 private:
  const Endpoint& endpoint_;
};

class Collection final : public ComObject<IMMDeviceCollection, IID_IMMDeviceCollection, Collection> {
 public:
  Collection(EDataFlow flow, std::vector<const Endpoint*> members) : flow_(flow), members_(std::move(members)) {}

  HRESULT STDMETHODCALLTYPE GetCount(UINT* count) override {
    if (count == nullptr) return E_POINTER;
    if (const auto failure = flowScriptedFailure("GetCount", flow_)) return *failure;
    *count = static_cast<UINT>(members_.size());
    return flowScriptedSuccess("GetCount", flow_);
  }
  HRESULT STDMETHODCALLTYPE Item(UINT index, IMMDevice** device) override {
    if (device == nullptr) return E_POINTER;
    *device = nullptr;
    if (index >= members_.size()) return E_INVALIDARG;
    if (const auto failure = scriptedFailure(members_[index]->scripted, "Item")) return *failure;
    *device = new Device(*members_[index]);
    return scriptedSuccess(members_[index]->scripted, "Item");
  }

 private:
  EDataFlow flow_;
  std::vector<const Endpoint*> members_;
};

class Enumerator;
std::vector<Enumerator*> liveEnumerators;

class Enumerator final : public DeviceEnumeratorObject<Enumerator> {
 public:
  Enumerator() { liveEnumerators.push_back(this); }
  ~Enumerator() { liveEnumerators.erase(std::find(liveEnumerators.begin(), liveEnumerators.end(), this)); }

  HRESULT STDMETHODCALLTYPE EnumAudioEndpoints(EDataFlow flow, DWORD stateMask,
                                               IMMDeviceCollection** devices) override {
    if (const HRESULT refused = checkEnumeration(flow, stateMask, devices); FAILED(refused)) return refused;
    if (const auto failure = flowScriptedFailure("EnumAudioEndpoints", flow)) return *failure;
    std::vector<const Endpoint*> members;
    for (const Endpoint& endpoint : world().endpoints)
      if ((flow == eAll || endpoint.flow == flow) && (endpoint.state & stateMask) != 0) members.push_back(&endpoint);
    *devices = new Collection(flow, std::move(members));
    return flowScriptedSuccess("EnumAudioEndpoints", flow);
  }
  HRESULT STDMETHODCALLTYPE GetDefaultAudioEndpoint(EDataFlow flow, ERole role, IMMDevice** endpoint) override {
    if (const HRESULT refused = checkDefaultRequest(flow, role, endpoint); FAILED(refused)) return refused;
    if (const auto failure = flowScriptedFailure("GetDefaultAudioEndpoint", flow)) return *failure;
    // One default per flow serves every role here.
    const Endpoint* found = defaultEndpointAt(flow, simClockTicks());
    if (found == nullptr) return HRESULT_ERROR_NOT_FOUND;  // E_NOTFOUND: the flow has no default
    *endpoint = new Device(*found);
    return flowScriptedSuccess("GetDefaultAudioEndpoint", flow);
  }
  HRESULT STDMETHODCALLTYPE RegisterEndpointNotificationCallback(IMMNotificationClient* client) override {
    // What the client hears of is a change from what there is now.
    for (EDataFlow flow : {eRender, eCapture}) told_[flow] = defaultEndpointAt(flow, simClockTicks());
    return DeviceEnumeratorObject::RegisterEndpointNotificationCallback(client);
  }

  // Tells the registered clients of each default that changed since they were last told.
  void tellDefaultChanges() {
    if (!hasClients()) return;
    for (EDataFlow flow : {eRender, eCapture}) {
      const Endpoint* now = defaultEndpointAt(flow, simClockTicks());
      if (now == told_[flow]) continue;
      told_[flow] = now;
      if (now == nullptr) {
        notifyDefaultChanged(flow, nullptr);
        continue;
      }
      notifyDefaultChanged(flow, toUtf16(now->id).c_str());
    }
  }

 private:
  const Endpoint* told_[2] = {};
};

}  // namespace

IMMDeviceEnumerator* newEnumerator() { return new Enumerator(); }

void tellDefaultChanges() {
  for (Enumerator* enumerator : liveEnumerators) enumerator->tellDefaultChanges();
}

}  // namespace sim
