// The COM interfaces of the MMDevice API and WASAPI that audiotap calls, as
// abstract classes with Windows' methods in Windows' order, and the GUIDs
// that name them.
#pragma once

#include "platform/portable/windows_types.h"

struct IUnknown {
  virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) = 0;
  virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
  virtual ULONG STDMETHODCALLTYPE Release() = 0;

 protected:
  ~IUnknown() = default;
};

struct IMMDevice;
struct IMMDeviceCollection;

struct IPropertyStore : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetCount(DWORD* count) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetAt(DWORD index, PROPERTYKEY* key) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetValue(REFPROPERTYKEY key, PROPVARIANT* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetValue(REFPROPERTYKEY key, REFPROPVARIANT value) = 0;
  virtual HRESULT STDMETHODCALLTYPE Commit() = 0;

 protected:
  ~IPropertyStore() = default;
};

struct IMMDevice : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Activate(REFIID iid, DWORD classContext, PROPVARIANT* activationParams,
                                             void** object) = 0;
  virtual HRESULT STDMETHODCALLTYPE OpenPropertyStore(DWORD access, IPropertyStore** store) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetId(LPWSTR* id) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetState(DWORD* state) = 0;

 protected:
  ~IMMDevice() = default;
};

struct IMMDeviceCollection : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetCount(UINT* count) = 0;
  virtual HRESULT STDMETHODCALLTYPE Item(UINT index, IMMDevice** device) = 0;

 protected:
  ~IMMDeviceCollection() = default;
};

// What an enumerator tells a registered client about its endpoints. It may
// call from any thread; the client only notes what happened.
struct IMMNotificationClient : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE OnDeviceStateChanged(LPCWSTR deviceId, DWORD newState) = 0;
  virtual HRESULT STDMETHODCALLTYPE OnDeviceAdded(LPCWSTR deviceId) = 0;
  virtual HRESULT STDMETHODCALLTYPE OnDeviceRemoved(LPCWSTR deviceId) = 0;
  virtual HRESULT STDMETHODCALLTYPE OnDefaultDeviceChanged(EDataFlow flow, ERole role, LPCWSTR defaultDeviceId) = 0;
  virtual HRESULT STDMETHODCALLTYPE OnPropertyValueChanged(LPCWSTR deviceId, const PROPERTYKEY key) = 0;

 protected:
  ~IMMNotificationClient() = default;
};

struct IMMDeviceEnumerator : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE EnumAudioEndpoints(EDataFlow flow, DWORD stateMask,
                                                       IMMDeviceCollection** devices) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetDefaultAudioEndpoint(EDataFlow flow, ERole role, IMMDevice** endpoint) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetDevice(LPCWSTR id, IMMDevice** device) = 0;
  virtual HRESULT STDMETHODCALLTYPE RegisterEndpointNotificationCallback(IMMNotificationClient* client) = 0;
  virtual HRESULT STDMETHODCALLTYPE UnregisterEndpointNotificationCallback(IMMNotificationClient* client) = 0;

 protected:
  ~IMMDeviceEnumerator() = default;
};

struct IAudioClient : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Initialize(AUDCLNT_SHAREMODE shareMode, DWORD streamFlags,
                                               REFERENCE_TIME bufferDuration, REFERENCE_TIME periodicity,
                                               const WAVEFORMATEX* format, LPCGUID audioSessionGuid) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetBufferSize(UINT32* frames) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetStreamLatency(REFERENCE_TIME* latency) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetCurrentPadding(UINT32* frames) = 0;
  virtual HRESULT STDMETHODCALLTYPE IsFormatSupported(AUDCLNT_SHAREMODE shareMode, const WAVEFORMATEX* format,
                                                      WAVEFORMATEX** closestMatch) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetMixFormat(WAVEFORMATEX** format) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetDevicePeriod(REFERENCE_TIME* defaultPeriod, REFERENCE_TIME* minimumPeriod) = 0;
  virtual HRESULT STDMETHODCALLTYPE Start() = 0;
  virtual HRESULT STDMETHODCALLTYPE Stop() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
  virtual HRESULT STDMETHODCALLTYPE SetEventHandle(HANDLE eventHandle) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetService(REFIID iid, void** service) = 0;

 protected:
  ~IAudioClient() = default;
};

struct IAudioCaptureClient : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetBuffer(BYTE** data, UINT32* frames, DWORD* flags, UINT64* devicePosition,
                                              UINT64* counterPosition) = 0;
  virtual HRESULT STDMETHODCALLTYPE ReleaseBuffer(UINT32 frames) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetNextPacketSize(UINT32* frames) = 0;

 protected:
  ~IAudioCaptureClient() = default;
};

inline constexpr CLSID CLSID_MMDeviceEnumerator = {
    0xBCDE0395, 0xE52F, 0x467C, {0x8E, 0x3D, 0xC4, 0x57, 0x92, 0x91, 0x69, 0x2E}};
inline constexpr IID IID_IMMDeviceEnumerator = {
    0xA95664D2, 0x9614, 0x4F35, {0xA7, 0x46, 0xDE, 0x8D, 0xB6, 0x36, 0x17, 0xE6}};
inline constexpr IID IID_IAudioClient = {0x1CB9AD4C, 0xDBFA, 0x4C32, {0xB1, 0x78, 0xC2, 0xF5, 0x68, 0xA7, 0x03, 0xB2}};
inline constexpr IID IID_IAudioCaptureClient = {
    0xC8ADBD64, 0xE71E, 0x48A0, {0xA4, 0xDE, 0x18, 0x5C, 0x39, 0x5C, 0xD3, 0x17}};
inline constexpr IID IID_IMMDevice = {0xD666063F, 0x1587, 0x4E43, {0x81, 0xF1, 0xB9, 0x48, 0xE8, 0x07, 0x36, 0x3F}};
inline constexpr IID IID_IMMDeviceCollection = {
    0x0BD7A1BE, 0x7A1A, 0x44DB, {0x83, 0x97, 0xCC, 0x53, 0x92, 0x38, 0x7B, 0x5E}};
inline constexpr IID IID_IMMNotificationClient = {
    0x7991EEC9, 0x7E89, 0x4D85, {0x83, 0x90, 0x6C, 0x70, 0x3C, 0xEC, 0x60, 0xC0}};
inline constexpr IID IID_IPropertyStore = {
    0x886D8EEB, 0x8CF2, 0x4446, {0x8D, 0x02, 0xCD, 0xBA, 0x1D, 0xBD, 0xCF, 0x99}};
inline constexpr IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr GUID KSDATAFORMAT_SUBTYPE_PCM = {
    0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
inline constexpr GUID KSDATAFORMAT_SUBTYPE_IEEE_FLOAT = {
    0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
inline constexpr PROPERTYKEY PKEY_Device_FriendlyName = {
    {0xA45C254E, 0xDF1C, 0x4EFD, {0x80, 0x20, 0x67, 0xD1, 0x46, 0xA8, 0x50, 0xE0}}, 14};
