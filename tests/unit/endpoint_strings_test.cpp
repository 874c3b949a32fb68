// Endpoint identifiers and friendly names as UTF-8 in fixed buffers, read from
// the simulated devices.
#include "endpoints/endpoint_strings.h"

#include <gtest/gtest.h>

#include <cstring>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "platform/core_audio.h"
#include "platform/sim/sim_scenario.h"

namespace {
using nlohmann::json;

// The first capture endpoint of a one-endpoint world.
IMMDevice* deviceOf(const json& endpoint) {
  sim::useScenarioText(json({{"endpoints", json::array({endpoint})}}).dump());
  EXPECT_GE(CoInitializeEx(nullptr, COINIT_MULTITHREADED), 0);
  IMMDeviceEnumerator* enumerator = nullptr;
  EXPECT_EQ(CoCreateInstance(CLSID_MMDeviceEnumerator, nullptr, CLSCTX_ALL, IID_IMMDeviceEnumerator,
                             reinterpret_cast<void**>(&enumerator)),
            S_OK);
  IMMDeviceCollection* collection = nullptr;
  EXPECT_EQ(enumerator->EnumAudioEndpoints(eCapture, DEVICE_STATE_ACTIVE, &collection), S_OK);
  IMMDevice* device = nullptr;
  EXPECT_EQ(collection->Item(0, &device), S_OK);
  collection->Release();
  enumerator->Release();
  return device;
}

struct TextCase {
  const char* name;
  json endpoint;
  std::string expectedId;
  std::string expectedName;
};

TEST(EndpointStrings, ReadAsUtf8OrEmptyOnAnyFailure) {
  const std::string id511(511, 'i');
  const std::string name255 = std::string(253, 'n') + "\xc3\xa9";  // 255 bytes once in UTF-8
  const std::string name256 = std::string(254, 'n') + "\xc3\xa9";
  const std::vector<TextCase> cases = {
      {"plain", {{"id", "{a}"}, {"name", "Mic"}}, "{a}", "Mic"},
      {"non-ascii",
       {{"id", "{\xe2\x82\xac}"}, {"name", "Micro \xf0\x9f\x8e\xa4"}},
       "{\xe2\x82\xac}",
       "Micro \xf0\x9f\x8e\xa4"},
      {"longest that fit", {{"id", id511}, {"name", name255}}, id511, name255},
      {"one byte too long", {{"id", id511 + "i"}, {"name", name256}}, "", ""},
      {"name missing", {{"id", "{a}"}, {"name", nullptr}}, "{a}", ""},
      {"name not text", {{"id", "{a}"}, {"name", 42}}, "{a}", ""},
      {"calls fail",
       {{"id", "{a}"}, {"name", "Mic"}, {"fail", {{"GetId", "0x80004005"}, {"GetValue", "0x80004005"}}}},
       "",
       ""},
      {"store refused", {{"id", "{a}"}, {"name", "Mic"}, {"fail", {{"OpenPropertyStore", "0x80070005"}}}}, "{a}", ""},
  };
  for (const auto& row : cases) {
    json endpoint = row.endpoint;
    endpoint["flow"] = "capture";
    IMMDevice* device = deviceOf(endpoint);
    ASSERT_NE(device, nullptr) << row.name;
    char id[kEndpointIdSize];
    char name[256];
    std::memset(id, 'x', sizeof id);
    std::memset(name, 'x', sizeof name);
    readEndpointId(device, id, sizeof id);
    readFriendlyName(device, name, sizeof name);
    EXPECT_EQ(std::string(id), row.expectedId) << row.name;
    EXPECT_EQ(std::string(name), row.expectedName) << row.name;
    device->Release();
  }
}

}  // namespace
