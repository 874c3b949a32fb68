'use strict';

// audiotap-sim and its scenarios for the tests: AUDIOTAP_SIM names the
// binary, else the Linux build tree of this repository.
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

const simBinary = process.env.AUDIOTAP_SIM || path.resolve(__dirname, '../../../build/linux/audiotap-sim');

const tempDir = fs.mkdtempSync(path.join(os.tmpdir(), 'audiotap-node-'));
process.on('exit', () => fs.rmSync(tempDir, { recursive: true, force: true }));
let written = 0;

// A microphone at 0.25 and a speaker at -0.25, both defaults, on the given
// clock; `extra` is merged over the top level, `micExtra` over the microphone.
function world({ clock = 'virtual', stopAtMs, micExtra = {}, extra = {} } = {}) {
  const scenario = {
    clock,
    endpoints: [
      { flow: 'capture', id: 'mic-1', name: 'Desk Mic', default: true, signal: { kind: 'constant', value: 0.25 }, ...micExtra },
      { flow: 'render', id: 'spk-1', name: 'Speakers', default: true, format: { rate: 44100 },
        signal: { kind: 'constant', value: -0.25 } },
    ],
    ...extra,
  };
  if (stopAtMs !== undefined) scenario.stop = { controlEventAtMs: stopAtMs };
  const file = path.join(tempDir, `scenario-${++written}.json`);
  fs.writeFileSync(file, JSON.stringify(scenario));
  return { binary: simBinary, env: { AUDIOTAP_SIM_SCENARIO: file } };
}

// Everything a readable stream gives until it ends.
async function collect(stream) {
  const chunks = [];
  for await (const chunk of stream) chunks.push(chunk);
  return Buffer.concat(chunks);
}

function once(emitter, name) {
  return new Promise((resolve) => emitter.once(name, resolve));
}

// A fake audiotap that ignores SIGINT and never writes: what stop() falls back from.
function stubbornBinary() {
  const file = path.join(tempDir, 'stubborn.sh');
  fs.writeFileSync(file, "#!/bin/sh\ntrap '' INT\nexec sleep 30\n", { mode: 0o755 });
  return file;
}

// A fake audiotap whose every run loses its microphone after 800 frames and
// half a frame: the library's side of a restart, whatever the simulator offers.
function losingBinary() {
  const file = path.join(tempDir, 'losing.sh');
  const started = '{"event":"started","slots":["mic","desktop"],"mic":"M","system":"S","clock":"qpc","deviceRate":{"mic":48000,"desktop":48000}}';
  const fault = '{"event":"fault","reason":"capture.stopped","detail":"GetNextPacketSize:0x88890004","slot":"mic"}';
  fs.writeFileSync(file, `#!/bin/sh\necho '${started}' >&2\nhead -c 3202 /dev/zero\necho '${fault}' >&2\nexit 4\n`, { mode: 0o755 });
  return file;
}

// A fake audiotap whose desktop moves to a headset, then its microphone to
// another one, each between some audio; ends in order.
function switchingBinary() {
  const file = path.join(tempDir, 'switching.sh');
  const started = '{"event":"started","slots":["mic","desktop"],"mic":"M","system":"S","clock":"qpc","deviceRate":{"mic":48000,"desktop":44100}}';
  const switched = [
    '{"event":"switched","slot":"desktop","name":"Headset","deviceRate":48000}',
    '{"event":"switched","slot":"mic","name":"Micr\u00f3fono USB","deviceRate":16000}',
  ];
  fs.writeFileSync(file, `#!/bin/sh\necho '${started}' >&2\nhead -c 400 /dev/zero\necho '${switched[0]}' >&2\n` +
    `head -c 400 /dev/zero\necho '${switched[1]}' >&2\necho '{"event":"stopped"}' >&2\n`, { mode: 0o755 });
  return file;
}

module.exports = { simBinary, world, collect, once, stubbornBinary, losingBinary, switchingBinary };
