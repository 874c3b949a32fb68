// Server strings (UTF-8) as the UTF-16 texts COM hands out.
#pragma once

#include <string>

#include "endpoints/core_audio.h"

// A NUL-terminated UTF-16 copy in CoTaskMemAlloc memory, for the caller to
// CoTaskMemFree; null when out of memory. Malformed UTF-8 becomes U+FFFD.
LPWSTR toCoTaskWideText(const std::string& utf8);
