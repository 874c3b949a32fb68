// What the audio client and the device enumerator of both non-Windows
// platforms have in common: the calls the program never makes answer
// E_NOTIMPL, and the argument rules Windows applies are written once.
#pragma once

#include "platform/portable/com_object.h"

// The program polls, in shared mode, in the mix format: it never asks for
// latencies, periods, padding, other formats, a reset or an event.
template <class Self>
class AudioClientObject : public ComObject<IAudioClient, IID_IAudioClient, Self> {
 public:
  HRESULT STDMETHODCALLTYPE GetStreamLatency(REFERENCE_TIME*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetCurrentPadding(UINT32*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE IsFormatSupported(AUDCLNT_SHAREMODE, const WAVEFORMATEX*, WAVEFORMATEX**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetDevicePeriod(REFERENCE_TIME*, REFERENCE_TIME*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reset() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetEventHandle(HANDLE) override { return E_NOTIMPL; }
};

template <class Self>
class CaptureClientObject : public ComObject<IAudioCaptureClient, IID_IAudioCaptureClient, Self> {
 protected:
  // GetBuffer's outputs cleared, as WASAPI leaves them on every answer but a
  // packet; E_POINTER when one of them is missing.
  static HRESULT clearBufferOutputs(BYTE** data, UINT32* frames, DWORD* flags) {
    if (data == nullptr || frames == nullptr || flags == nullptr) return E_POINTER;
    *data = nullptr;
    *frames = 0;
    *flags = 0;
    return S_OK;
  }
};

// The program finds its endpoints by enumerating them, and listens for a
// change of the default endpoints through registered clients: the platform
// calls notifyDefaultChanged when it sees one.
template <class Self>
class DeviceEnumeratorObject : public ComObject<IMMDeviceEnumerator, IID_IMMDeviceEnumerator, Self> {
 public:
  HRESULT STDMETHODCALLTYPE GetDevice(LPCWSTR, IMMDevice**) override { return E_NOTIMPL; }
  // As on Windows, the enumerator holds no reference: a client stays alive
  // until it is unregistered.
  HRESULT STDMETHODCALLTYPE RegisterEndpointNotificationCallback(IMMNotificationClient* client) override {
    if (client == nullptr) return E_POINTER;
    for (IMMNotificationClient*& entry : clients_) {
      if (entry == nullptr) {
        entry = client;
        return S_OK;
      }
    }
    return E_OUTOFMEMORY;
  }
  HRESULT STDMETHODCALLTYPE UnregisterEndpointNotificationCallback(IMMNotificationClient* client) override {
    if (client == nullptr) return E_POINTER;
    for (IMMNotificationClient*& entry : clients_) {
      if (entry == client) {
        entry = nullptr;
        return S_OK;
      }
    }
    return HRESULT_ERROR_NOT_FOUND;
  }

 protected:
  bool hasClients() const {
    for (IMMNotificationClient* entry : clients_)
      if (entry != nullptr) return true;
    return false;
  }
  // Windows tells every role of the flow; id is null when the flow has no
  // default left.
  void notifyDefaultChanged(EDataFlow flow, LPCWSTR id) {
    for (ERole role : {eConsole, eMultimedia, eCommunications})
      for (IMMNotificationClient* entry : clients_)
        if (entry != nullptr) entry->OnDefaultDeviceChanged(flow, role, id);
  }

  // Clears *devices; E_POINTER or E_INVALIDARG unless there is somewhere to
  // put the collection, a flow (or eAll) and a non-empty mask of known states.
  static HRESULT checkEnumeration(EDataFlow flow, DWORD stateMask, IMMDeviceCollection** devices) {
    if (devices == nullptr) return E_POINTER;
    *devices = nullptr;
    const bool valid = flow >= eRender && flow <= eAll && stateMask != 0 && (stateMask & ~DEVICE_STATEMASK_ALL) == 0;
    return valid ? S_OK : E_INVALIDARG;
  }
  // The same for a default endpoint: one flow and a known role.
  static HRESULT checkDefaultRequest(EDataFlow flow, ERole role, IMMDevice** endpoint) {
    if (endpoint == nullptr) return E_POINTER;
    *endpoint = nullptr;
    const bool valid = (flow == eRender || flow == eCapture) && role >= eConsole && role <= eCommunications;
    return valid ? S_OK : E_INVALIDARG;
  }

 private:
  IMMNotificationClient* clients_[4] = {};
};
