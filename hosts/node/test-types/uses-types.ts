// Compiled by tsc --strict in the tests: what a TypeScript host writes.
import { startCapture, listEndpoints, AudiotapError, Endpoint, Exit, Fault, FaultReason } from '..';

async function record(signal: AbortSignal): Promise<number> {
  const microphones: Endpoint[] = (await listEndpoints()).filter((e) => e.Flow === 'capture');
  const capture = startCapture({ mic: microphones[0]?.InstanceId ?? 'default', system: true, signal,
    restart: { attempts: 2, delayMs: 500 } });
  capture.on('switched', ({ slot, name, deviceRate }) => console.log(slot, name, deviceRate.toFixed(0)));
  capture.on('fault', (fault: Fault) => {
    const reason: FaultReason = fault.reason;
    if (reason === 'capture.permissionDenied') console.log('allow the microphone', fault.willRestart);
  });
  capture.on('error', (error: AudiotapError) => console.log(error.exit?.code, error.fault?.reason));
  let bytes = 0;
  for await (const frames of capture) bytes += frames.byteLength;
  const exit: Exit = await capture.stop();
  return exit.code === 0 ? bytes : -1;
}

record(AbortSignal.timeout(2000)).then((bytes) => console.log(bytes));
