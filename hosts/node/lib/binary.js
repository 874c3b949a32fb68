'use strict';

const fs = require('node:fs');
const path = require('node:path');

// The platforms a package of the program is published for, by Node's names.
const PLATFORM_PACKAGES = Object.freeze({ 'linux-x64': '@audiotap/linux-x64', 'win32-x64': '@audiotap/win32-x64' });

function programName(platform) {
  return platform === 'win32' ? 'audiotap.exe' : 'audiotap';
}

// Electron packs the app into app.asar, which child_process cannot run from:
// the executable sits unpacked beside it (asarUnpack), under app.asar.unpacked.
function unpackedPath(file) {
  return file.replace(/([\\/])app\.asar([\\/])/, '$1app.asar.unpacked$2');
}

function looksLikePath(file) {
  return path.isAbsolute(file) || /[\\/]/.test(file);
}

// The program of the platform package that npm installed beside this one.
function packagedProgram(platform, arch, resolve) {
  const name = PLATFORM_PACKAGES[`${platform}-${arch}`];
  if (!name) return { name: null, file: null };
  try {
    const folder = path.dirname(resolve(`${name}/package.json`));
    return { name, file: unpackedPath(path.join(folder, 'bin', programName(platform))) };
  } catch {
    return { name, file: null };
  }
}

function onPath(name, env, platform) {
  const separator = platform === 'win32' ? ';' : ':';
  for (const folder of (env.PATH || env.Path || '').split(separator)) {
    if (!folder) continue;
    const file = path.join(folder, name);
    if (fs.existsSync(file)) return file;
  }
  return null;
}

function notFound(message) {
  const error = new Error(message);
  error.code = 'AUDIOTAP_NOT_FOUND';
  return error;
}

// The program to start: the binary option, else AUDIOTAP_BINARY, else the
// one the platform package brought, else audiotap on the PATH. Throws at once,
// naming where it looked, when none of them is there.
function resolveBinary(options = {}, { env = process.env, platform = process.platform, arch = process.arch,
  resolve = require.resolve } = {}) {
  if (options.binary) {
    const file = unpackedPath(options.binary);
    if (looksLikePath(file) && !fs.existsSync(file))
      throw notFound(`audiotap: the binary option names ${file}, which does not exist`);
    return file;
  }
  if (env.AUDIOTAP_BINARY) {
    const file = unpackedPath(env.AUDIOTAP_BINARY);
    if (!fs.existsSync(file)) throw notFound(`audiotap: AUDIOTAP_BINARY names ${file}, which does not exist`);
    return file;
  }
  const packaged = packagedProgram(platform, arch, resolve);
  if (packaged.file && fs.existsSync(packaged.file)) return packaged.file;
  const found = onPath(programName(platform), env, platform);
  if (found) return found;
  const shipped = packaged.name
    ? `install ${packaged.name}, which npm installs with audiotap as an optional dependency ` +
      '(left out by --omit=optional, or by a lockfile written on another platform)'
    : `no package of audiotap is made for ${platform}-${arch}`;
  throw notFound(`audiotap: no audiotap program found. Pass the binary option, set AUDIOTAP_BINARY, or ${shipped}.`);
}

module.exports = { resolveBinary, unpackedPath, PLATFORM_PACKAGES };
