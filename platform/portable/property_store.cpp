#include "platform/portable/property_store.h"

#include "platform/portable/com_object.h"
#include "platform/portable/text_conversion.h"

namespace {

constexpr VARTYPE kUnsignedLong = 19;  // VT_UI4

class PropertyStore final : public ComObject<IPropertyStore, IID_IPropertyStore, PropertyStore> {
 public:
  PropertyStore(const FriendlyName& name, HRESULT getValueStatus) : name_(name), getValueStatus_(getValueStatus) {}

  // The program only ever reads the friendly name.
  HRESULT STDMETHODCALLTYPE GetCount(DWORD*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetAt(DWORD, PROPERTYKEY*) override { return E_NOTIMPL; }

  HRESULT STDMETHODCALLTYPE GetValue(REFPROPERTYKEY key, PROPVARIANT* value) override {
    if (value == nullptr) return E_POINTER;
    PropVariantInit(value);
    if (FAILED(getValueStatus_)) return getValueStatus_;
    // As on Windows, a key the store does not hold reads as VT_EMPTY, with success.
    if (!(key.fmtid == PKEY_Device_FriendlyName.fmtid && key.pid == PKEY_Device_FriendlyName.pid))
      return getValueStatus_;
    if (name_.kind == FriendlyNameKind::text) {
      value->pwszVal = toCoTaskWideText(name_.text);
      if (value->pwszVal == nullptr) return E_OUTOFMEMORY;
      value->vt = VT_LPWSTR;
    } else if (name_.kind == FriendlyNameKind::number) {
      value->vt = kUnsignedLong;
      value->ulVal = name_.number;
    }
    return getValueStatus_;
  }

  HRESULT STDMETHODCALLTYPE SetValue(REFPROPERTYKEY, REFPROPVARIANT) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Commit() override { return E_NOTIMPL; }

 private:
  FriendlyName name_;
  HRESULT getValueStatus_;
};

}  // namespace

IPropertyStore* newPropertyStore(const FriendlyName& name, HRESULT getValueStatus) {
  return new PropertyStore(name, getValueStatus);
}
