// Which endpoint a --mic value chooses, and where each source lands in the
// slot table, seen from the "started" line and the fault line.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <vector>

#include "tests/support/sim_run.h"
#include "tests/support/sim_worlds.h"

namespace {
using nlohmann::json;

constexpr char kHeadsetId[] = "{0.0.1.00000000}.{AB12cd34-0000-4000-8000-00000000000a}";
constexpr char kUsbId[] = "{0.0.1.00000000}.{0000beef-0000-4000-8000-00000000000b}";
const std::string kLongName(300, 'L');

json capture(const std::string& id, const json& name, const json& extra = json::object()) {
  json item = {{"flow", "capture"}, {"id", id}, {"name", name}};
  item.merge_patch(extra);
  return item;
}

// Collection order matters: the first endpoint that answers wins.
std::string selectionWorld() {
  const json endpoints = json::array({
      capture(kHeadsetId, "Headset Mic"),
      capture("{0.0.1.00000000}.{named-like-usb}", kUsbId),  // its name is the USB mic's identifier
      capture(kUsbId, "USB Mic", {{"default", true}}),
      capture("{0.0.1.00000000}.{twin-1}", "Twin"),
      capture("{0.0.1.00000000}.{twin-2}", "TWIN"),
      capture("{0.0.1.00000000}.{old}", "Old Mic", {{"state", "unplugged"}}),
      capture("{0.0.1.00000000}.{dead}", "Dead Mic", {{"state", "disabled"}}),
      capture("{0.0.1.00000000}.{accent}",
              "\xc3\x89"
              "cho"),  // "Écho"
      capture("{0.0.1.00000000}.{long}", kLongName),
      speakerEndpoint(),
  });
  return json({{"endpoints", endpoints}, {"stop", {{"controlEventAtMs", 100}}}}).dump();
}

std::string upper(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

struct SelectionCase {
  const char* name;
  std::string micValue;
  const char* chosenName;  // friendly name in the started line; null: target missing
};

// Failures name the case, not its bytes.
void PrintTo(const SelectionCase& row, std::ostream* out) { *out << row.name; }

std::vector<SelectionCase> selectionCases() {
  return {
      {"DefaultLowerCase", "default", "USB Mic"},
      {"DefaultUpperCase", "DEFAULT", "USB Mic"},
      {"DefaultMixedCase", "dEfAuLt", "USB Mic"},
      {"IdentifierAsListed", kHeadsetId, "Headset Mic"},
      {"IdentifierInOtherCase", upper(kHeadsetId), "Headset Mic"},
      {"InstanceIdForm", std::string("SWD\\MMDEVAPI\\") + kHeadsetId, "Headset Mic"},
      {"InstanceIdFormAfterAnyPrefix", std::string("whatever MMDEVAPI\\") + kHeadsetId, "Headset Mic"},
      {"LowerCasePrefixIsNotRecognised", std::string("swd\\mmdevapi\\") + kHeadsetId, nullptr},
      {"FriendlyNameInOtherCase", "hEADSET mIC", "Headset Mic"},
      {"FirstOfTwoEqualNames", "twin", "Twin"},
      {"EarlierNameMatchBeatsLaterIdentifierMatch", kUsbId, kUsbId},
      {"UnpluggedByName", "Old Mic", nullptr},
      {"UnpluggedById", "SWD\\MMDEVAPI\\{0.0.1.00000000}.{old}", nullptr},
      {"DisabledByName", "Dead Mic", nullptr},
      {"NonAsciiExact",
       "\xc3\x89"
       "cho",
       "\xc3\x89"
       "cho"},
      {"NonAsciiOtherCaseDoesNotFold",
       "\xc3\xa9"
       "cho",
       nullptr},
      // The long name reads as empty, yet an empty selector does not choose it.
      {"EmptySelector", "", nullptr},
      {"EmptyIdentifierKey", "SWD\\MMDEVAPI\\", nullptr},
      {"LongNameSelectsByIdAndReportsEmpty", "{0.0.1.00000000}.{LONG}", ""},
      {"LongNameCannotBeSelectedByName", kLongName, nullptr},
  };
}

class SelectionRows : public testing::TestWithParam<SelectionCase> {};

TEST_P(SelectionRows, ChoosesTheFirstAnsweringActiveEndpoint) {
  const SelectionCase& row = GetParam();
  const SimRun run = runSim(selectionWorld(), {"--mic", row.micValue});
  ASSERT_FALSE(run.events.empty()) << run.result.standardError;
  if (row.chosenName == nullptr) {
    EXPECT_EQ(run.result.exitStatus, 3);
    ASSERT_EQ(run.events.size(), 1u);
    EXPECT_EQ(
        run.events[0],
        json({{"event", "fault"}, {"reason", "capture.targetMissing"}, {"detail", row.micValue}, {"slot", "mic"}}));
    EXPECT_EQ(run.result.standardOutput, "");
  } else {
    EXPECT_EQ(run.result.exitStatus, 0) << run.result.standardError;
    EXPECT_EQ(run.events[0]["event"], "started");
    EXPECT_EQ(run.events[0]["mic"], row.chosenName);
    EXPECT_EQ(run.events[0]["slots"], json::array({"mic"}));
    EXPECT_EQ(run.events[0]["system"], "");
  }
}

INSTANTIATE_TEST_SUITE_P(AudiotapSim, SelectionRows, testing::ValuesIn(selectionCases()),
                         [](const auto& info) { return std::string(info.param.name); });

struct PlacementCase {
  std::vector<std::string> arguments;
  std::string startedLine;
};

TEST(AudiotapSimSelection, MicrophoneIsEntryZeroAndDesktopTakesTheNextEntry) {
  const std::vector<PlacementCase> cases = {
      {{"--system", ""},
       R"({"event":"started","slots":["desktop"],"mic":"","system":"Speakers","clock":"qpc","deviceRate":{"desktop":44100}})"},
      {{"--mic", "default"},
       R"({"event":"started","slots":["mic"],"mic":"Desk Mic","system":"","clock":"qpc","deviceRate":{"mic":48000}})"},
      {{"--system", "0", "--bogus", "--mic", "default"},
       R"({"event":"started","slots":["mic","desktop"],"mic":"Desk Mic","system":"Speakers","clock":"qpc","deviceRate":{"mic":48000,"desktop":44100}})"},
  };
  for (const auto& placement : cases) {
    const SimRun run = runSim(twoEndpointWorld(), placement.arguments);
    EXPECT_EQ(run.result.exitStatus, 0);
    ASSERT_EQ(run.lines.size(), 2u) << run.result.standardError;
    EXPECT_EQ(run.lines[0], placement.startedLine);
    EXPECT_EQ(run.lines[1], R"({"event":"stopped"})");
    EXPECT_EQ(run.result.standardError.substr(run.result.standardError.size() - 20), "{\"event\":\"stopped\"}\n");
  }
}

TEST(AudiotapSimSelection, WithoutAScenarioTheDefaultWorldCapturesBothSources) {
  const SimRun run = runSim("", {"--mic", "default", "--system", "1"});
  EXPECT_EQ(run.result.exitStatus, 0);
  ASSERT_EQ(run.events.size(), 2u);
  EXPECT_EQ(run.events[0]["slots"], json::array({"mic", "desktop"}));
  // The default world ends by a control event at 10 s.
  EXPECT_EQ(run.result.standardOutput.size(), 2u * 2u * (16u * 10000u - 960u));
}

}  // namespace
