// The simulated MMDevice API: enumerator, collections, devices and their
// property stores, answering as Windows does for the scenario's endpoints.
#include <cstring>
#include <string>
#include <vector>

#include "platform/portable/com_object.h"
#include "platform/sim/sim_objects.h"

namespace sim {
namespace {

constexpr HRESULT kNotFound = HRESULT_ERROR_NOT_FOUND;  // E_NOTFOUND: the flow has no default
constexpr DWORD kAllStates =
    DEVICE_STATE_ACTIVE | DEVICE_STATE_DISABLED | DEVICE_STATE_NOTPRESENT | DEVICE_STATE_UNPLUGGED;
}  // namespace

std::u16string toUtf16(const std::string& text) {
  std::u16string wide;
  for (std::size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    int extra = byte < 0x80             ? 0
                : (byte & 0xE0) == 0xC0 ? 1
                : (byte & 0xF0) == 0xE0 ? 2
                : (byte & 0xF8) == 0xF0 ? 3
                                        : -1;
    char32_t codePoint = extra == 0 ? byte : extra == 1 ? (byte & 0x1F) : extra == 2 ? (byte & 0x0F) : (byte & 0x07);
    bool valid = extra >= 0;
    for (int k = 1; valid && k <= extra; ++k) {
      if (i + k >= text.size() || (static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) {
        valid = false;
      } else {
        codePoint = (codePoint << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
      }
    }
    // Overlong forms, surrogates and values beyond U+10FFFF would come out
    // as unpaired or wrong surrogates.
    constexpr char32_t kShortest[] = {0, 0x80, 0x800, 0x10000};
    if (valid && (codePoint < kShortest[extra] || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)))
      valid = false;
    if (!valid) {
      wide.push_back(0xFFFD);
      ++i;
      continue;
    }
    i += static_cast<std::size_t>(extra) + 1;
    if (codePoint >= 0x10000) {
      codePoint -= 0x10000;
      wide.push_back(static_cast<char16_t>(0xD800 + (codePoint >> 10)));
      wide.push_back(static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF)));
    } else {
      wide.push_back(static_cast<char16_t>(codePoint));
    }
  }
  return wide;
}

namespace {

// A NUL-terminated copy in COM task memory, which the caller frees.
LPWSTR taskMemoryText(const std::string& text) {
  const std::u16string wide = toUtf16(text);
  auto* copy = static_cast<WCHAR*>(CoTaskMemAlloc((wide.size() + 1) * sizeof(WCHAR)));
  if (copy == nullptr) return nullptr;
  std::memcpy(copy, wide.data(), wide.size() * sizeof(WCHAR));
  copy[wide.size()] = 0;
  return copy;
}

class PropertyStore final : public ComObject<IPropertyStore, IID_IPropertyStore, PropertyStore> {
 public:
  explicit PropertyStore(const Endpoint& endpoint) : endpoint_(endpoint) {}

