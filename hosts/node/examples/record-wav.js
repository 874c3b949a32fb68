'use strict';

// Records the default microphone and the desktop into a WAV file until the
// time is up or Ctrl+C:  node examples/record-wav.js out.wav [seconds]
// The program is the one the platform package brought (or AUDIOTAP_BINARY).
const fs = require('node:fs');
const { startCapture } = require('..');

const [file = 'capture.wav', seconds = '5'] = process.argv.slice(2);

// A 44-byte RIFF header for 16 kHz signed 16-bit PCM; sizes filled in at the end.
function wavHeader(channels, dataBytes) {
  const header = Buffer.alloc(44);
  header.write('RIFF', 0);
  header.writeUInt32LE(36 + dataBytes, 4);
  header.write('WAVEfmt ', 8);
  header.writeUInt32LE(16, 16);
  header.writeUInt16LE(1, 20); // PCM
  header.writeUInt16LE(channels, 22);
  header.writeUInt32LE(16000, 24);
  header.writeUInt32LE(16000 * 2 * channels, 28);
  header.writeUInt16LE(2 * channels, 32);
  header.writeUInt16LE(16, 34);
  header.write('data', 36);
  header.writeUInt32LE(dataBytes, 40);
  return header;
}

const capture = startCapture({ mic: 'default', system: true });
const out = fs.openSync(file, 'w');
fs.writeSync(out, wavHeader(capture.slots.length, 0));
let dataBytes = 0;
capture.pcm.on('data', (block) => {
  fs.writeSync(out, block);
  dataBytes += block.length;
});
capture.on('started', (info) => console.error(`recording ${info.slots.join(' + ')}: ${info.mic} ${info.system}`));
capture.on('fault', (fault) => console.error(`fault ${fault.reason} ${fault.detail}${fault.willRestart ? ', restarting' : ''}`));
// A failed capture (a set-up fault, a lost source not recovered) is reported
// here; without a listener it would end this script with the error.
capture.on('error', (error) => console.error(error.message));
capture.on('exit', (exit) => {
  clearTimeout(timer);
  fs.writeSync(out, wavHeader(capture.slots.length, dataBytes), 0, 44, 0);
  fs.closeSync(out);
  console.error(`${file}: ${(dataBytes / (2 * capture.slots.length * 16000)).toFixed(2)} s, exit ${exit.code}`);
  process.exitCode = exit.code === 0 ? 0 : 1;
});

const timer = setTimeout(() => capture.stop(), Number(seconds) * 1000);
process.once('SIGINT', () => {
  clearTimeout(timer);
  capture.stop();
});
