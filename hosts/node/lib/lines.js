'use strict';

// Standard error carries one UTF-8 JSON object per line, "\r\n" on Windows.
// Calls onLine with each complete line, without its ending.
function lineSplitter(onLine) {
  let pending = '';
  return {
    push(text) {
      pending += text;
      let end;
      while ((end = pending.indexOf('\n')) >= 0) {
        onLine(pending.slice(0, end).replace(/\r$/, ''));
        pending = pending.slice(end + 1);
      }
    },
    // A last line without its ending (a process that was killed mid-write).
    flush() {
      if (pending !== '') onLine(pending.replace(/\r$/, ''));
      pending = '';
    },
  };
}

// The event object of a line, or null for anything else (audiotap-sim's
// message about a scenario it cannot use, for instance).
function parseEvent(line) {
  if (!line.startsWith('{')) return null;
  try {
    const event = JSON.parse(line);
    return typeof event.event === 'string' ? event : null;
  } catch {
    return null;
  }
}

module.exports = { lineSplitter, parseEvent };
