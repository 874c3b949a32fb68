#pragma once

// The list run: the endpoint array on standard output. Returns the exit status.
int runListSequence();

// The capture run with the sources the command line asked for (either may be
// null, not both). Returns the exit status after an orderly stop; fatal
// failures end the process where they are met.
int runCaptureSequence(const char* micValue, const char* systemValue);
