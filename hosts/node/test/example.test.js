'use strict';

const { test } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { execFileSync } = require('node:child_process');
const { world } = require('../test-support/sim');

test('the example writes a WAV file whose header matches its data', () => {
  const { binary, env } = world({ stopAtMs: 1000 });
  const file = path.join(fs.mkdtempSync(path.join(os.tmpdir(), 'audiotap-wav-')), 'out.wav');
  execFileSync(process.execPath, [path.join(__dirname, '../examples/record-wav.js'), file, '30'], {
    env: { ...process.env, ...env, AUDIOTAP_BINARY: binary },
    stdio: 'ignore',
  });
  const wav = fs.readFileSync(file);
  fs.rmSync(path.dirname(file), { recursive: true });
  const dataBytes = 2 * 2 * (16000 - 960);
  assert.equal(wav.length, 44 + dataBytes);
  assert.equal(wav.toString('latin1', 0, 4), 'RIFF');
  assert.equal(wav.readUInt32LE(4), 36 + dataBytes);
  assert.equal(wav.readUInt16LE(22), 2);
  assert.equal(wav.readUInt32LE(24), 16000);
  assert.equal(wav.readUInt32LE(40), dataBytes);
});
