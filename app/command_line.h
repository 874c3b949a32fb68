#pragma once

// What the command line asks for. Values point into argv, byte for byte as
// the runtime handed them over.
struct CommandLine {
  bool versionRequested;    // --version as the first argument: nothing else was looked at
  bool listRequested;       // --list met: nothing after it was looked at
  const char* micValue;     // last --mic value, or null
  const char* systemValue;  // last --system value, or null; only its presence counts
};

CommandLine scanCommandLine(int argc, char** argv);

// The one line --version prints on standard output.
void printVersion();
