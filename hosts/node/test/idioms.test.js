'use strict';

// for await over a capture, an AbortSignal, and the 'switched' event.
const { test } = require('node:test');
const assert = require('node:assert/strict');
const { startCapture, exitStatus, AudiotapError } = require('..');
const { world, once, switchingBinary } = require('../test-support/sim');

function recordEvents(capture) {
  const events = [];
  for (const name of ['started', 'fault', 'stopped', 'exit']) capture.on(name, () => events.push(name));
  return events;
}

test('for await over a capture, and an aborted signal: in order, "stopped", status 0, whole frames', async () => {
  const controller = new AbortController();
  const capture = startCapture({ mic: 'default', system: true, signal: controller.signal, ...world({ clock: 'real' }) });
  const events = recordEvents(capture);
  capture.once('started', () => setTimeout(() => controller.abort(), 500));
  let bytes = 0;
  for await (const frames of capture) {
    assert.equal(frames.length % 4, 0);
    bytes += frames.length;
  }
  const exit = await capture.exited;
  assert.deepEqual(events, ['started', 'stopped', 'exit']);
  assert.equal(exit.code, exitStatus.ok);
  assert.equal(exit.stopped, true);
  assert.ok(bytes >= 4 * 16000 * 0.3, `${bytes} bytes`);
});

test('a signal aborted before the start stops the capture in order', async () => {
  const capture = startCapture({ mic: 'default', signal: AbortSignal.abort(), ...world({ clock: 'real' }) });
  const exit = await capture.exited;
  assert.equal(exit.code, exitStatus.ok, JSON.stringify(exit));
  assert.equal(exit.stopped, true);
});

test('leaving a for await loop early stops the capture in order', async () => {
  const capture = startCapture({ mic: 'default', ...world({ clock: 'real' }) });
  const events = recordEvents(capture);
  for await (const frames of capture) {
    assert.ok(frames.length > 0);
    break;
  }
  const exit = await capture.exited;
  assert.deepEqual(events.slice(-2), ['stopped', 'exit']);
  assert.equal(exit.code, exitStatus.ok);
});

test('for await throws a set-up fault after the loop, and quiet ends it without', async () => {
  const failing = world({ micExtra: { fail: { Activate: '0x80070005' } } });
  // No 'error' listener: the loop is where the failure reaches the host.
  const capture = startCapture({ mic: 'default', ...failing });
  await assert.rejects(async () => {
    for await (const frames of capture) assert.fail(`no data expected, got ${frames.length} bytes`);
  }, (error) => error instanceof AudiotapError && error.fault.reason === 'capture.permissionDenied');

  const quiet = startCapture({ mic: 'default', quiet: true, ...failing });
  for await (const frames of quiet) assert.fail(`no data expected, got ${frames.length} bytes`);
  assert.equal((await quiet.exited).code, exitStatus.setupFailed);
});

test('"switched" lines become switched events with the slot, the new name and its rate', async () => {
  const capture = startCapture({ mic: 'default', system: true, binary: switchingBinary() });
  const switched = [];
  capture.on('switched', (event) => switched.push(event));
  let bytes = 0;
  for await (const frames of capture) bytes += frames.length;
  assert.deepEqual(switched, [
    { slot: 'desktop', name: 'Headset', deviceRate: 48000 },
    { slot: 'mic', name: 'Micrófono USB', deviceRate: 16000 },
  ]);
  assert.equal(bytes, 800);
  assert.equal((await capture.exited).stopped, true);
});

test('audiotap-sim: a new default playback device gives one switched event, and the stream keeps its length', async () => {
  const endpoints = (headset) => ({ endpoints: [
    { flow: 'capture', id: 'mic-1', name: 'Desk Mic', default: true, signal: { kind: 'constant', value: 0.25 } },
    { flow: 'render', id: 'spk-1', name: 'Speakers', default: true, format: { rate: 44100 },
      signal: { kind: 'constant', value: -0.25 } },
    { flow: 'render', id: 'headset-1', name: 'Headset', format: { rate: 48000 },
      signal: { kind: 'constant', value: 0.5 }, ...headset },
  ] });
  const record = async (headset) => {
    const capture = startCapture({ mic: 'default', system: true, ...world({ stopAtMs: 2000, extra: endpoints(headset) }) });
    const switched = [];
    capture.on('switched', (event) => switched.push(event));
    const chunks = [];
    for await (const frames of capture) chunks.push(frames);
    return { switched, pcm: Buffer.concat(chunks), exit: await capture.exited };
  };
  const still = await record({});
  const moved = await record({ defaultAtMs: 1000 });
  assert.deepEqual(still.switched, []);
  assert.deepEqual(moved.switched, [{ slot: 'desktop', name: 'Headset', deviceRate: 48000 }]);
  assert.equal(moved.exit.code, exitStatus.ok);
  assert.equal(moved.pcm.length, still.pcm.length);
  // The desktop channel ends on the headset's level (0.5 of full scale), the microphone's is untouched.
  assert.equal(moved.pcm.readInt16LE(moved.pcm.length - 2), 16384);
  assert.equal(moved.pcm.readInt16LE(moved.pcm.length - 4), still.pcm.readInt16LE(still.pcm.length - 4));
});
