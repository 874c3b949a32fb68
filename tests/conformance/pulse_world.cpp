#include "tests/conformance/pulse_world.h"

#include <cstdio>
#include <string>

#include "tests/conformance/seam_check.h"

bool PulseSeamWorld::addMicrophone(const char* name, const char* description, int frequency, int* sourceModule) {
  const std::string feed = std::string(name) + "_feed";
  if (server_.loadModule({"module-null-sink", "sink_name=" + feed, "rate=48000", "format=float32le"}) < 0) return false;
  *sourceModule =
      server_.loadModule({"module-remap-source", std::string("source_name=") + name, "master=" + feed + ".monitor",
                          std::string("source_properties=\"device.description='") + description + "'\""});
  if (*sourceModule < 0) return false;
  server_.playTone(feed, frequency);
  return server_.waitForPlayback(feed, 1);
}

bool PulseSeamWorld::start() {
  if (!server_.start()) {
    std::fprintf(stderr, "the private PulseAudio server did not start\n");
    return false;
  }
  int microphoneModule = -1;
  const bool loaded =
      server_.loadModule(
          {"module-null-sink", "sink_name=speakers", "sink_properties=\"device.description='Speakers'\""}) >= 0 &&
      server_.loadModule({"module-null-sink", "sink_name=headphones", "rate=48000",
                          std::string("sink_properties=\"device.description='") + kSeamOtherSpeakersName + "'\""}) >=
          0 &&
      addMicrophone("mic", kSeamMicrophoneName, 440, &microphoneModule) &&
      addMicrophone("removable", kSeamRemovableName, 660, &removableModule_);
  if (!loaded) {
    std::fprintf(stderr, "the private PulseAudio server refused the world's modules\n");
    return false;
  }
  server_.playTone("speakers", 1000);
  bool defaultsSet = false;
  server_.pactl({"set-default-sink", "speakers"}, &defaultsSet);
  if (defaultsSet) server_.pactl({"set-default-source", "mic"}, &defaultsSet);
  if (!defaultsSet || !server_.waitForPlayback("speakers", 1)) {
    std::fprintf(stderr, "the private PulseAudio server did not take the world's defaults or tones\n");
    return false;
  }
  return true;
}

bool PulseSeamWorld::removeDevice() {
  bool unloaded = false;
  server_.pactl({"unload-module", std::to_string(removableModule_)}, &unloaded);
  return unloaded;
}

bool PulseSeamWorld::makeDefaultSink(const char* name) {
  bool done = false;
  server_.pactl({"set-default-sink", name}, &done);
  return done;
}