  HRESULT STDMETHODCALLTYPE GetCount(DWORD* count) override {
    if (count == nullptr) return E_POINTER;
    *count = endpoint_.nameKind == NameKind::missing ? 0 : 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetAt(DWORD index, PROPERTYKEY* key) override {
    if (key == nullptr) return E_POINTER;
    if (index != 0 || endpoint_.nameKind == NameKind::missing) return E_INVALIDARG;
    *key = PKEY_Device_FriendlyName;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetValue(REFPROPERTYKEY key, PROPVARIANT* value) override {
    if (value == nullptr) return E_POINTER;
    PropVariantInit(value);
    const auto scripted = failureOf(endpoint_.fail, "GetValue");
    if (scripted && FAILED(*scripted)) return *scripted;
    // A property the store does not hold reads as VT_EMPTY, with success.
    const bool isName =
        IsEqualGUID(key.fmtid, PKEY_Device_FriendlyName.fmtid) && key.pid == PKEY_Device_FriendlyName.pid;
    if (!isName) return scripted.value_or(S_OK);
    if (endpoint_.nameKind == NameKind::text) {
      value->vt = VT_LPWSTR;
      value->pwszVal = taskMemoryText(endpoint_.name);
      if (value->pwszVal == nullptr) {
        value->vt = VT_EMPTY;
        return E_OUTOFMEMORY;
      }
    } else if (endpoint_.nameKind == NameKind::number) {
      value->vt = 19;  // VT_UI4
      value->ulVal = endpoint_.nameNumber;
    }
    return scripted.value_or(S_OK);
  }
  HRESULT STDMETHODCALLTYPE SetValue(REFPROPERTYKEY, REFPROPVARIANT) override {
    return E_ACCESSDENIED;  // opened for reading
  }
  HRESULT STDMETHODCALLTYPE Commit() override { return E_ACCESSDENIED; }

 private:
  const Endpoint& endpoint_;
};

class Device final : public ComObject<IMMDevice, IID_IMMDevice, Device> {
 public:
  explicit Device(const Endpoint& endpoint) : endpoint_(endpoint) {}

  HRESULT STDMETHODCALLTYPE Activate(REFIID iid, DWORD classContext, PROPVARIANT*, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (auto status = failureOf(endpoint_.fail, "Activate"); status && FAILED(*status)) return *status;
    if (!IsEqualGUID(iid, IID_IAudioClient)) return E_NOINTERFACE;
    if ((classContext & CLSCTX_ALL) == 0) return E_INVALIDARG;
    if (endpoint_.state != DEVICE_STATE_ACTIVE) return AUDCLNT_E_DEVICE_INVALIDATED;
    *object = newAudioClient(endpoint_);
    return failureOf(endpoint_.fail, "Activate").value_or(S_OK);
  }
  HRESULT STDMETHODCALLTYPE OpenPropertyStore(DWORD access, IPropertyStore** store) override {
    if (store == nullptr) return E_POINTER;
    *store = nullptr;
    if (auto status = failureOf(endpoint_.fail, "OpenPropertyStore"); status && FAILED(*status)) return *status;
    if (access != STGM_READ) return E_ACCESSDENIED;  // only an administrator may write endpoint properties
    *store = new PropertyStore(endpoint_);
    return failureOf(endpoint_.fail, "OpenPropertyStore").value_or(S_OK);
  }
  HRESULT STDMETHODCALLTYPE GetId(LPWSTR* id) override {
    if (id == nullptr) return E_POINTER;
    *id = nullptr;
    if (auto status = failureOf(endpoint_.fail, "GetId"); status && FAILED(*status)) return *status;
    *id = taskMemoryText(endpoint_.id);
    if (*id == nullptr) return E_OUTOFMEMORY;
    return failureOf(endpoint_.fail, "GetId").value_or(S_OK);
  }
  HRESULT STDMETHODCALLTYPE GetState(DWORD* state) override {
    if (state == nullptr) return E_POINTER;
    if (auto status = failureOf(endpoint_.fail, "GetState"); status && FAILED(*status)) return *status;
    *state = endpoint_.state;
    return failureOf(endpoint_.fail, "GetState").value_or(S_OK);
  }

 private:
  const Endpoint& endpoint_;
};

class Collection final : public ComObject<IMMDeviceCollection, IID_IMMDeviceCollection, Collection> {
 public:
  Collection(EDataFlow flow, std::vector<const Endpoint*> members) : flow_(flow), members_(std::move(members)) {}

  HRESULT STDMETHODCALLTYPE GetCount(UINT* count) override {
    if (count == nullptr) return E_POINTER;
    if (auto status = flowFailureOf("GetCount", flow_); status && FAILED(*status)) return *status;
    *count = static_cast<UINT>(members_.size());
    return flowFailureOf("GetCount", flow_).value_or(S_OK);
  }
  HRESULT STDMETHODCALLTYPE Item(UINT index, IMMDevice** device) override {
    if (device == nullptr) return E_POINTER;
    *device = nullptr;
    if (index >= members_.size()) return E_INVALIDARG;
    if (auto status = failureOf(members_[index]->fail, "Item"); status && FAILED(*status)) return *status;
    *device = new Device(*members_[index]);
    return failureOf(members_[index]->fail, "Item").value_or(S_OK);
  }

 private:
  EDataFlow flow_;
  std::vector<const Endpoint*> members_;
};

class Enumerator final : public ComObject<IMMDeviceEnumerator, IID_IMMDeviceEnumerator, Enumerator> {
 public:
  HRESULT STDMETHODCALLTYPE EnumAudioEndpoints(EDataFlow flow, DWORD stateMask,
                                               IMMDeviceCollection** devices) override {
    if (devices == nullptr) return E_POINTER;
    *devices = nullptr;
    if (flow < eRender || flow > eAll || stateMask == 0 || (stateMask & ~kAllStates) != 0) return E_INVALIDARG;
    if (auto status = flowFailureOf("EnumAudioEndpoints", flow); status && FAILED(*status)) return *status;
    std::vector<const Endpoint*> members;
    for (const Endpoint& endpoint : world().endpoints)
      if ((flow == eAll || endpoint.flow == flow) && (endpoint.state & stateMask) != 0) members.push_back(&endpoint);
    *devices = new Collection(flow, std::move(members));
    return flowFailureOf("EnumAudioEndpoints", flow).value_or(S_OK);
  }
  HRESULT STDMETHODCALLTYPE GetDefaultAudioEndpoint(EDataFlow flow, ERole role, IMMDevice** endpoint) override {
    if (endpoint == nullptr) return E_POINTER;
    *endpoint = nullptr;
    if (flow != eRender && flow != eCapture) return E_INVALIDARG;
    if (role < eConsole || role > eCommunications) return E_INVALIDARG;
    if (auto status = flowFailureOf("GetDefaultAudioEndpoint", flow); status && FAILED(*status)) return *status;
    // One default per flow serves every role here.
    for (const Endpoint& candidate : world().endpoints) {
      if (candidate.flow == flow && candidate.isDefault && candidate.state == DEVICE_STATE_ACTIVE) {
        *endpoint = new Device(candidate);
        return flowFailureOf("GetDefaultAudioEndpoint", flow).value_or(S_OK);
      }
    }
    return kNotFound;
  }
  HRESULT STDMETHODCALLTYPE GetDevice(LPCWSTR id, IMMDevice** device) override {
    if (id == nullptr || device == nullptr) return E_POINTER;
    *device = nullptr;
    for (const Endpoint& candidate : world().endpoints) {
      if (toUtf16(candidate.id) == std::u16string(id)) {
        *device = new Device(candidate);
        return S_OK;
      }
    }
    return kNotFound;
  }
  HRESULT STDMETHODCALLTYPE RegisterEndpointNotificationCallback(IMMNotificationClient* client) override {
    return client == nullptr ? E_POINTER : S_OK;  // nothing ever changes in a scenario
  }
  HRESULT STDMETHODCALLTYPE UnregisterEndpointNotificationCallback(IMMNotificationClient* client) override {
    return client == nullptr ? E_POINTER : S_OK;
  }
};

}  // namespace

IMMDeviceEnumerator* newEnumerator() { return new Enumerator(); }

}  // namespace sim
