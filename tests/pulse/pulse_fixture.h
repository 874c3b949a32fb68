// What the platform tests share: a private server per test, COM references
// that release themselves, and the logic's own way of opening and draining a
// capture stream.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/core_audio.h"
#include "tests/support/com_ref.h"
#include "tests/pulse/private_pulse_server.h"

std::string utf8Of(LPCWSTR text);

struct EndpointView {
  std::string id;
  std::string friendlyName;
  DWORD state = 0;
};
std::vector<EndpointView> listEndpoints(IMMDeviceEnumerator* enumerator, EDataFlow flow, DWORD stateMask);
EndpointView viewOf(IMMDevice* device);

// A started capture stream on an endpoint, as the logic opens one: the mix
// format unchanged, 200 ms, shared mode, loopback for a render endpoint.
struct OpenedStream {
  Ref<IAudioClient> client;
  Ref<IAudioCaptureClient> capture;
  WAVEFORMATEX* format = nullptr;
  ~OpenedStream() { CoTaskMemFree(format); }
};
HRESULT openStream(IMMDeviceEnumerator* enumerator, EDataFlow flow, const std::string& id, OpenedStream* stream);

struct Captured {
  std::vector<std::uint8_t> bytes;
  std::uint64_t frames = 0;
  int packets = 0;
  HRESULT failure = S_OK;        // the first failing GetBuffer
  HRESULT lost = S_OK;           // the first failing GetNextPacketSize
  bool sizeMismatch = false;     // GetNextPacketSize announced another count than GetBuffer gave
  double longestGapSeconds = 0;  // between two packets, after the first
};
// Drains the stream every 10 ms for the given time, as the capture loop does;
// stops early at a failing GetNextPacketSize or GetBuffer. When waitForData is set, the time counts
// from the first packet, which may take a while: a null sink that nobody
// asked for low latency yet renders in blocks of up to two seconds.
inline constexpr int kFirstDataWaitSeconds = 4;
Captured drainFor(IAudioCaptureClient* capture, const WAVEFORMATEX& format, int milliseconds, bool waitForData = true);

class PulseSeamTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  IMMDeviceEnumerator* enumerator();
  // An enumerator sees the server as it was at its first call, as one run of
  // the program does; a test that changed the server since asks for a new one.
  IMMDeviceEnumerator* freshEnumerator();
  // A steady capture source: a remap of a null sink's monitor into which a
  // tone plays. (module-sine-source has a fixed two-second latency and hands
  // its data over in two-second bursts.)
  void addMicrophone(const std::string& name, const std::string& description, int frequency);

  PrivatePulseServer server;
  Ref<IMMDeviceEnumerator> enumerator_;
};
