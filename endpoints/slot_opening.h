// Turns a chosen endpoint into a live shared-mode capture stream, and starts
// the opened streams together.
#pragma once

#include "platform/core_audio.h"
#include "pipeline/capture_slot.h"

// The first call that failed while a slot was opened: its name, its status
// and the fault reason it stands for.
struct OpenFailure {
  const char* callName;
  HRESULT status;
  const char* reason;
};

// Activates the slot's device, adopts its mix format unchanged, initialises a
// polled 200 ms shared-mode stream (loopback for the desktop source) and gets
// its capture client. Any failure ends the process with a fault (status 3).
void openSlot(CaptureSlot& slot, bool loopback);

// Moves a running slot to another device: stops and releases its stream,
// takes device (and its reference), opens it as openSlot does, with the
// converter set up afresh for its format, and starts it. The samples already
// in the ring stay. False, with the failing call in failure, when the new
// device cannot be opened or started.
bool reopenSlot(CaptureSlot& slot, IMMDevice* device, OpenFailure& failure);

// Starts entries 0 to slotCount - 1 in table order; a failure ends the
// process with a fault (status 3), leaving earlier streams running.
void startSlots(SlotTable& table, int slotCount);
