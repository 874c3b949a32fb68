// Endpoint texts as UTF-8, read into caller-owned fixed buffers. Any failure
// gives the empty text: a missing name or identifier never stops a listing or
// a search.
#pragma once

#include "platform/core_audio.h"

inline constexpr int kEndpointIdSize = 512;
inline constexpr int kFriendlyNameSize = 256;

// The endpoint identifier (GetId), at most capacity bytes with the NUL.
void readEndpointId(IMMDevice* device, char* buffer, int capacity);

// PKEY_Device_FriendlyName, when it is a non-null VT_LPWSTR that fits.
void readFriendlyName(IMMDevice* device, char* buffer, int capacity);
