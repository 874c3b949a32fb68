// Endpoints as the platform shows them, checked against what pactl says
// about the same private server.
#include <gtest/gtest.h>

#include <chrono>

#include "platform/pulse/pulse_inventory.h"
#include "tests/pulse/pulse_fixture.h"

namespace {

using EndpointListing = PulseSeamTest;

std::vector<std::pair<std::string, std::string>> namesAndDescriptions(const std::vector<EndpointView>& views) {
  std::vector<std::pair<std::string, std::string>> pairs;
  for (const auto& view : views) pairs.emplace_back(view.id, view.friendlyName);
  return pairs;
}

std::vector<std::pair<std::string, std::string>> pactlDevices(const PrivatePulseServer& server, const char* kind,
                                                              bool monitors) {
  std::vector<std::pair<std::string, std::string>> pairs;
  for (const auto& device : parsePactlList(server.pactl({"list", kind})))
    if (monitors || device.monitorOf.empty()) pairs.emplace_back(device.name, device.description);
  return pairs;
}

std::string defaultId(IMMDeviceEnumerator* enumerator, EDataFlow flow, HRESULT* status) {
  Ref<IMMDevice> device;
  *status = enumerator->GetDefaultAudioEndpoint(flow, eConsole, device.out());
  return device ? viewOf(device.get()).id : std::string();
}

TEST_F(EndpointListing, SinksAndNonMonitorSourcesWithNamesDescriptionsAndDefaultsAsPactlHasThem) {
  ASSERT_GE(
      server.loadModule({"module-null-sink", "sink_name=speakers", "sink_properties=device.description=Speakers"}), 0);
  ASSERT_GE(server.loadModule(
                {"module-null-sink", "sink_name=headset", "sink_properties=\"device.description='Casque é 2'\""}),
            0);
  ASSERT_GE(server.loadModule({"module-sine-source", "source_name=tone", "frequency=440"}), 0);
  ASSERT_GE(server.loadModule({"module-sine-source", "source_name=second_tone", "frequency=880"}), 0);
  server.pactl({"set-default-sink", "headset"});
  server.pactl({"set-default-source", "second_tone"});

  const auto capture = listEndpoints(enumerator(), eCapture, DEVICE_STATE_ACTIVE | DEVICE_STATE_UNPLUGGED);
  const auto render = listEndpoints(enumerator(), eRender, DEVICE_STATE_ACTIVE | DEVICE_STATE_UNPLUGGED);
  EXPECT_EQ(namesAndDescriptions(capture), pactlDevices(server, "sources", false));
  EXPECT_EQ(namesAndDescriptions(render), pactlDevices(server, "sinks", true));
  EXPECT_EQ(capture.size(), 2u) << "the two sinks' monitors are loopback, not capture endpoints";
  EXPECT_EQ(render.size(), 2u);
  for (const auto& view : capture) EXPECT_EQ(view.state, DEVICE_STATE_ACTIVE) << view.id;
  for (const auto& view : render) EXPECT_EQ(view.state, DEVICE_STATE_ACTIVE) << view.id;

  HRESULT status = E_FAIL;
  EXPECT_EQ(defaultId(enumerator(), eCapture, &status), "second_tone");
  EXPECT_EQ(status, S_OK);
  EXPECT_EQ(defaultId(enumerator(), eRender, &status), "headset");
  EXPECT_EQ(status, S_OK);

  // The state mask is honoured.
  EXPECT_TRUE(listEndpoints(enumerator(), eCapture, DEVICE_STATE_UNPLUGGED).empty());
  EXPECT_EQ(listEndpoints(enumerator(), eAll, DEVICE_STATE_ACTIVE).size(), 4u);

  // An enumerator keeps the server as it was at its first call, so that one
  // listing or selection is of one moment; a new enumerator sees the changes.
  server.pactl({"set-default-sink", "speakers"});
  ASSERT_GE(server.loadModule({"module-null-sink", "sink_name=late"}), 0);
  EXPECT_EQ(defaultId(enumerator(), eRender, &status), "headset");
  EXPECT_EQ(listEndpoints(enumerator(), eRender, DEVICE_STATE_ACTIVE).size(), 2u);
  EXPECT_EQ(defaultId(freshEnumerator(), eRender, &status), "speakers");
  EXPECT_EQ(listEndpoints(enumerator(), eRender, DEVICE_STATE_ACTIVE).size(), 3u);
}

TEST_F(EndpointListing, WithoutRealSourcesThereIsNoCaptureEndpointNorDefault) {
  // The server then makes a sink's monitor its default source; Windows would
  // have no capture endpoint at all.
  ASSERT_GE(server.loadModule({"module-null-sink", "sink_name=speakers"}), 0);
  ASSERT_EQ(server.pactl({"get-default-source"}), "speakers.monitor\n");

  HRESULT status = S_OK;
  EXPECT_EQ(defaultId(enumerator(), eCapture, &status), "");
  EXPECT_EQ(status, HRESULT_ERROR_NOT_FOUND);
  EXPECT_TRUE(listEndpoints(enumerator(), eCapture, DEVICE_STATE_ACTIVE | DEVICE_STATE_UNPLUGGED).empty());
  EXPECT_EQ(defaultId(enumerator(), eRender, &status), "speakers");
}

TEST_F(EndpointListing, AnEmptyServerHasNoEndpointsAndNoDefaults) {
  HRESULT status = S_OK;
  for (EDataFlow flow : {eCapture, eRender}) {
    EXPECT_TRUE(listEndpoints(enumerator(), flow, DEVICE_STATE_ACTIVE).empty());
    EXPECT_EQ(defaultId(enumerator(), flow, &status), "");
    EXPECT_EQ(status, HRESULT_ERROR_NOT_FOUND);
  }
}

TEST_F(EndpointListing, NoServerMeansNoEnumerator) {
  server.stop();
  char pattern[] = "/tmp/audiotap-noserver-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  setenv("XDG_RUNTIME_DIR", pattern, 1);
  Ref<IMMDeviceEnumerator> created;
  const HRESULT status =
      CoCreateInstance(CLSID_MMDeviceEnumerator, nullptr, CLSCTX_ALL, IID_IMMDeviceEnumerator, created.outVoid());
  EXPECT_EQ(status, AUDCLNT_E_SERVICE_NOT_RUNNING);
  EXPECT_FALSE(created);
  rmdir(pattern);
}

TEST_F(EndpointListing, AServerThatDiedFailsTheQueriesInsteadOfHanging) {
  ASSERT_GE(server.loadModule({"module-null-sink", "sink_name=speakers"}), 0);
  ASSERT_NE(enumerator(), nullptr);
  kill(server.pid(), SIGKILL);
  Ref<IMMDevice> device;
  // The connection notices the death within moments; until then the
  // queries may still be answered from the old connection.
  HRESULT status = S_OK;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (SUCCEEDED(status) && std::chrono::steady_clock::now() < end)
    status = enumerator()->GetDefaultAudioEndpoint(eRender, eConsole, device.out());
  EXPECT_EQ(status, AUDCLNT_E_SERVICE_NOT_RUNNING);
  Ref<IMMDeviceCollection> collection;
  EXPECT_EQ(enumerator()->EnumAudioEndpoints(eRender, DEVICE_STATE_ACTIVE, collection.out()),
            AUDCLNT_E_SERVICE_NOT_RUNNING);
}

TEST(EndpointState, UnpluggedOnlyWhenTheActivePortIsKnownUnavailable) {
  // No module of a private server has ports, so the rule is checked directly.
  struct Case {
    bool hasActivePort;
    pa_port_available_t available;
    DWORD state;
  } cases[] = {
      {false, PA_PORT_AVAILABLE_UNKNOWN, DEVICE_STATE_ACTIVE},
      {true, PA_PORT_AVAILABLE_UNKNOWN, DEVICE_STATE_ACTIVE},
      {true, PA_PORT_AVAILABLE_YES, DEVICE_STATE_ACTIVE},
      {true, PA_PORT_AVAILABLE_NO, DEVICE_STATE_UNPLUGGED},
  };
  for (const auto& c : cases) EXPECT_EQ(endpointState(c.hasActivePort, c.available), c.state) << c.available;
}

}  // namespace
