'use strict';

const { Capture, startCapture } = require('./lib/capture');
const { listEndpoints, version } = require('./lib/listing');
const { splitChannels } = require('./lib/frames');
const { exitStatus } = require('./lib/options');

module.exports = { startCapture, listEndpoints, version, Capture, splitChannels, exitStatus };
