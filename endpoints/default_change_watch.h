// Hears from the enumerator that the default endpoint of a flow has changed.
// Windows calls the listener on a thread of its own, at any moment: it only
// counts the change, and the capture loop looks at the counts between passes.
#pragma once

#include <cstdint>

#include "platform/core_audio.h"

// Registers the one listener with the enumerator; false when the enumerator
// cannot tell (the counts then never move).
bool watchDefaultChanges(IMMDeviceEnumerator* enumerator);

// How many changes of the flow's default for the console role have been
// heard so far.
std::uint32_t defaultChangesHeard(EDataFlow flow);
