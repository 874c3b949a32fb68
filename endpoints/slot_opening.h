// Turns a chosen endpoint into a live shared-mode capture stream, and starts
// the opened streams together.
#pragma once

#include "platform/core_audio.h"
#include "pipeline/capture_slot.h"

// Activates the slot's device, adopts its mix format unchanged, initialises a
// polled 200 ms shared-mode stream (loopback for the desktop source) and gets
// its capture client. Any failure ends the process with a fault (status 3).
void openSlot(CaptureSlot& slot, bool loopback);

// Starts entries 0 to slotCount - 1 in table order; a failure ends the
// process with a fault (status 3), leaving earlier streams running.
void startSlots(SlotTable& table, int slotCount);
