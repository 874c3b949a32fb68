// Turns a slot's captured packets into 16 kHz mono 16-bit samples in its ring.
#pragma once

#include <cstdint>

#include "pipeline/capture_slot.h"

// Takes every packet the slot's stream has ready. A packet that cannot be
// fetched, or a stream whose device or audio service is gone, ends the
// process with the "capture.stopped" fault (status 4); a source that follows
// the default is only marked lost (lostStatus) when its stream is gone.
void drainSlot(CaptureSlot& slot);

// Mono value of one frame: the plain mean of its channels; 0 for a silent
// packet, a missing frame or a format without channels (nothing is read then).
float decodeFrame(const CaptureSlot& slot, const BYTE* frame, DWORD flags);

// One channel's sample in the slot's format, as a float in about -1..1.
// Reads at most the sample's own container: a float in a container narrower
// than 4 bytes, and integer widths other than 16, 24 and 32, are silence.
float decodeSample(const CaptureSlot& slot, const BYTE* bytes);

// Feeds one input frame's mono value to the linear-interpolation resampler,
// which pushes zero or more 16 kHz samples into the ring. A step that is not
// positive pushes nothing and leaves the phase alone.
void resampleFrame(CaptureSlot& slot, float x);
