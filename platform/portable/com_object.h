// Reference counting and interface lookup for the COM objects a non-Windows
// platform hands the logic, as Windows does it: AddRef/Release are
// thread-safe and the last Release deletes the object.
#pragma once

#include <atomic>

#include "platform/portable/com_interfaces.h"

template <class Interface, const IID& interfaceId, class Self>
class ComObject : public Interface {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (IsEqualGUID(iid, interfaceId) || IsEqualGUID(iid, IID_IUnknown)) {
      AddRef();
      *object = static_cast<Interface*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }

  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }

  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete static_cast<Self*>(this);
    return left;
  }

 private:
  std::atomic<ULONG> references_{1};
};
