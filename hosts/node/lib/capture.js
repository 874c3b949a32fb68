'use strict';

const { spawn } = require('node:child_process');
const { EventEmitter } = require('node:events');
const { Readable } = require('node:stream');
const { AudiotapError, describeFault } = require('./errors');
const { FrameAligner, splitChannels } = require('./frames');
const { lineSplitter, parseEvent } = require('./lines');
const { exitStatus, captureOptions } = require('./options');

// A run that delivered this much audio (10 s) worked: a later loss starts the
// count of restarts in a row afresh.
const WORKING_RUN_FRAMES = 10 * 16000;

// One capture, possibly over several runs of audiotap when a source is lost
// and the capture is restarted. Events:
//   'started'  {slots, mic, system, clock, deviceRate, run}   at each run's start
//   'switched' {slot, name, deviceRate}                       a source moved to another device
//   'fault'    {reason, detail, slot, willRestart}
//   'restart'  {attempt, fault}                               a new run begins
//   'stopped'                                                 audiotap stopped in order
//   'exit'     {code, signal, stopped, fault, messages, error, runs}, once, after the last data
//   'error'    AudiotapError, after 'exit', when the capture failed (not with quiet);
//              with no listener it is thrown, as Node does, unless the failure
//              reaches the host otherwise: through exited, or a for await loop
class Capture extends EventEmitter {
  constructor(options) {
    super();
    this._options = captureOptions(options);
    this.slots = this._options.slots;
    this.runs = 0;
    this._exited = new Promise((resolve, reject) => {
      this._resolveExited = resolve;
      this._rejectExited = reject;
    });
    // A failure is reported through 'error' too: a host that awaits nothing
    // must not also get an unhandled rejection for it.
    this._exited.catch(() => {});
    this._exitedRead = false;
    this._iterating = 0;
    this._aligner = new FrameAligner(2 * this.slots.length);
    this._pcm = null;
    this._channels = new Map();
    this._restartsInRow = 0;
    this._stopRequested = false;
    this._restartTimer = null;
    this._killTimer = null;
    this._lastRunInfo = null;
    this._result = null;
    this._startRun();
    const { signal } = this._options;
    if (signal) {
      this._onAbort = () => this.stop();
      if (signal.aborted) this.stop();
      else signal.addEventListener('abort', this._onAbort, { once: true });
    }
  }

  // Resolves with the exit record; rejects with an AudiotapError when the
  // capture failed (not with quiet).
  get exited() {
    this._exitedRead = true;
    return this._exited;
  }

  get pid() {
    return this._run.child.pid;
  }

  // The interleaved stream (16 kHz, s16le, the microphone first). Streams
  // receive data from the moment they are first asked for: ask in the tick
  // that started the capture to miss nothing.
  get pcm() {
    if (!this._pcm) this._pcm = this._newStream();
    return this._pcm;
  }

  // The mono stream of one slot, "mic" or "desktop".
  channel(slot) {
    if (!this.slots.includes(slot)) throw new RangeError(`this capture has no slot "${slot}"`);
    if (!this._channels.has(slot)) this._channels.set(slot, this._newStream());
    return this._channels.get(slot);
  }

  // for await (const frames of capture): the blocks of `pcm`; then throws
  // the failure, if the capture failed. Leaving the loop early stops it.
  async *[Symbol.asyncIterator]() {
    const pcm = this.pcm;
    let ended = false;
    this._iterating += 1;
    try {
      for await (const block of pcm) yield block;
      ended = true;
      await this._exited;
    } finally {
      this._iterating -= 1;
      if (!ended) await this.stop();
    }
  }

  // Ends the capture in order: audiotap writes "stopped" and exits 0. Falls
  // back to killing it after stopTimeoutMs. Resolves with the exit record,
  // whatever it holds: a failure is reported by `exited` and 'error'.
  stop() {
    const settled = this._exited.then(
      (exit) => exit,
      (error) => error.exit,
    );
    if (this._result || this._stopRequested) return settled;
    this._stopRequested = true;
    if (this._restartTimer) {
      // The run ended before the stop: no restart follows, so its fault is
      // final after all.
      clearTimeout(this._restartTimer);
      this._restartTimer = null;
      const info = this._lastRunInfo;
      this._finish({ ...info, fault: info.fault && { ...info.fault, willRestart: false } });
      return settled;
    }
    const { child } = this._run;
    if (this._options.stopBy === 'closeOutput') {
      // audiotap's next write fails, and it ends the run in order.
      child.stdout.destroy();
    } else if (this._run.started) {
      child.kill('SIGINT');
    }
    // else SIGINT goes with "started": before its handler is in, it would kill.
    this._killTimer = setTimeout(() => child.kill('SIGKILL'), this._options.stopTimeoutMs);
    return settled;
  }

  _newStream() {
    const stream = new Readable({ read() {} });
    if (this._result) stream.push(null);
    return stream;
  }

