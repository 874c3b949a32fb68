'use strict';

const { test } = require('node:test');
const assert = require('node:assert/strict');
const { listEndpoints, version } = require('..');
const { world } = require('../test-support/sim');

test('listEndpoints gives the records of --list', async () => {
  const endpoints = await listEndpoints(world());
  assert.deepEqual(endpoints, [
    { FriendlyName: 'Desk Mic', InstanceId: 'SWD\\MMDEVAPI\\mic-1', Status: 'OK', IsDefault: true, Flow: 'capture' },
    { FriendlyName: 'Speakers', InstanceId: 'SWD\\MMDEVAPI\\spk-1', Status: 'OK', IsDefault: true, Flow: 'render' },
  ]);
});

test('listEndpoints rejects with the fault when the audio system is missing', async () => {
  await assert.rejects(listEndpoints(world({ extra: { fail: { CoCreateInstance: '0x80040154' } } })), (error) => {
    assert.equal(error.code, 3);
    assert.deepEqual(error.fault, { reason: 'capture.separateUnavailable', detail: 'MMDeviceEnumerator:0x80040154', slot: null });
    return true;
  });
});

test('version reads the binary\'s version line', async () => {
  assert.match(await version(world()), /^\d+\.\d+\.\d+$/);
});
