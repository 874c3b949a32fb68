// Reference counting and QueryInterface for the platform's COM objects, as
// Windows does it: AddRef/Release are thread-safe and the last Release
// deletes the object.
#pragma once

#include <atomic>

#include "endpoints/core_audio.h"

template <class Derived, class Interface>
class ComObject : public Interface {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (iid == IID_IUnknown || iid == Derived::kInterfaceId) {
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
    if (left == 0) delete static_cast<Derived*>(this);
    return left;
  }

 private:
  std::atomic<ULONG> references_{1};
};

// Interface identifiers the logic never names but QueryInterface answers to.
inline constexpr IID kIidMMDevice = {0xD666063F, 0x1587, 0x4E43, {0x81, 0xF1, 0xB9, 0x48, 0xE8, 0x07, 0x36, 0x3F}};
inline constexpr IID kIidMMDeviceCollection = {
    0x0BD7A1BE, 0x7A1A, 0x44DB, {0x83, 0x97, 0xCC, 0x53, 0x92, 0x38, 0x7B, 0x5E}};
inline constexpr IID kIidPropertyStore = {
    0x886D8EEB, 0x8CF2, 0x4446, {0x8D, 0x02, 0xCD, 0xBA, 0x1D, 0xBD, 0xCF, 0x99}};

// Statuses Windows uses that the portable header does not need to declare.
inline constexpr HRESULT kTimeoutStatus = static_cast<HRESULT>(0x800705B4u);       // ERROR_TIMEOUT
inline constexpr HRESULT kInvalidSizeStatus = static_cast<HRESULT>(0x88890011u);   // AUDCLNT_E_INVALID_SIZE
