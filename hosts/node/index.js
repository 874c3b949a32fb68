'use strict';

const { Capture, startCapture } = require('./lib/capture');
const { listEndpoints, version } = require('./lib/listing');
const { splitChannels } = require('./lib/frames');
const { exitStatus } = require('./lib/options');
const { AudiotapError } = require('./lib/errors');
const { resolveBinary } = require('./lib/binary');

// The program a capture would start with these options (see startCapture).
function binaryPath(options = {}) {
  return resolveBinary(options);
}

module.exports = { startCapture, listEndpoints, version, Capture, splitChannels, exitStatus, AudiotapError, binaryPath };