  _startRun() {
    this.runs += 1;
    const child = spawn(this._options.binary, this._options.args, this._options.spawn);
    const run = { child, started: false, stopped: false, fault: null, messages: [], frames: 0, error: null };
    this._run = run;
    // Standard output is read to its end whoever consumes it: a full pipe
    // would block audiotap's loop, and with it the stop.
    child.stdout.on('data', (chunk) => this._onData(run, chunk));
    child.stdout.on('error', () => {});
    const lines = lineSplitter((line) => this._onLine(run, line));
    child.stderr.setEncoding('utf8');
    child.stderr.on('data', (text) => lines.push(text));
    child.stderr.on('error', () => {});
    child.on('error', (error) => {
      run.error = error;
    });
    // 'close' comes after both pipes ended, so after the last data.
    child.on('close', (code, signal) => {
      lines.flush();
      this._onRunEnd(run, code, signal);
    });
  }

  _onData(run, chunk) {
    const block = this._aligner.push(chunk);
    if (!block) return;
    run.frames += block.length / (2 * this.slots.length);
    if (this._pcm) this._pcm.push(block);
    if (this._channels.size === 0) return;
    const parts = splitChannels(block, this.slots.length);
    this.slots.forEach((slot, i) => {
      const stream = this._channels.get(slot);
      if (stream) stream.push(parts[i]);
    });
  }

  _onLine(run, line) {
    const event = parseEvent(line);
    if (!event) {
      run.messages.push(line);
      return;
    }
    if (event.event === 'started') {
      run.started = true;
      if (this._stopRequested && this._options.stopBy === 'signal') run.child.kill('SIGINT');
      const { slots, mic, system, clock, deviceRate } = event;
      this.emit('started', { slots, mic, system, clock, deviceRate, run: this.runs });
    } else if (event.event === 'switched') {
      const { slot, name, deviceRate } = event;
      this.emit('switched', { slot, name, deviceRate });
    } else if (event.event === 'stopped') {
      run.stopped = true;
      this.emit('stopped');
    } else if (event.event === 'fault') {
      // Only a source lost while running is worth a new run; every set-up
      // fault would come back the same.
      const inRow = run.frames >= WORKING_RUN_FRAMES ? 0 : this._restartsInRow;
      const willRestart =
        event.reason === 'capture.stopped' && !this._stopRequested && inRow < this._options.restart.attempts;
      run.fault = { reason: event.reason, detail: event.detail, slot: event.slot ?? null, willRestart };
      this.emit('fault', run.fault);
    }
  }

  _onRunEnd(run, code, signal) {
    clearTimeout(this._killTimer);
    this._aligner.reset();
    const info = {
      code: run.child.pid === undefined ? null : code, // null: it never ran (see error)
      signal,
      stopped: run.stopped,
      fault: run.fault,
      messages: run.messages,
      error: run.error,
      runs: this.runs,
    };
    if (run.fault && run.fault.willRestart && code === exitStatus.captureFailed && !this._stopRequested) {
      this._restartsInRow = run.frames >= WORKING_RUN_FRAMES ? 1 : this._restartsInRow + 1;
      this._lastRunInfo = info;
      this._restartTimer = setTimeout(() => {
        this._restartTimer = null;
        this.emit('restart', { attempt: this._restartsInRow, fault: run.fault });
        this._startRun();
      }, this._options.restart.delayMs);
      return;
    }
    this._finish(info);
  }

  // The failure a capture ended in, or null. A set-up fault is one even after
  // a stop; any other ending the host asked for with stop() is not.
  _failure(info) {
    if (info.error)
      return new AudiotapError(`audiotap could not be started: ${info.error.message}`, { exit: info, cause: info.error });
    const { code, signal, fault } = info;
    const details = { code, signal, fault, exit: info };
    if (fault && code === exitStatus.setupFailed)
      return new AudiotapError(`audiotap could not start the capture: ${describeFault(fault)}`, details);
    if (this._stopRequested || code === exitStatus.ok) return null;
    const how = code === null ? `was ended by ${signal}` : `ended with status ${code}`;
    const after = info.runs > 1 ? ` after ${info.runs} runs` : '';
    const why = fault ? `: ${describeFault(fault)}` : info.messages.length ? `: ${info.messages.join(' ')}` : '';
    return new AudiotapError(`audiotap ${how}${after}${why}`, details);
  }

  _finish(info) {
    this._result = info;
    if (this._options.signal) this._options.signal.removeEventListener('abort', this._onAbort);
    if (this._pcm) this._pcm.push(null);
    for (const stream of this._channels.values()) stream.push(null);
    const failure = this._options.quiet ? null : this._failure(info);
    if (failure) this._rejectExited(failure);
    else this._resolveExited(info);
    this.emit('exit', info);
    // Last. With nobody listening Node throws it, which ends the host: right
    // for a host that looks at nothing, wrong for one awaiting the failure.
    const reachesHost = this._exitedRead || this._iterating > 0;
    if (failure && (this.listenerCount('error') > 0 || !reachesHost)) this.emit('error', failure);
  }
}

function startCapture(options) {
  return new Capture(options);
}

module.exports = { Capture, startCapture };
