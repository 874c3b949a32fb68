'use strict';

const { resolveBinary } = require('./binary');

const exitStatus = Object.freeze({ ok: 0, scenarioUnusable: 2, setupFailed: 3, captureFailed: 4 });

// The program to start; throws at once when there is none (see binary.js).
function binaryOf(options) {
  return resolveBinary(options);
}

// What every spawn of audiotap shares: no console window on Windows, no
// standard input, and the options' variables added to the host's own.
function spawnOptions(options) {
  return {
    env: { ...process.env, ...(options.env || {}) },
    stdio: ['ignore', 'pipe', 'pipe'],
    windowsHide: true,
  };
}

// Closing standard output is the one stop that reaches audiotap.exe from a
// host without a console; elsewhere SIGINT does, and costs nothing.
function defaultStopBy() {
  return process.platform === 'win32' ? 'closeOutput' : 'signal';
}

function captureOptions(options) {
  if (options.mic == null && !options.system)
    throw new TypeError('startCapture needs mic (a selector such as "default") or system: true');
  if (options.mic != null && typeof options.mic !== 'string') throw new TypeError('mic must be a string');
  const args = [];
  const slots = [];
  // The channel order of the stream is known before audiotap says so: the
  // microphone first. Data can arrive before the "started" line.
  if (options.mic != null) {
    args.push('--mic', options.mic);
    slots.push('mic');
  }
  if (options.system) {
    args.push('--system', '1');
    slots.push('desktop');
  }
  const stopBy = options.stopBy || defaultStopBy();
  if (stopBy !== 'closeOutput' && stopBy !== 'signal') throw new TypeError('stopBy must be "closeOutput" or "signal"');
  const restart = options.restart === false ? { attempts: 0, delayMs: 0 } : { attempts: 3, delayMs: 250, ...options.restart };
  if (options.signal != null && typeof options.signal.aborted !== 'boolean')
    throw new TypeError('signal must be an AbortSignal');
  return {
    binary: binaryOf(options),
    spawn: spawnOptions(options),
    args,
    slots: Object.freeze(slots),
    stopBy,
    stopTimeoutMs: options.stopTimeoutMs ?? 3000,
    restart,
    quiet: options.quiet === true,
    signal: options.signal ?? null,
  };
}

module.exports = { exitStatus, binaryOf, spawnOptions, captureOptions };
