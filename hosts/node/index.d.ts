import { EventEmitter } from 'node:events';
import { Readable } from 'node:stream';

export type Slot = 'mic' | 'desktop';

export interface Options {
  /** Path of audiotap (audiotap.exe); default AUDIOTAP_BINARY, else audiotap on the PATH. */
  binary?: string;
  /** Variables added to the host's environment for the child. */
  env?: Record<string, string>;
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
  restart?: false | { attempts?: number; delayMs?: number };
}

export interface Started {
  slots: Slot[];
  mic: string;
  system: string;
  clock: string;
  deviceRate: Partial<Record<Slot, number>>;
  run: number;
}

export interface Fault {
  reason: string;
  detail: string;
  slot: Slot | null;
  willRestart: boolean;
}

export interface Exit {
  /** The last run's exit status; null when killed by a signal or never started. */
  code: number | null;
  signal: NodeJS.Signals | null;
  /** The last run wrote "stopped". */
  stopped: boolean;
  fault: Fault | null;
  /** Standard-error lines that were not events. */
  messages: string[];
  /** Why the binary could not be started. */
  error: Error | null;
  runs: number;
}

export declare class Capture extends EventEmitter {
  readonly slots: readonly Slot[];
  readonly runs: number;
  readonly pid: number | undefined;
  readonly exited: Promise<Exit>;
  readonly pcm: Readable;
  channel(slot: Slot): Readable;
  stop(): Promise<Exit>;
  on(event: 'started', listener: (info: Started) => void): this;
  on(event: 'fault', listener: (fault: Fault) => void): this;
  on(event: 'restart', listener: (restart: { attempt: number; fault: Fault }) => void): this;
  on(event: 'stopped', listener: () => void): this;
  on(event: 'exit', listener: (exit: Exit) => void): this;
}

export interface Endpoint {
  FriendlyName: string;
  InstanceId: string;
  Status: 'OK' | 'Unknown';
  IsDefault: boolean;
}

export declare function startCapture(options: CaptureOptions): Capture;
export declare function listEndpoints(options?: Options): Promise<Endpoint[]>;
export declare function version(options?: Options): Promise<string>;
export declare function splitChannels(block: Buffer, channelCount: number): Buffer[];
export declare const exitStatus: { ok: 0; scenarioUnusable: 2; setupFailed: 3; captureFailed: 4 };
