import { EventEmitter } from 'node:events';
import { Readable } from 'node:stream';

export type Slot = 'mic' | 'desktop';

/** Every reason a fault line can carry. */
export type FaultReason =
  | 'capture.targetMissing'
  | 'capture.separateUnavailable'
  | 'capture.permissionDenied'
  | 'capture.linkFailed'
  | 'capture.stopped';

/** The names of the events a Capture emits. */
export type CaptureEventName = 'started' | 'switched' | 'fault' | 'restart' | 'stopped' | 'exit' | 'error';

export interface Options {
  /**
   * Path of audiotap (audiotap.exe). Looked up in this order: this option,
   * AUDIOTAP_BINARY, the program of the platform package (@audiotap/linux-x64,
   * @audiotap/win32-x64), audiotap on the PATH. A path through app.asar is
   * taken from app.asar.unpacked. None there: startCapture throws at once.
   */
  binary?: string;
  /** Variables added to the host's environment for the child. */
  env?: Record<string, string>;
}

export interface RestartOptions {
  /**
   * New runs after "capture.stopped" in a row; default 3. A run that delivered
   * 10 s of audio counts as working: a loss after it starts the count afresh.
   * Set-up faults are never restarted.
   */
  attempts?: number;
  /** Wait before each new run; default 250. */
  delayMs?: number;
}

export interface CaptureOptions extends Options {
  /** "default", an endpoint or instance identifier, or a friendly name. */
  mic?: string;
  /** true: the default playback device in loopback. */
  system?: boolean;
  /** Default: "closeOutput" on Windows, "signal" (SIGINT) elsewhere. */
  stopBy?: 'closeOutput' | 'signal';
  /** After this the child is killed; default 3000. */
  stopTimeoutMs?: number;
  /** New runs after "capture.stopped"; false: none. Default {attempts: 3, delayMs: 250}. */
  restart?: false | RestartOptions;
  /** Aborting it stops the capture in order, as stop() does. */
  signal?: AbortSignal;
  /**
   * true: a failure only shows in the exit record: `exited` resolves, no
   * 'error' event, `for await` ends without throwing. Default false.
   */
  quiet?: boolean;
}

export interface Started {
  slots: Slot[];
  mic: string;
  system: string;
  clock: string;
  deviceRate: Partial<Record<Slot, number>>;
  run: number;
}

/** A source moved to another device while capturing (a new default device). */
export interface Switched {
  slot: Slot;
  /** The friendly name of the new device. */
  name: string;
  /** Its rate in frames per second. */
  deviceRate: number;
}

export interface Fault {
  reason: FaultReason;
  detail: string;
  slot: Slot | null;
  /** A new run follows (after restart.delayMs), unless stop() comes first. */
  willRestart: boolean;
}

export interface Exit {
  /** The last run's exit status; null when killed by a signal or never started. */
  code: number | null;
  signal: NodeJS.Signals | null;
  /** The last run wrote "stopped". */
  stopped: boolean;
  /** The last run's fault; willRestart is false here, as no restart follows. */
  fault: Fault | null;
  /** Standard-error lines that were not events. */
  messages: string[];
  /** Why the binary could not be started. */
  error: Error | null;
  runs: number;
}

/** A failed capture or command: a set-up fault, a final non-zero exit, or a program that would not start. */
export declare class AudiotapError extends Error {
  readonly name: 'AudiotapError';
  readonly code: number | null;
  readonly signal: NodeJS.Signals | null;
  readonly fault: Omit<Fault, 'willRestart'> | Fault | null;
  /** The capture's exit record; null for listEndpoints() and version(). */
  readonly exit: Exit | null;
}

export interface CaptureEvents {
  started: [info: Started];
  switched: [switched: Switched];
  fault: [fault: Fault];
  restart: [restart: { attempt: number; fault: Fault }];
  stopped: [];
  exit: [exit: Exit];
  error: [error: AudiotapError];
}

export declare class Capture extends EventEmitter implements AsyncIterable<Buffer> {
  readonly slots: readonly Slot[];
  readonly runs: number;
  readonly pid: number | undefined;
  /**
   * Resolves with the exit record; rejects with an AudiotapError when the capture failed (not with quiet).
   * A host that reads it (or iterates) gets the failure here, and not also as an unheard 'error' thrown.
   */
  readonly exited: Promise<Exit>;
  readonly pcm: Readable;
  channel(slot: Slot): Readable;
  /** Stops in order; resolves with the exit record, whatever it holds. */
  stop(): Promise<Exit>;
  /** Blocks of whole interleaved frames; throws the failure at the end; leaving early stops the capture. */
  [Symbol.asyncIterator](): AsyncIterator<Buffer>;
  on<E extends CaptureEventName>(event: E, listener: (...args: CaptureEvents[E]) => void): this;
  once<E extends CaptureEventName>(event: E, listener: (...args: CaptureEvents[E]) => void): this;
  off<E extends CaptureEventName>(event: E, listener: (...args: CaptureEvents[E]) => void): this;
}

export interface Endpoint {
  FriendlyName: string;
  InstanceId: string;
  Status: 'OK' | 'Unknown';
  IsDefault: boolean;
  /** capture: a microphone (what --mic takes); render: speakers. */
  Flow: 'capture' | 'render';
}

export declare function startCapture(options: CaptureOptions): Capture;
export declare function listEndpoints(options?: Options): Promise<Endpoint[]>;
export declare function version(options?: Options): Promise<string>;
/** The program startCapture would start with these options; throws when there is none. */
export declare function binaryPath(options?: Options): string;
export declare function splitChannels(block: Buffer, channelCount: number): Buffer[];
export declare const exitStatus: { ok: 0; scenarioUnusable: 2; setupFailed: 3; captureFailed: 4 };
