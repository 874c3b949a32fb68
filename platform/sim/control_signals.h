// The POSIX signals that stand in for Windows' console control events in
// audiotap-sim, as in the Linux build.
#pragma once

// SIGINT and SIGTERM raise a console control event; SIGPIPE is ignored, so
// that a standard output whose reader has gone shows as a short write.
// Safe to call any number of times.
void simCatchControlSignals();
