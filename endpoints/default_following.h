// Keeps the sources that were chosen as a default endpoint (the desktop, and
// the microphone asked for as "default") on the default of their flow for the
// whole run: a change of the default, or the loss of the device, moves the
// source to the new default, in the same slot and channel.
#pragma once

#include "platform/core_audio.h"
#include "pipeline/capture_slot.h"

// Starts listening for changes of the defaults; called once the slots are open.
void startFollowingDefaults(IMMDeviceEnumerator* enumerator);

// Runs between the drains and the write of every pass. A change heard is
// acted on once no other has come for 250 ms (a device plugged in changes
// several things in a row): a following source whose default is now another
// endpoint is reopened there, with a "switched" line. A following source
// whose stream is gone moves at once to the default there is now; when there
// is none, or it is the lost device itself, or the new device cannot be
// opened, the run ends with the "capture.stopped" fault (status 4).
void followDefaults(SlotTable& table, int slotCount);
