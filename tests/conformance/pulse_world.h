// The suite's world on a private PulseAudio server, for the Pulse leg and for
// Windows' own Core Audio under Wine, which talks to the same kind of server:
// a microphone with a name outside ASCII, a second one that can be removed,
// and speakers, each with a tone playing, and headphones with none. The microphones are null sinks'
// monitors remapped into sources, which deliver steadily (module-sine-source
// hands its data over in two-second blocks).
#pragma once

#include "tests/pulse/private_pulse_server.h"

class PulseSeamWorld {
 public:
  // Starts the server and loads the world; false (with a line on stderr) when that failed.
  bool start();
  // Unloads the removable microphone's source, as an unplugged device goes.
  bool removeDevice();
  // Makes the sink of this name the server's default.
  bool makeDefaultSink(const char* name);
  PrivatePulseServer& server() { return server_; }

 private:
  bool addMicrophone(const char* name, const char* description, int frequency, int* sourceModule);

  PrivatePulseServer server_;
  int removableModule_ = -1;
};
