'use strict';

// A capture or a one-shot command that failed: a set-up fault, a final
// non-zero exit, or a program that could not be started. `exit` is the
// capture's exit record (null for the one-shot commands).
class AudiotapError extends Error {
  constructor(message, { code = null, signal = null, fault = null, exit = null, cause } = {}) {
    super(message, cause === undefined ? undefined : { cause });
    this.name = 'AudiotapError';
    this.code = code;
    this.signal = signal;
    this.fault = fault;
    this.exit = exit;
  }
}

function describeFault(fault) {
  return `${fault.reason} ${fault.detail}${fault.slot ? ` (${fault.slot})` : ''}`;
}

module.exports = { AudiotapError, describeFault };
