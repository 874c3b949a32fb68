// The POSIX signals that stand in for Windows' console control events.
#pragma once

// SIGPIPE ignored, so that writing to a closed pipe (standard output, or the
// server's socket) gives a short write or an error instead of ending the
// process. Safe to call any number of times.
void ignoreBrokenPipes();
