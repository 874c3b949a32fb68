// UTF-8 texts of the sound server or the scenario as the UTF-16 texts COM
// hands out. The way back, WideCharToMultiByte, is declared with the other
// Windows functions.
#pragma once

#include <string>
#include <string_view>

#include "platform/portable/windows_types.h"

// Each maximal ill-formed subsequence (a byte that starts no sequence, a
// sequence cut short, an overlong form, a surrogate, a value past U+10FFFF)
// becomes one U+FFFD, as the Unicode standard recommends; a well-formed text
// comes out exactly.
std::u16string toUtf16(std::string_view utf8);

// The same as a NUL-terminated copy in CoTaskMemAlloc memory, for the caller
// to CoTaskMemFree; null when out of memory.
LPWSTR toCoTaskWideText(std::string_view utf8);
