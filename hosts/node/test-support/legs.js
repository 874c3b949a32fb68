'use strict';

// Whether a leg of the tests that cannot run here (no PulseAudio, no Wine 10
// root, a build missing) is skipped or fails: a developer running the tests
// by hand is told why it was skipped; under CI every leg must run.
const path = require('node:path');
const { spawnSync } = require('node:child_process');

const wine10 = path.resolve(__dirname, '../../../tools/wine10');

// True under CI (CI set to anything but "", "0" or "false"; .ci/run sets it).
const everyLegMustRun = !['', '0', 'false'].includes(process.env.CI || '');

// The `skip` option of a test that cannot run for `reason` (empty: it can).
function skipUnless(reason) {
  return reason && !everyLegMustRun ? `skipped, because ${reason}` : false;
}

// Fails the running test when it cannot run: only reached under CI.
function mustBeAbleToRun(reason) {
  if (reason) throw new Error(`cannot run, and under CI every leg must: ${reason}`);
}

let wine10Answer;
// Empty when the Wine 10 root is there and Wine runs in it, else the line
// that `tools/wine10 --check` says about it (the one place that judges it).
function wine10Unusable() {
  if (wine10Answer === undefined) {
    const check = spawnSync(wine10, ['--check'], { encoding: 'utf8', stdio: ['ignore', 'pipe', 'pipe'] });
    wine10Answer = check.status === 0 ? '' : (check.stderr || '').trim() || `${wine10} --check failed`;
  }
  return wine10Answer;
}

module.exports = { skipUnless, mustBeAbleToRun, wine10Unusable };
