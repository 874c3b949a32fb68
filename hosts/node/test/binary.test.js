'use strict';

// Where the library finds the program: the option, AUDIOTAP_BINARY, the
// platform package, the PATH; and what it says when there is none.
const { test } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { resolveBinary, unpackedPath } = require('../lib/binary');

// A folder holding a fake node_modules/@audiotap/linux-x64 and a PATH folder,
// each with an audiotap in it.
function layout() {
  const root = fs.mkdtempSync(path.join(os.tmpdir(), 'audiotap-resolve-'));
  const packageDir = path.join(root, 'node_modules/@audiotap/linux-x64');
  fs.mkdirSync(path.join(packageDir, 'bin'), { recursive: true });
  fs.writeFileSync(path.join(packageDir, 'package.json'), '{}');
  fs.writeFileSync(path.join(packageDir, 'bin/audiotap'), '');
  fs.mkdirSync(path.join(root, 'path-dir'));
  fs.writeFileSync(path.join(root, 'path-dir/audiotap'), '');
  fs.writeFileSync(path.join(root, 'own-audiotap'), '');
  const resolve = (name) => {
    if (name !== '@audiotap/linux-x64/package.json') throw Object.assign(new Error(name), { code: 'MODULE_NOT_FOUND' });
    return path.join(packageDir, 'package.json');
  };
  const missing = () => {
    throw Object.assign(new Error('not installed'), { code: 'MODULE_NOT_FOUND' });
  };
  return { root, packaged: path.join(packageDir, 'bin/audiotap'), onPath: path.join(root, 'path-dir/audiotap'),
    own: path.join(root, 'own-audiotap'), resolve, missing, pathVar: path.join(root, 'path-dir') };
}

test('the program is looked up in order: option, AUDIOTAP_BINARY, platform package, PATH', () => {
  const l = layout();
  const linux = { platform: 'linux', arch: 'x64' };
  const cases = [
    { name: 'option first', options: { binary: l.own }, env: { AUDIOTAP_BINARY: l.onPath }, resolve: l.resolve, want: l.own },
    { name: 'then the variable', options: {}, env: { AUDIOTAP_BINARY: l.own, PATH: l.pathVar }, resolve: l.resolve, want: l.own },
    { name: 'then the package', options: {}, env: { PATH: l.pathVar }, resolve: l.resolve, want: l.packaged },
    { name: 'then the PATH', options: {}, env: { PATH: l.pathVar }, resolve: l.missing, want: l.onPath },
    { name: 'a bare name is left to the PATH', options: { binary: 'audiotap-sim' }, env: {}, resolve: l.missing, want: 'audiotap-sim' },
  ];
  for (const c of cases) assert.equal(resolveBinary(c.options, { ...linux, env: c.env, resolve: c.resolve }), c.want, c.name);
  fs.rmSync(l.root, { recursive: true });
});

test('a missing program is named, and with none at all the error names every way to give one', () => {
  const l = layout();
  const linux = { platform: 'linux', arch: 'x64', resolve: l.missing };
  const cases = [
    { name: 'variable names a missing file', options: {}, env: { AUDIOTAP_BINARY: '/gone/audiotap' }, platform: linux,
      want: [/AUDIOTAP_BINARY names \/gone\/audiotap/] },
    { name: 'option names a missing file', options: { binary: '/gone/audiotap' }, env: {}, platform: linux,
      want: [/binary option names \/gone\/audiotap/] },
    { name: 'nothing shipped', options: {}, env: { PATH: '/nowhere' }, platform: linux,
      want: [/binary option/, /AUDIOTAP_BINARY/, /@audiotap\/linux-x64/, /optional/] },
    { name: 'no package for this platform', options: {}, env: {}, platform: { ...linux, platform: 'darwin', arch: 'arm64' },
      want: [/binary option/, /AUDIOTAP_BINARY/, /no package of audiotap is made for darwin-arm64/] },
  ];
  for (const c of cases) {
    assert.throws(() => resolveBinary(c.options, { ...c.platform, env: c.env }), (error) => {
      assert.equal(error.code, 'AUDIOTAP_NOT_FOUND', c.name);
      for (const pattern of c.want) assert.match(error.message, pattern, c.name);
      return true;
    });
  }
  fs.rmSync(l.root, { recursive: true });
});

test('inside an Electron app the program is taken from app.asar.unpacked', () => {
  const cases = [
    ['/opt/App/resources/app.asar/node_modules/@audiotap/linux-x64/bin/audiotap',
      '/opt/App/resources/app.asar.unpacked/node_modules/@audiotap/linux-x64/bin/audiotap'],
    ['C:\\App\\resources\\app.asar\\node_modules\\@audiotap\\win32-x64\\bin\\audiotap.exe',
      'C:\\App\\resources\\app.asar.unpacked\\node_modules\\@audiotap\\win32-x64\\bin\\audiotap.exe'],
    ['/opt/App/resources/app.asar.unpacked/bin/audiotap', '/opt/App/resources/app.asar.unpacked/bin/audiotap'],
    ['/home/me/my.app.asarx/bin/audiotap', '/home/me/my.app.asarx/bin/audiotap'],
  ];
  for (const [given, want] of cases) assert.equal(unpackedPath(given), want);

  // Through the package lookup, as require.resolve answers inside app.asar.
  const l = layout();
  const asar = path.join(l.root, 'resources/app.asar');
  const unpacked = path.join(l.root, 'resources/app.asar.unpacked/node_modules/@audiotap/linux-x64');
  fs.mkdirSync(path.join(unpacked, 'bin'), { recursive: true });
  fs.writeFileSync(path.join(unpacked, 'bin/audiotap'), '');
  const resolve = () => path.join(asar, 'node_modules/@audiotap/linux-x64/package.json');
  assert.equal(resolveBinary({}, { platform: 'linux', arch: 'x64', env: {}, resolve }), path.join(unpacked, 'bin/audiotap'));
  fs.rmSync(l.root, { recursive: true });
});
