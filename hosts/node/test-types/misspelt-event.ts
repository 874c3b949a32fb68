// Must not compile: an event a capture never emits.
import { startCapture } from '..';

startCapture({ system: true }).on('stoped', () => console.log('never called'));
