// Must not compile: a fault reason that audiotap never writes.
import { startCapture } from '..';

const capture = startCapture({ mic: 'default' });
capture.on('fault', (fault) => {
  if (fault.reason === 'capture.permisionDenied') console.log('never true');
});
