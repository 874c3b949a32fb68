'use strict';

const { spawn } = require('node:child_process');
const { AudiotapError, describeFault } = require('./errors');
const { parseEvent } = require('./lines');
const { binaryOf, spawnOptions } = require('./options');

// Runs audiotap with arguments to its end; resolves with its standard output
// when it exits 0, rejects with an Error carrying code and fault otherwise.
function runToEnd(options, args) {
  return new Promise((resolve, reject) => {
    const child = spawn(binaryOf(options), args, spawnOptions(options));
    const output = [];
    let errorText = '';
    let spawnError = null;
    child.stdout.on('data', (chunk) => output.push(chunk));
    child.stderr.setEncoding('utf8');
    child.stderr.on('data', (text) => {
      errorText += text;
    });
    child.on('error', (error) => {
      spawnError = error;
    });
    child.on('close', (code, signal) => {
      if (spawnError)
        return reject(new AudiotapError(`audiotap could not be started: ${spawnError.message}`, { cause: spawnError }));
      if (code === 0) return resolve(Buffer.concat(output).toString('utf8'));
      const line = errorText
        .split(/\r?\n/)
        .map(parseEvent)
        .find((event) => event && event.event === 'fault');
      const fault = line ? { reason: line.reason, detail: line.detail, slot: line.slot ?? null } : null;
      const why = fault ? describeFault(fault) : errorText.trim() || `signal ${signal}`;
      reject(new AudiotapError(`audiotap ${args.join(' ')} ended with status ${code}: ${why}`, { code, signal, fault }));
    });
  });
}

// Every capture and playback endpoint: {FriendlyName, InstanceId, Status, IsDefault, Flow}.
async function listEndpoints(options = {}) {
  return JSON.parse(await runToEnd(options, ['--list']));
}

// The binary's version, "0.1.0" from "audiotap 0.1.0".
async function version(options = {}) {
  return (await runToEnd(options, ['--version'])).trim().replace(/^audiotap /, '');
}

module.exports = { listEndpoints, version };
