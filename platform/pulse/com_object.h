// COM object support for the Linux platform: the shared reference counting,
// and statuses Windows uses that the portable header does not declare.
#pragma once

#include "platform/portable/com_object.h"

inline constexpr HRESULT kTimeoutStatus = static_cast<HRESULT>(0x800705B4u);       // ERROR_TIMEOUT
inline constexpr HRESULT kInvalidSizeStatus = AUDCLNT_E_INVALID_SIZE;
