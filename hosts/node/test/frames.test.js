'use strict';

const { test } = require('node:test');
const assert = require('node:assert/strict');
const { FrameAligner, splitChannels } = require('../lib/frames');
const { lineSplitter, parseEvent } = require('../lib/lines');

test('frames cut anywhere by the pipe come out whole, and a run end drops the cut-off part', () => {
  const aligner = new FrameAligner(4);
  const stream = Buffer.from([1, 2, 3, 4, 5, 6, 7, 8, 9, 10]);
  const cuts = [[0, 1], [1, 3], [3, 6], [6, 10]];
  const out = cuts.map(([from, to]) => aligner.push(stream.subarray(from, to))).filter(Boolean);
  assert.deepEqual(Buffer.concat(out), stream.subarray(0, 8));
  assert.equal(aligner.reset(), 2);
  assert.deepEqual(aligner.push(Buffer.from([11, 12, 13, 14])), Buffer.from([11, 12, 13, 14]));
});

test('splitChannels gives each slot its own samples', () => {
  const block = Buffer.alloc(12);
  [1, -1, 2, -2, 3, -3].forEach((value, i) => block.writeInt16LE(value, 2 * i));
  const [mic, desktop] = splitChannels(block, 2);
  assert.deepEqual([0, 1, 2].map((i) => mic.readInt16LE(2 * i)), [1, 2, 3]);
  assert.deepEqual([0, 1, 2].map((i) => desktop.readInt16LE(2 * i)), [-1, -2, -3]);
});

test('event lines: LF or CRLF, split anywhere; other lines are not events', () => {
  const lines = [];
  const splitter = lineSplitter((line) => lines.push(line));
  for (const piece of ['{"event":"started"}\r', '\n{"event":"fa', 'ult","reason":"x"}\naudiotap-sim: scenario', ' x: bad\n'])
    splitter.push(piece);
  assert.deepEqual(lines.map(parseEvent), [{ event: 'started' }, { event: 'fault', reason: 'x' }, null]);
  assert.equal(lines[2], 'audiotap-sim: scenario x: bad');
});
