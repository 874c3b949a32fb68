// An endpoint's property store as both non-Windows platforms hand it out:
// read-only, holding at most the friendly name.
#pragma once

#include <string>

#include "platform/portable/com_interfaces.h"

enum class FriendlyNameKind { missing, text, number };

struct FriendlyName {
  FriendlyNameKind kind = FriendlyNameKind::missing;
  std::string text;          // FriendlyNameKind::text, UTF-8
  std::uint32_t number = 0;  // FriendlyNameKind::number: a property of another type than text
};

// A store with one reference. GetValue answers getValueStatus instead of its
// work when that is a failure, and after it when that is a success.
IPropertyStore* newPropertyStore(const FriendlyName& name, HRESULT getValueStatus = S_OK);
