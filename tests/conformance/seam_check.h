// The seam-conformance suite: the behaviour of every platform call the logic
// relies on, stated once and run against each platform (the simulated one,
// the PulseAudio one, Windows' own). The Windows build has no GoogleTest, so
// the suite brings its own small harness: a check compares what the platform
// answered with what WASAPI answers, unless the table of known differences
// (seam_differences.cpp) says this platform answers otherwise, and why.
#pragma once

#include <string>

#include "platform/core_audio.h"
#include "tests/support/com_ref.h"

// The friendly names of the two microphones every leg's world holds: one
// with letters outside ASCII, in two and three bytes of UTF-8, and one that
// the leg can take away.
inline constexpr char kSeamMicrophoneName[] = "Micrófono USB マイク";
inline constexpr char kSeamRemovableName[] = "Removable Mic";
// A second render endpoint, which makeDefaultRender makes the default.
inline constexpr char kSeamOtherSpeakersName[] = "Headphones";

// What a platform leg tells the cases about the audio system it set up. Its
// default render endpoint has something playing, so that loopback hears it.
struct SeamWorld {
  const char* platform;        // the key of the differences table: "sim", "pulse", "wine10"
  const char* microphoneName;  // an active capture endpoint that delivers steadily
  const char* removableName;   // an active capture endpoint that removeDevice() takes away
  // Takes the removable endpoint away as an unplugged microphone goes; false
  // when that failed.
  bool (*removeDevice)();
  // Makes the render endpoint with this identifier the default, the way the
  // platform's user does; false when that failed.
  bool (*makeDefaultRender)(const char* endpointId);
};

// Runs every case against the platform linked in; the process exit status.
int runSeamCases(const SeamWorld& world);

// A platform answering other than WASAPI, on purpose or for a known reason.
struct SeamDifference {
  const char* platform;
  const char* rule;
  const char* check;
  const char* answer;  // what this platform answers instead
  const char* reason;
};
extern const SeamDifference kSeamDifferences[];
extern const int kSeamDifferenceCount;

// The checks of one run: each compares an answer with WASAPI's, both as text.
class SeamChecks {
 public:
  explicit SeamChecks(const char* platform) : platform_(platform) {}

  void beginRule(const char* rule, const char* seen, const char* statement);
  // True when the platform answered as WASAPI does.
  bool expect(const char* check, const std::string& answered, const std::string& wasapi);
  bool expectStatus(const char* check, HRESULT answered, HRESULT wasapi);
  bool expectYes(const char* check, bool answered);
  // A measured figure, printed for the reader and never compared.
  void note(const char* what, const std::string& figure);
  // Prints the table of differences and the totals; the exit status.
  int finish();

 private:
  const SeamDifference* listedDifference(const char* check) const;

  const char* platform_;
  const char* rule_ = "";
  int passed_ = 0;
  int known_ = 0;
  int failed_ = 0;
  int rules_ = 0;
  bool seen_[64] = {};  // per table row: the difference showed up in this run
};

// "S_OK", "AUDCLNT_E_OUT_OF_ORDER (0x88890007)", ...
std::string statusText(HRESULT status);
