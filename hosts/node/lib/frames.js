'use strict';

// Standard output carries whole frames of 16-bit samples, one per channel, but
// a pipe hands them over in chunks cut anywhere: keep the cut-off bytes for
// the next chunk, and drop them when a run ends so the next run starts on a
// frame boundary.
class FrameAligner {
  constructor(frameBytes) {
    this.frameBytes = frameBytes;
    this.rest = Buffer.alloc(0);
  }

  // Whole frames of rest + chunk, or null when there is none yet.
  push(chunk) {
    const joined = this.rest.length === 0 ? chunk : Buffer.concat([this.rest, chunk]);
    const wholeBytes = joined.length - (joined.length % this.frameBytes);
    this.rest = Buffer.from(joined.subarray(wholeBytes));
    return wholeBytes === 0 ? null : joined.subarray(0, wholeBytes);
  }

  reset() {
    const dropped = this.rest.length;
    this.rest = Buffer.alloc(0);
    return dropped;
  }
}

// One Buffer of mono 16-bit samples per channel of an interleaved block.
function splitChannels(block, channelCount) {
  const frames = block.length / (2 * channelCount);
  const channels = [];
  for (let c = 0; c < channelCount; c++) {
    const out = Buffer.allocUnsafe(frames * 2);
    for (let f = 0, from = 2 * c; f < frames; f++, from += 2 * channelCount) {
      out[2 * f] = block[from];
      out[2 * f + 1] = block[from + 1];
    }
    channels.push(out);
  }
  return channels;
}

module.exports = { FrameAligner, splitChannels };
