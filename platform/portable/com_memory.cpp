// COM task memory and property variants, shared by every non-Windows platform
// so that what one side allocates the other can free.
#include <cstdlib>

#include "platform/portable/platform_functions.h"

void* CoTaskMemAlloc(std::size_t bytes) { return std::malloc(bytes); }

void CoTaskMemFree(void* memory) { std::free(memory); }

HRESULT PropVariantClear(PROPVARIANT* value) {
  if (value == nullptr) return E_POINTER;
  if (value->vt == VT_LPWSTR) CoTaskMemFree(value->pwszVal);
  PropVariantInit(value);
  return S_OK;
}

int _fileno(std::FILE* stream) { return fileno(stream); }
