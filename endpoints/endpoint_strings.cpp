#include "endpoints/endpoint_strings.h"

namespace {
// A text that does not fit is dropped whole rather than kept cut.
void convertToUtf8(LPCWSTR wideText, char* buffer, int capacity) {
  if (wideText == nullptr) return;
  if (WideCharToMultiByte(CP_UTF8, 0, wideText, -1, buffer, capacity, nullptr, nullptr) == 0) buffer[0] = '\0';
}
}  // namespace

void readEndpointId(IMMDevice* device, char* buffer, int capacity) {
  buffer[0] = '\0';
  LPWSTR id = nullptr;
  if (FAILED(device->GetId(&id))) return;
  convertToUtf8(id, buffer, capacity);
  CoTaskMemFree(id);
}

void readFriendlyName(IMMDevice* device, char* buffer, int capacity) {
  buffer[0] = '\0';
  PROPVARIANT value;
  PropVariantInit(&value);
  IPropertyStore* store = nullptr;
  if (FAILED(device->OpenPropertyStore(STGM_READ, &store))) return;
  if (SUCCEEDED(store->GetValue(PKEY_Device_FriendlyName, &value)) && value.vt == VT_LPWSTR)
    convertToUtf8(value.pwszVal, buffer, capacity);
  PropVariantClear(&value);
  store->Release();
}
