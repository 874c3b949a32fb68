// Windows only: defines the GUIDs and property keys that the system headers
// merely declare, so the executable links without further libraries.
#include <initguid.h>

#include "platform/core_audio.h"
