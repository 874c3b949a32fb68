'use strict';

// The library on the Linux build, against a PulseAudio server of the test's
// own with a sine source as the default microphone.
const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { spawn, spawnSync } = require('node:child_process');
const { startCapture } = require('..');
const { collect, once } = require('../test-support/sim');
const { skipUnless, mustBeAbleToRun, wine10Unusable } = require('../test-support/legs');

const linuxBinary = process.env.AUDIOTAP_LINUX || path.resolve(__dirname, '../../../build/linux/audiotap');
const have = (program) => spawnSync('sh', ['-c', `command -v ${program}`]).status === 0;
const linuxMissing = have('pulseaudio') && have('pactl') && fs.existsSync(linuxBinary) ? ''
  : 'it needs pulseaudio, pactl and build/linux/audiotap';
const skip = skipUnless(linuxMissing);

let server = null;
let env = null;

before(async () => {
  if (linuxMissing) return;
  const runtime = fs.mkdtempSync(path.join(os.tmpdir(), 'audiotap-node-pulse-'));
  // The runtime path too: an inherited one would put the server's socket elsewhere.
  env = { XDG_RUNTIME_DIR: runtime, PULSE_RUNTIME_PATH: `${runtime}/pulse`, PULSE_SERVER: `unix:${runtime}/pulse/native` };
  server = spawn('pulseaudio', ['--daemonize=no', '--exit-idle-time=-1', '-n', '--use-pid-file=no',
    '--load=module-native-protocol-unix', '--load=module-sine-source source_name=tone frequency=440'],
  { env: { ...process.env, ...env }, stdio: 'ignore' });
  for (let i = 0; i < 100; i++) {
    const answer = spawnSync('pactl', ['set-default-source', 'tone'], { env: { ...process.env, ...env } });
    if (answer.status === 0) return;
    await new Promise((resolve) => setTimeout(resolve, 50));
  }
  throw new Error('the private PulseAudio server did not start');
});

after(() => {
  if (server) server.kill('SIGTERM');
  if (env) fs.rmSync(env.XDG_RUNTIME_DIR, { recursive: true, force: true });
});

// Starts a capture, lets it run a second after "started", stops it and checks
// that it ended in order with about a second of audio.
async function captureThenStop(options) {
  const capture = startCapture({ mic: 'default', env, ...options });
  const pcm = collect(capture.pcm);
  await Promise.race([once(capture, 'started'), capture.exited]);
  await new Promise((resolve) => setTimeout(resolve, 1000));
  const exit = await capture.stop();
  assert.equal(exit.code, 0, JSON.stringify(exit));
  assert.equal(exit.stopped, true);
  assert.ok((await pcm).length >= 2 * 16000 * 0.8);
}

for (const stopBy of ['signal', 'closeOutput']) {
  test(`stop() by ${stopBy} ends a Linux run in order`, { skip }, () => {
    mustBeAbleToRun(linuxMissing);
    return captureThenStop({ binary: linuxBinary, stopBy });
  });
}

// The Windows build under Wine 10 (tools/wine10), stopped as a host on
// Windows stops it: by closing its standard output.
const repository = path.resolve(__dirname, '../../..');
const windowsBinary = path.join(repository, 'build/windows-mingw/audiotap.exe');
const windowsMissing = linuxMissing || (fs.existsSync(windowsBinary) ? wine10Unusable()
  : `${windowsBinary} is not built`);

test('stop() by closeOutput ends a Windows run in order (Wine 10)', { skip: skipUnless(windowsMissing), timeout: 120000 }, async () => {
  mustBeAbleToRun(windowsMissing);
  // A launcher that becomes the Wine process itself, as the .exe is on Windows.
  const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'audiotap-node-wine-'));
  const launcher = path.join(folder, 'audiotap');
  fs.writeFileSync(launcher, `#!/bin/sh\nexec '${repository}/tools/wine10' wine '${windowsBinary}' "$@"\n`, { mode: 0o755 });
  try {
    await captureThenStop({ binary: launcher, stopBy: 'closeOutput', stopTimeoutMs: 10000 });
  } finally {
    fs.rmSync(folder, { recursive: true, force: true });
  }
});
