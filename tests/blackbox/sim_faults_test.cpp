// Every way a run ends in a fault, through audiotap-sim: the exact line, the
// exit status, and nothing on standard output.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <vector>

#include "tests/support/sim_run.h"
#include "tests/support/sim_worlds.h"

namespace {
using nlohmann::json;

struct FaultCase {
  const char* name;
  std::string scenario;
  std::vector<std::string> arguments;
  std::vector<std::string> expectedLines;  // exact standard-error lines
  int status;
};

// Failures name the case, not its bytes.
void PrintTo(const FaultCase& row, std::ostream* out) { *out << row.name; }

json failing(const char* call, const char* status) { return {{"fail", {{call, status}}}}; }

const std::string kBoth = twoEndpointWorld();

std::string repeated(const std::string& unit, int count) {
  std::string text;
  for (int i = 0; i < count; ++i) text += unit;
  return text;
}

std::vector<FaultCase> faultCases() {
  const auto mic = [](const json& patch) { return twoEndpointWorld(patch); };
  const auto speaker = [](const json& patch) { return twoEndpointWorld(json::object(), patch); };
  const auto top = [](const json& patch) { return twoEndpointWorld(json::object(), json::object(), patch); };
  const std::string started =
      R"({"event":"started","slots":["mic"],"mic":"Desk Mic","system":"","clock":"qpc","deviceRate":{"mic":48000}})";
  const std::string startedBoth =
      R"({"event":"started","slots":["mic","desktop"],"mic":"Desk Mic","system":"Speakers","clock":"qpc",)"
      R"("deviceRate":{"mic":48000,"desktop":44100}})";
  return {
      {"CoInitializeExFailsInCapture",
       top(failing("CoInitializeEx", "0x8000ffff")),
       {"--mic", "default"},
       {faultLine("capture.separateUnavailable", "CoInitializeEx:0x8000ffff", nullptr)},
       3},
      {"EnumeratorMissingInCapture",
       top(failing("CoCreateInstance", "0x80040154")),
       {"--system", "1"},
       {faultLine("capture.separateUnavailable", "MMDeviceEnumerator:0x80040154", nullptr)},
       3},
      {"EnumeratorMissingInList",
       top(failing("CoCreateInstance", "0x80040154")),
       {"--list"},
       {faultLine("capture.separateUnavailable", "MMDeviceEnumerator:0x80040154", nullptr)},
       3},
      {"DefaultMicMissing",
       mic({{"default", false}}),
       {"--mic", "DeFault", "--system", "1"},
       {faultLine("capture.targetMissing", "DeFault", "mic")},
       3},
      {"DefaultMicLookupFails",
       top(failing("GetDefaultAudioEndpoint:capture", "0x80070490")),
       {"--mic", "default"},
       {faultLine("capture.targetMissing", "default", "mic")},
       3},
      {"MicSearchEnumerationFails",
       top(failing("EnumAudioEndpoints:capture", "0x80004005")),
       {"--mic", "Desk Mic"},
       {faultLine("capture.targetMissing", "Desk Mic", "mic")},
       3},
      {"MicSearchCountFails",
       top(failing("GetCount:capture", "0x80004005")),
       {"--mic", "Desk Mic"},
       {faultLine("capture.targetMissing", "Desk Mic", "mic")},
       3},
      {"MicSearchEmpty",
       R"({"endpoints":[],"stop":{"controlEventAtMs":100}})",
       {"--mic", "x"},
       {faultLine("capture.targetMissing", "x", "mic")},
       3},
      // The detail is the selector as typed, escaped; the desktop is never set up.
      {"MicMatchesNothing",
       speaker(failing("Activate", "0x80070005")),
       {"--system", "1", "--mic", "SWD\\MMDEVAPI\\{nope} \"x\""},
       {faultLine("capture.targetMissing", R"(SWD\\MMDEVAPI\\{nope} \"x\")", "mic")},
       3},
      {"NoDefaultSpeaker",
       speaker({{"default", false}}),
       {"--mic", "default", "--system", "1"},
       {faultLine("capture.targetMissing", "no-output-endpoint:0x80070490", "desktop")},
       3},
      {"DefaultSpeakerLookupFails",
       top(failing("GetDefaultAudioEndpoint:render", "0x88890004")),
       {"--system", "1"},
       {faultLine("capture.targetMissing", "no-output-endpoint:0x88890004", "desktop")},
       3},
      {"MicActivateDenied",
       mic(failing("Activate", "0x80070005")),
       {"--mic", "default"},
       {faultLine("capture.permissionDenied", "Activate:0x80070005", "mic")},
       3},
      {"MicActivateFails",
       mic(failing("Activate", "0x88890004")),
       {"--mic", "default"},
       {faultLine("capture.linkFailed", "Activate:0x88890004", "mic")},
       3},
      {"DesktopActivateDeniedAfterMicOpened",
       speaker(failing("Activate", "0x80070005")),
       {"--mic", "default", "--system", "1"},
       {faultLine("capture.permissionDenied", "Activate:0x80070005", "desktop")},
       3},
      {"DesktopAloneIsStillCalledDesktop",
       speaker(failing("Activate", "0x80070005")),
       {"--system", "0"},
       {faultLine("capture.permissionDenied", "Activate:0x80070005", "desktop")},
       3},
      {"MixFormatDeniedIsALinkFailure",
       mic(failing("GetMixFormat", "0x80070005")),
       {"--mic", "default"},
       {faultLine("capture.linkFailed", "GetMixFormat:0x80070005", "mic")},
       3},
      {"InitializeDenied",
       speaker(failing("Initialize", "0x80070005")),
       {"--system", "1"},
       {faultLine("capture.permissionDenied", "Initialize:0x80070005", "desktop")},
       3},
      {"InitializeFails",
       mic(failing("Initialize", "0x88890008")),
       {"--mic", "default"},
       {faultLine("capture.linkFailed", "Initialize:0x88890008", "mic")},
       3},
      {"GetServiceFails",
       speaker(failing("GetService", "0x88890003")),
       {"--system", "1"},
       {faultLine("capture.linkFailed", "GetService:0x88890003", "desktop")},
       3},
      {"MicStartFails",
       mic(failing("Start", "0x88890004")),
       {"--mic", "default", "--system", "1"},
       {faultLine("capture.linkFailed", "Start:0x88890004", "mic")},
       3},
      {"SecondStartFailsAfterFirstStarted",
       speaker(failing("Start", "0x88890004")),
       {"--mic", "default", "--system", "1"},
       {faultLine("capture.linkFailed", "Start:0x88890004", "desktop")},
       3},
      // Nothing to average or to step by: refused where the format is read.
      {"ZeroChannelMixFormat",
       mic({{"format", {{"channels", 0}}}}),
       {"--mic", "default"},
       {faultLine("capture.linkFailed", "GetMixFormat:0x88890008", "mic")},
       3},
      {"ZeroRateMixFormat",
       speaker({{"format", {{"rate", 0}}}}),
       {"--mic", "default", "--system", "1"},
       {faultLine("capture.linkFailed", "GetMixFormat:0x88890008", "desktop")},
       3},
      {"PacketFetchFailsWhileRunning",
       mic(failing("GetBuffer", "0x88890004")),
       {"--mic", "default"},
       {started, faultLine("capture.stopped", "GetBuffer", "mic")},
       4},
      {"DesktopPacketFetchFailsWhileRunning",
       speaker(failing("GetBuffer", "0x88890004")),
       {"--mic", "default", "--system", "1"},
       {startedBoth, faultLine("capture.stopped", "GetBuffer", "desktop")},
       4},
      // A device or audio service gone for good, seen before any packet.
      {"MicGoneWhileRunning",
       mic(failing("GetNextPacketSize", "0x88890004")),
       {"--mic", "default"},
       {started, faultLine("capture.stopped", "GetNextPacketSize:0x88890004", "mic")},
       4},
      {"AudioServiceGoneWhileRunning",
       speaker(failing("GetNextPacketSize", "0x88890010")),
       {"--mic", "default", "--system", "1"},
       {startedBoth, faultLine("capture.stopped", "GetNextPacketSize:0x88890010", "desktop")},
       4},
      // A selector too long for the detail is cut before a character, never
      // inside one: 168 three-byte letters fit, the 169th would not whole.
      {"LongNonAsciiMicValueIsCutOnACharacter",
       kBoth,
       {"--mic", repeated("\xe3\x83\x9e", 200)},
       {faultLine("capture.targetMissing", repeated("\xe3\x83\x9e", 168), "mic")},
       3},
      // The word after --mic is its value, whatever it looks like.
      {"MicValueThatLooksLikeAnOption",
       kBoth,
       {"--mic", "--list"},
       {faultLine("capture.targetMissing", "--list", "mic")},
       3},
  };
}

class FaultRows : public testing::TestWithParam<FaultCase> {};

TEST_P(FaultRows, WritesExactlyTheFaultLineAndEndsWithItsStatus) {
  const FaultCase& row = GetParam();
  const SimRun run = runSim(row.scenario, row.arguments);
  EXPECT_EQ(run.result.exitStatus, row.status);
  EXPECT_EQ(run.result.standardOutput, "");
  ASSERT_EQ(run.lines, row.expectedLines) << run.result.standardError;
  EXPECT_EQ(run.result.standardError.back(), '\n');
  // Each line is JSON a host can read; the fault is the last one and has the
  // slot key only when it belongs to a slot.
  for (const auto& event : run.events) ASSERT_FALSE(event.is_discarded());
  const json& fault = run.events.back();
  EXPECT_EQ(fault["event"], "fault");
  EXPECT_EQ(fault.contains("slot"), fault.size() == 4u);
}

INSTANTIATE_TEST_SUITE_P(AudiotapSim, FaultRows, testing::ValuesIn(faultCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(AudiotapSimFaults, FailedComStartIsNotReportedInListMode) {
  for (const char* status : {"0x80010106", "0x8007000e"}) {
    const SimRun run = runSim(twoEndpointWorld({}, {}, failing("CoInitializeEx", status)), {"--list"});
    EXPECT_EQ(run.result.exitStatus, 0) << status;
    EXPECT_EQ(run.result.standardError, "") << status;
    EXPECT_EQ(json::parse(run.result.standardOutput).size(), 2u) << status;
  }
}

struct ScenarioProblem {
  const char* name;
  std::string text;
  const char* messagePart;
};

TEST(AudiotapSimScenario, AnUnusableScenarioEndsWithOneClearLineAndStatusTwo) {
  const std::vector<ScenarioProblem> problems = {
      {"not JSON", "{\"endpoints\": [", "is not valid JSON"},
      {"unknown flow", R"({"endpoints":[{"flow":"sideways","id":"x"}]})", "endpoints[0].flow"},
      {"bad status", R"({"fail":{"CoInitializeEx":"denied"}})", "fail.CoInitializeEx"},
      {"unknown call", R"({"fail":{"Explode":"0x80004005"}})", "Explode"},
      {"success as a failure", R"({"endpoints":[{"flow":"capture","id":"x","fail":{"Start":"0x00000001"}}]})",
       "endpoints[0].fail.Start"},
      {"failure as a success", R"({"succeedWith":{"GetCount:render":"0x80004005"}})", "succeedWith.GetCount:render"},
      {"narrow float", R"({"endpoints":[{"flow":"capture","id":"x","format":{"tag":"float","bits":16}}]})",
       "endpoints[0].format.bits"},
      {"huge packet", R"({"endpoints":[{"flow":"capture","id":"x","packetFrames":16777216,"format":{"channels":8}}]})",
       "64 MiB"},
      {"loss status alone", R"({"endpoints":[{"flow":"capture","id":"x","lostStatus":"0x88890004"}]})",
       "endpoints[0].lostStatus"},
      {"negative loss time", R"({"endpoints":[{"flow":"capture","id":"x","lostAtMs":-1}]})", "endpoints[0].lostAtMs"},
      {"bad loss status", R"({"endpoints":[{"flow":"capture","id":"x","lostAtMs":5,"lostStatus":4}]})",
       "endpoints[0].lostStatus"},
      {"pause backwards", R"({"endpoints":[{"flow":"capture","id":"x","pauses":[[500,100]]}]})",
       "endpoints[0].pauses[0]"},
      {"pause not a pair", R"({"endpoints":[{"flow":"capture","id":"x","pauses":[[100]]}]})", "endpoints[0].pauses[0]"},
      {"negative start", R"({"endpoints":[{"flow":"capture","id":"x","startAtMs":-5}]})", "endpoints[0].startAtMs"},
      {"jitter not a number", R"({"endpoints":[{"flow":"capture","id":"x","jitterMs":"some"}]})",
       "endpoints[0].jitterMs"},
      {"two defaults", R"({"endpoints":[{"flow":"capture","id":"a","default":true},
                                        {"flow":"capture","id":"b","default":true}]})",
       "endpoints[1].default"},
  };
  for (const auto& problem : problems) {
    for (const auto& arguments : {std::vector<std::string>{"--list"}, std::vector<std::string>{"--mic", "default"}}) {
      const SimRun run = runSim(problem.text, arguments);
      EXPECT_EQ(run.result.exitStatus, 2) << problem.name;
      EXPECT_EQ(run.result.standardOutput, "") << problem.name;
      ASSERT_EQ(run.lines.size(), 1u) << problem.name << ": " << run.result.standardError;
      EXPECT_NE(run.lines[0].find("audiotap-sim: scenario "), std::string::npos) << run.lines[0];
      EXPECT_NE(run.lines[0].find(problem.messagePart), std::string::npos) << run.lines[0];
    }
  }
}

