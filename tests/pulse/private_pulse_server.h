// A PulseAudio server of the test's own: its own runtime directory (so it
// never meets the desktop's server or another test's), modules loaded on
// demand, tones played into its sinks, and a way to kill it mid-run.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

class PrivatePulseServer {
 public:
  static bool installed();

  // Starts the server and points this process (libpulse, pactl) at it.
  bool start();
  // Ends the server and every tone; safe to call more than once.
  void stop();
  ~PrivatePulseServer() { stop(); }

  // "pactl" with these arguments; its standard output, or "" on failure.
  std::string pactl(const std::vector<std::string>& arguments, bool* succeeded = nullptr) const;
  // Loads a module; its index, or -1.
  int loadModule(const std::vector<std::string>& arguments) const;

  // Plays a sine of this frequency (amplitude 0.5, s16le stereo 44.1 kHz)
  // into a sink until stop().
  void playTone(const std::string& sink, int frequency);
  // Waits until the sink has as many playing streams, or about 5 s.
  bool waitForPlayback(const std::string& sink, int streams) const;

  pid_t pid() const { return pid_; }
  const std::string& runtimeDirectory() const { return runtimeDirectory_; }
  // The environment a child process needs to reach this server.
  std::vector<std::pair<std::string, std::string>> environment() const;

 private:
  std::string runtimeDirectory_;
  pid_t pid_ = -1;
  std::vector<pid_t> toneGroups_;
};

// One source or sink as `pactl list` prints it.
struct PactlDevice {
  std::string name;
  std::string description;
  std::string monitorOf;  // sources: the sink it monitors, empty for a real source
};
std::vector<PactlDevice> parsePactlList(const std::string& text);
