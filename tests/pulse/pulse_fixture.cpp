#include "tests/pulse/pulse_fixture.h"

#include <chrono>
#include <algorithm>
#include <cstring>

#include "tests/support/test_legs.h"

std::string utf8Of(LPCWSTR text) {
  char buffer[1024];
  const int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, buffer, sizeof buffer, nullptr, nullptr);
  return length > 0 ? std::string(buffer) : std::string();
}

EndpointView viewOf(IMMDevice* device) {
  EndpointView view;
  LPWSTR id = nullptr;
  if (SUCCEEDED(device->GetId(&id))) view.id = utf8Of(id);
  CoTaskMemFree(id);
  Ref<IPropertyStore> store;
  if (SUCCEEDED(device->OpenPropertyStore(STGM_READ, store.out()))) {
    PROPVARIANT value;
    PropVariantInit(&value);
    if (SUCCEEDED(store->GetValue(PKEY_Device_FriendlyName, &value)) && value.vt == VT_LPWSTR)
      view.friendlyName = utf8Of(value.pwszVal);
    PropVariantClear(&value);
  }
  device->GetState(&view.state);
  return view;
}

std::vector<EndpointView> listEndpoints(IMMDeviceEnumerator* enumerator, EDataFlow flow, DWORD stateMask) {
  std::vector<EndpointView> views;
  Ref<IMMDeviceCollection> collection;
  if (FAILED(enumerator->EnumAudioEndpoints(flow, stateMask, collection.out()))) return views;
  UINT count = 0;
  collection->GetCount(&count);
  for (UINT i = 0; i < count; ++i) {
    Ref<IMMDevice> device;
    if (SUCCEEDED(collection->Item(i, device.out()))) views.push_back(viewOf(device.get()));
  }
  return views;
}

HRESULT openStream(IMMDeviceEnumerator* enumerator, EDataFlow flow, const std::string& id, OpenedStream* stream) {
  Ref<IMMDeviceCollection> collection;
  HRESULT status = enumerator->EnumAudioEndpoints(flow, DEVICE_STATE_ACTIVE, collection.out());
  if (FAILED(status)) return status;
  UINT count = 0;
  collection->GetCount(&count);
  for (UINT i = 0; i < count; ++i) {
    Ref<IMMDevice> device;
    if (FAILED(collection->Item(i, device.out())) || viewOf(device.get()).id != id) continue;
    if (FAILED(status = device->Activate(IID_IAudioClient, CLSCTX_ALL, nullptr, stream->client.outVoid())))
      return status;
    if (FAILED(status = stream->client->GetMixFormat(&stream->format))) return status;
    const DWORD flags = flow == eRender ? AUDCLNT_STREAMFLAGS_LOOPBACK : 0;
    if (FAILED(status =
                   stream->client->Initialize(AUDCLNT_SHAREMODE_SHARED, flags, 2000000, 0, stream->format, nullptr)))
      return status;
    if (FAILED(status = stream->client->GetService(IID_IAudioCaptureClient, stream->capture.outVoid()))) return status;
    return stream->client->Start();
  }
  return HRESULT_ERROR_NOT_FOUND;
}

Captured drainFor(IAudioCaptureClient* capture, const WAVEFORMATEX& format, int milliseconds, bool waitForData) {
  Captured captured;
  std::chrono::steady_clock::time_point lastPacket;
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  if (waitForData) end += std::chrono::seconds(kFirstDataWaitSeconds);
  while (std::chrono::steady_clock::now() < end) {
    Sleep(10);
    UINT32 announced = 0;
    for (;;) {
      const HRESULT next = capture->GetNextPacketSize(&announced);
      if (FAILED(next)) {
        captured.lost = next;
        return captured;
      }
      if (announced == 0) break;
      BYTE* data = nullptr;
      UINT32 frames = 0;
      DWORD flags = 0;
      const HRESULT status = capture->GetBuffer(&data, &frames, &flags, nullptr, nullptr);
      if (FAILED(status)) {
        captured.failure = status;
        return captured;
      }
      if (frames != announced) captured.sizeMismatch = true;
      const std::size_t bytes = static_cast<std::size_t>(frames) * format.nBlockAlign;
      if ((flags & AUDCLNT_BUFFERFLAGS_SILENT) != 0) {
        captured.bytes.insert(captured.bytes.end(), bytes, 0);
      } else {
        captured.bytes.insert(captured.bytes.end(), data, data + bytes);
      }
      const auto now = std::chrono::steady_clock::now();
      if (waitForData && captured.frames == 0) end = now + std::chrono::milliseconds(milliseconds);
      if (captured.packets > 0)
        captured.longestGapSeconds =
            std::max(captured.longestGapSeconds, std::chrono::duration<double>(now - lastPacket).count());
      lastPacket = now;
      captured.frames += frames;
      ++captured.packets;
      capture->ReleaseBuffer(frames);
    }
  }
  return captured;
}

void PulseSeamTest::addMicrophone(const std::string& name, const std::string& description, int frequency) {
  const std::string feed = name + "_feed";
  ASSERT_GE(server.loadModule({"module-null-sink", "sink_name=" + feed, "rate=48000", "format=float32le"}), 0);
  ASSERT_GE(server.loadModule({"module-remap-source", "source_name=" + name, "master=" + feed + ".monitor",
                               "source_properties=\"device.description='" + description + "'\""}),
            0);
  server.playTone(feed, frequency);
  ASSERT_TRUE(server.waitForPlayback(feed, 1));
}

void PulseSeamTest::SetUp() {
  if (!PrivatePulseServer::installed()) {
    if (everyLegMustRun()) FAIL() << "pulseaudio and pactl are not installed, and under CI every leg must run";
    GTEST_SKIP() << "pulseaudio and pactl are not installed";
  }
  ASSERT_TRUE(server.start()) << "the private PulseAudio server did not start";
}

void PulseSeamTest::TearDown() {
  enumerator_.reset();
  server.stop();
}

IMMDeviceEnumerator* PulseSeamTest::enumerator() {
  if (!enumerator_) {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    const HRESULT status =
        CoCreateInstance(CLSID_MMDeviceEnumerator, nullptr, CLSCTX_ALL, IID_IMMDeviceEnumerator, enumerator_.outVoid());
    EXPECT_EQ(status, S_OK);
  }
  return enumerator_.get();
}

IMMDeviceEnumerator* PulseSeamTest::freshEnumerator() {
  enumerator_.reset();
  return enumerator();
}