TEST(AudiotapSimScenario, KeysOfOtherToolsArePassedOver) {
  const SimRun run = runSim(R"({"comment":"made by a host's test kit",
                               "endpoints":[{"flow":"capture","id":"x","name":"Mic","note":"usb"}]})",
                            {"--list"});
  EXPECT_EQ(run.result.exitStatus, 0) << run.result.standardError;
  EXPECT_EQ(json::parse(run.result.standardOutput).at(0).at("FriendlyName"), "Mic");
}

TEST(AudiotapSimScenario, AMissingFileIsReportedButNotReadWhenNoTargetWasGiven) {
  const std::vector<std::pair<std::string, std::string>> missing = {
      {"AUDIOTAP_SIM_SCENARIO", "/nonexistent/audiotap-scenario.json"}};
  const ProcessResult listed = runProcess({AUDIOTAP_SIM_PATH, "--list"}, missing);
  EXPECT_EQ(listed.exitStatus, 2);
  EXPECT_EQ(listed.standardError, "audiotap-sim: scenario /nonexistent/audiotap-scenario.json: cannot be opened\n");
  EXPECT_EQ(listed.standardOutput, "");

  const ProcessResult untargeted = runProcess({AUDIOTAP_SIM_PATH, "--exclude-pid", "7"}, missing);
  EXPECT_EQ(untargeted.exitStatus, 3);
  EXPECT_EQ(untargeted.standardError, faultLine("capture.targetMissing", "no-target", nullptr) + "\n");
}

}  // namespace
