// The --list array through audiotap-sim, compared byte for byte, and the
// round trip of an InstanceId back into --mic.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <vector>

#include "tests/support/sim_run.h"
#include "tests/support/sim_worlds.h"

namespace {
using nlohmann::json;

// One record as the listing writes it; name and id must need no escaping
// beyond the instance prefix's backslashes.
std::string record(const char* flow, const std::string& name, const std::string& id, bool active, bool isDefault) {
  return "{\"FriendlyName\":\"" + name + "\",\"InstanceId\":\"SWD\\\\MMDEVAPI\\\\" + id + "\",\"Status\":\"" +
         (active ? "OK" : "Unknown") + "\",\"IsDefault\":" + (isDefault ? "true" : "false") + ",\"Flow\":\"" + flow +
         "\"}";
}

json endpoint(const char* flow, const char* id, const json& extra = json::object()) {
  json item = {{"flow", flow}, {"id", id}, {"name", id}};
  item.merge_patch(extra);
  return item;
}

std::string worldOf(const std::vector<json>& endpoints, const json& top = json::object()) {
  json world = {{"endpoints", json(endpoints)}};
  world.merge_patch(top);
  return world.dump();
}

struct ListingCase {
  const char* name;
  std::string scenario;
  std::string expected;  // the whole of standard output
};

// Failures name the case, not its bytes.
void PrintTo(const ListingCase& row, std::ostream* out) { *out << row.name; }

std::vector<ListingCase> listingCases() {
  const std::string longName(256, 'n');
  const std::string longestName(255, 'n');
  return {
      {"NoEndpointAtAll", worldOf({}), "[]\n"},
      {"CaptureEnumerationFailsRenderStillListedWithoutLeadingComma",
       worldOf({endpoint("capture", "c1"), endpoint("render", "r1"), endpoint("render", "r2", {{"default", true}})},
               {{"fail", {{"EnumAudioEndpoints:capture", "0x80004005"}}}}),
       "[" + record("render", "r1", "r1", true, false) + "," + record("render", "r2", "r2", true, true) + "]\n"},
      {"LoneRenderRecordHasNoComma", worldOf({endpoint("render", "r1", {{"default", true}})}),
       "[" + record("render", "r1", "r1", true, true) + "]\n"},
      {"SeparatorCarriesAcrossFlowsCaptureFirst",
       worldOf({endpoint("render", "r1", {{"default", true}}), endpoint("capture", "c1", {{"default", true}})}),
       "[" + record("capture", "c1", "c1", true, true) + "," + record("render", "r1", "r1", true, true) + "]\n"},
      {"UnpluggedListedDisabledAndAbsentNot",
       worldOf({endpoint("capture", "c1", {{"state", "unplugged"}}), endpoint("capture", "c2", {{"state", "disabled"}}),
                endpoint("capture", "c3", {{"state", "notpresent"}}), endpoint("capture", "c4", {{"default", true}}),
                endpoint("render", "r1", {{"default", true}}), endpoint("render", "r2", {{"state", "unplugged"}})}),
       "[" + record("capture", "c1", "c1", false, false) + "," + record("capture", "c4", "c4", true, true) + "," +
           record("render", "r1", "r1", true, true) + "," + record("render", "r2", "r2", false, false) + "]\n"},
      {"NoDefaultPlaybackMeansNoTrue", worldOf({endpoint("render", "r1"), endpoint("render", "r2")}),
       "[" + record("render", "r1", "r1", true, false) + "," + record("render", "r2", "r2", true, false) + "]\n"},
      {"DefaultComparisonIsCaseSensitive",
       worldOf({endpoint("capture", "{ab}", {{"default", true}}), endpoint("capture", "{AB}")}),
       "[" + record("capture", "{ab}", "{ab}", true, true) + "," + record("capture", "{AB}", "{AB}", true, false) +
           "]\n"},
      {"UnreadableDefaultIdentifierMarksNothing",
       worldOf({endpoint("capture", "c1", {{"default", true}, {"fail", {{"GetId", "0x8007000e"}}}}),
                endpoint("capture", "c2")}),
       "[" + record("capture", "c1", "", true, false) + "," + record("capture", "c2", "c2", true, false) + "]\n"},
      {"FailedItemLeftOutFailedStateUnknown",
       worldOf({endpoint("capture", "c1", {{"fail", {{"Item", "0x80004005"}}}}),
                endpoint("capture", "c2", {{"fail", {{"GetState", "0x80004005"}}}})}),
       "[" + record("capture", "c2", "c2", false, false) + "]\n"},
      {"NamesThatCannotBeReadAreEmpty",
       worldOf({endpoint("capture", "c1", {{"name", nullptr}}), endpoint("capture", "c2", {{"name", 7}}),
                endpoint("capture", "c3", {{"name", longName}}), endpoint("capture", "c4", {{"name", longestName}}),
                endpoint("capture", "c5", {{"fail", {{"OpenPropertyStore", "0x80070005"}}}}),
                endpoint("capture", "c6", {{"fail", {{"GetValue", "0x80004005"}}}})}),
       "[" + record("capture", "", "c1", true, false) + "," + record("capture", "", "c2", true, false) + "," +
           record("capture", "", "c3", true, false) + "," + record("capture", longestName, "c4", true, false) + "," +
           record("capture", "", "c5", true, false) + "," + record("capture", "", "c6", true, false) + "]\n"},
      {"EscapingOfNamesAndIdentifiers",
       worldOf({endpoint("capture", "{q\"b\\}", {{"name", "Mic \"Pro\" \\ 1\ttab\x1f\x7f \xc3\xa9"}})}),
       "[{\"FriendlyName\":\"Mic \\\"Pro\\\" \\\\ 1\\u0009tab\\u001f\x7f \xc3\xa9\","
       "\"InstanceId\":\"SWD\\\\MMDEVAPI\\\\{q\\\"b\\\\}\",\"Status\":\"OK\",\"IsDefault\":false,\"Flow\":\"capture\"}]"
       "\n"},
      // 255 quotation marks would escape to 510 bytes; the bound keeps 253 of them.
      {"EscapedNameIsCutAtItsBound", worldOf({endpoint("capture", "c1", {{"name", std::string(255, '"')}})}),
       "[{\"FriendlyName\":\"" +
           [] {
             std::string cut;
             for (int i = 0; i < 253; ++i) cut += "\\\"";
             return cut;
           }() +
           "\",\"InstanceId\":\"SWD\\\\MMDEVAPI\\\\c1\",\"Status\":\"OK\",\"IsDefault\":false,\"Flow\":\"capture\"}]"
           "\n"},
      // An empty identifier never matches: with no default, or an unreadable
      // one, no record claims to be the default.
      {"IdentifierOverItsBufferLeavesThePrefix", worldOf({endpoint("capture", "x", {{"id", std::string(512, 'i')}})}),
       "[" + record("capture", "x", "", true, false) + "]\n"},
      {"UnreadableIdentifiersAreNeverTheDefault",
       worldOf({endpoint("render", "r1", {{"fail", {{"GetId", "0x80004005"}}}}),
                endpoint("render", "r2", {{"default", true}, {"fail", {{"GetId", "0x80004005"}}}}),
                endpoint("render", "r3", {{"id", std::string(511, 'i')}})}),
       "[" + record("render", "r1", "", true, false) + "," + record("render", "r2", "", true, false) + "," +
           record("render", "r3", std::string(511, 'i'), true, false) + "]\n"},
  };
}

class ListingRows : public testing::TestWithParam<ListingCase> {};

TEST_P(ListingRows, PrintsTheArrayByteForByte) {
  const SimRun run = runSim(GetParam().scenario, {"--list"});
  EXPECT_EQ(run.result.exitStatus, 0);
  EXPECT_EQ(run.result.standardError, "");
  EXPECT_EQ(run.result.standardOutput, GetParam().expected);
  const json parsed = json::parse(run.result.standardOutput);
  ASSERT_TRUE(parsed.is_array());
  for (const auto& item : parsed) {
    ASSERT_EQ(item.size(), 5u);
    EXPECT_TRUE(item["IsDefault"].is_boolean());
  }
}

INSTANTIATE_TEST_SUITE_P(AudiotapSim, ListingRows, testing::ValuesIn(listingCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(AudiotapSimListing, ArgumentsAroundListAreIgnored) {
  const std::string world = twoEndpointWorld();
  const SimRun plain = runSim(world, {"--list"});
  const SimRun surrounded = runSim(world, {"--mic", "nothing", "--list", "--system", "1"});
  EXPECT_EQ(surrounded.result.standardOutput, plain.result.standardOutput);
  EXPECT_EQ(surrounded.result.exitStatus, 0);
  EXPECT_EQ(surrounded.result.standardError, "");
}

TEST(AudiotapSimListing, AnInstanceIdReadBackSelectsItsEndpointUnlessUnplugged) {
  const std::string world =
      worldOf({endpoint("capture", "{0.0.1.00000000}.{first}", {{"name", "First"}}),
               endpoint("capture", "{0.0.1.00000000}.{second}", {{"name", "Second"}}),
               endpoint("capture", "{0.0.1.00000000}.{gone}", {{"name", "Gone"}, {"state", "unplugged"}})},
              {{"stop", {{"controlEventAtMs", 100}}}});
  const json listing = json::parse(runSim(world, {"--list"}).result.standardOutput);
  ASSERT_EQ(listing.size(), 3u);
  for (const auto& item : listing) {
    const std::string instanceId = item["InstanceId"];
    ASSERT_EQ(instanceId.rfind("SWD\\MMDEVAPI\\", 0), 0u) << instanceId;
    const SimRun run = runSim(world, {"--mic", instanceId});
    if (item["Status"] == "OK") {
      ASSERT_EQ(run.result.exitStatus, 0) << run.result.standardError;
      EXPECT_EQ(run.events.at(0)["mic"], item["FriendlyName"]);
    } else {
      EXPECT_EQ(run.result.exitStatus, 3);
      EXPECT_EQ(run.events.at(0)["reason"], "capture.targetMissing");
      EXPECT_EQ(run.events.at(0)["detail"], instanceId);
    }
  }
}

}  // namespace
