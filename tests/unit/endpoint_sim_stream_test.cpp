// The simulated stream that endpoint opening hands to the converter: frames
// by the virtual clock, packets, the 200 ms the buffer holds, and the bytes
// of each sample format. The WASAPI rules the stream follows (packet
// hand-over, Start and Stop states, refusals) are the seam-conformance
// suite's, in tests/conformance.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <nlohmann/json.hpp>
#include <vector>

#include "platform/core_audio.h"
#include "platform/sim/sim_scenario.h"
#include "platform/sim/console_and_clock.h"

namespace {
using nlohmann::json;

// Releases its clients on the way out, as a well-behaved COM caller does.
struct OpenStream {
  IAudioClient* client = nullptr;
  IAudioCaptureClient* capture = nullptr;

  OpenStream() = default;
  OpenStream(const OpenStream&) = delete;
  OpenStream(OpenStream&& other) noexcept : client(other.client), capture(other.capture) {
    other.client = nullptr;
    other.capture = nullptr;
  }
  ~OpenStream() {
    if (capture != nullptr) capture->Release();
    if (client != nullptr) client->Release();
  }
};

// Activates, initialises and gets the capture client of the default endpoint
// of the one-endpoint world described by endpoint.
OpenStream openStream(json endpoint) {
  endpoint["id"] = "{s}";
  endpoint["default"] = true;
  sim::useScenarioText(json({{"endpoints", json::array({endpoint})}}).dump());
  simClockReset();
  OpenStream stream;
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  IMMDeviceEnumerator* enumerator = nullptr;
  EXPECT_EQ(CoCreateInstance(CLSID_MMDeviceEnumerator, nullptr, CLSCTX_ALL, IID_IMMDeviceEnumerator,
                             reinterpret_cast<void**>(&enumerator)),
            S_OK);
  IMMDevice* device = nullptr;
  const bool render = endpoint["flow"] == "render";
  EXPECT_EQ(enumerator->GetDefaultAudioEndpoint(render ? eRender : eCapture, eConsole, &device), S_OK);
  EXPECT_EQ(device->Activate(IID_IAudioClient, CLSCTX_ALL, nullptr, reinterpret_cast<void**>(&stream.client)), S_OK);
  WAVEFORMATEX* format = nullptr;
  EXPECT_EQ(stream.client->GetMixFormat(&format), S_OK);
  EXPECT_EQ(stream.client->Initialize(AUDCLNT_SHAREMODE_SHARED, render ? AUDCLNT_STREAMFLAGS_LOOPBACK : 0, 2000000, 0,
                                      format, nullptr),
            S_OK);
  EXPECT_EQ(stream.client->GetService(IID_IAudioCaptureClient, reinterpret_cast<void**>(&stream.capture)), S_OK);
  CoTaskMemFree(format);
  device->Release();
  enumerator->Release();
  return stream;
}

// Reads every ready packet; returns their frame counts and the device
// position of the first.
std::vector<UINT32> drainAll(IAudioCaptureClient* capture, UINT64* firstPosition = nullptr) {
  std::vector<UINT32> packets;
  UINT32 next = 0;
  while (SUCCEEDED(capture->GetNextPacketSize(&next)) && next > 0) {
    BYTE* data = nullptr;
    UINT32 frames = 0;
    DWORD flags = 0;
    UINT64 position = 0;
    EXPECT_EQ(capture->GetBuffer(&data, &frames, &flags, &position, nullptr), S_OK);
    if (packets.empty() && firstPosition != nullptr) *firstPosition = position;
    packets.push_back(frames);
    EXPECT_EQ(capture->ReleaseBuffer(frames), S_OK);
  }
  return packets;
}

TEST(SimulatedStream, DeliversWholePacketsOfTheFramesDueSinceStart) {
  OpenStream stream = openStream({{"flow", "capture"}, {"format", {{"rate", 44100}}}, {"packetFrames", 441}});
  EXPECT_TRUE(drainAll(stream.capture).empty());  // not started
  Sleep(50);
  EXPECT_TRUE(drainAll(stream.capture).empty());
  ASSERT_EQ(stream.client->Start(), S_OK);
  Sleep(9);
  EXPECT_TRUE(drainAll(stream.capture).empty());  // 396.9 frames: no whole packet yet
  Sleep(21);
  EXPECT_EQ(drainAll(stream.capture), std::vector<UINT32>(3, 441));  // 1323 frames at 30 ms
  Sleep(5);
  EXPECT_TRUE(drainAll(stream.capture).empty());
  Sleep(5);
  EXPECT_EQ(drainAll(stream.capture).size(), 1u);
}

TEST(SimulatedStream, HoldsAtMost200MillisecondsAndLosesTheOlderFrames) {
  OpenStream stream = openStream({{"flow", "capture"}, {"format", {{"rate", 48000}}}});
  ASSERT_EQ(stream.client->Start(), S_OK);
  Sleep(1000);
  UINT64 firstPosition = 0;
  const auto packets = drainAll(stream.capture, &firstPosition);
  EXPECT_EQ(packets, std::vector<UINT32>(20, 480));  // 10 ms packets by default
  EXPECT_EQ(firstPosition, 80u * 480u);              // the first 800 ms are gone
}

struct EncodingCase {
  json format;
  double value;
  std::vector<BYTE> firstFrame;
};

TEST(SimulatedStream, EncodesTheSignalInTheEndpointFormat) {
  const std::vector<EncodingCase> cases = {
      {{{"tag", "pcm"}, {"channels", 2}, {"bits", 16}}, 0.5, {0x00, 0x40, 0x00, 0x40}},
      {{{"tag", "pcm"}, {"channels", 1}, {"bits", 16}}, -1.0, {0x01, 0x80}},
      {{{"tag", "pcm"}, {"channels", 1}, {"bits", 24}}, -1.0, {0x01, 0x00, 0x80}},
      {{{"tag", "pcm"}, {"channels", 1}, {"bits", 32}}, 1.0, {0xFF, 0xFF, 0xFF, 0x7F}},
      {{{"tag", "extensible-pcm"}, {"channels", 1}, {"bits", 32}, {"validBits", 24}}, 1.0, {0x00, 0xFF, 0xFF, 0x7F}},
      {{{"tag", "pcm"}, {"channels", 1}, {"bits", 8}}, 0.0, {0x80}},
      {{{"tag", "float"}, {"channels", 1}, {"bits", 32}}, 0.25, {0x00, 0x00, 0x80, 0x3E}},
      {{{"tag", "extensible-float"}, {"channels", 1}, {"bits", 32}}, -2.0, {0x00, 0x00, 0x00, 0xC0}},
  };
  for (const auto& row : cases) {
    OpenStream stream = openStream(
        {{"flow", "render"}, {"format", row.format}, {"signal", {{"kind", "constant"}, {"value", row.value}}}});
    ASSERT_EQ(stream.client->Start(), S_OK);
    Sleep(10);
    BYTE* data = nullptr;
    UINT32 frames = 0;
    DWORD flags = 0;
    ASSERT_EQ(stream.capture->GetBuffer(&data, &frames, &flags, nullptr, nullptr), S_OK) << row.format.dump();
    EXPECT_EQ(flags, 0u);
    EXPECT_EQ(std::vector<BYTE>(data, data + row.firstFrame.size()), row.firstFrame) << row.format.dump();
    stream.capture->ReleaseBuffer(frames);
  }
}

TEST(SimulatedStream, SilenceIsFlaggedAndNoneDeliversNothing) {
  OpenStream silent = openStream({{"flow", "capture"}, {"signal", {{"kind", "silence"}}}});
  ASSERT_EQ(silent.client->Start(), S_OK);
  Sleep(10);
  BYTE* data = nullptr;
  UINT32 frames = 0;
  DWORD flags = 0;
  ASSERT_EQ(silent.capture->GetBuffer(&data, &frames, &flags, nullptr, nullptr), S_OK);
  EXPECT_EQ(flags, AUDCLNT_BUFFERFLAGS_SILENT);
  EXPECT_EQ(frames, 480u);

  OpenStream quiet = openStream({{"flow", "render"}, {"signal", {{"kind", "none"}}}});
  ASSERT_EQ(quiet.client->Start(), S_OK);
  Sleep(1000);
  EXPECT_TRUE(drainAll(quiet.capture).empty());
}

}  // namespace
