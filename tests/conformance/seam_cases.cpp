// The rules of the seam: for each platform call the logic makes, what it
// passes, what it relies on, and the refusals both fakes copy from WASAPI.
// Each rule says where the behaviour was seen. The same cases run on the
// simulated platform, on the PulseAudio platform and on Windows' own Core
// Audio (under Wine 10), so a fake can only differ where the table of
// differences says so.
#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tests/conformance/seam_check.h"

namespace {

// The capacities the logic reads identifiers and names into.
constexpr int kIdentifierBytes = 512;
constexpr int kNameBytes = 256;
constexpr REFERENCE_TIME kBufferDuration = 2000000;               // 200 ms, as the logic asks
constexpr int kFirstDataWaitMs = 4000;                            // a fresh stream's first packet
constexpr int kRemovalNoticeMs = 3000;                            // how long a removal may take to show
constexpr int kDefaultNoticeMs = 3000;                            // how long a new default may take to be told
constexpr HRESULT kNotFound = static_cast<HRESULT>(0x80070490u);  // HRESULT_FROM_WIN32(ERROR_NOT_FOUND)
// The two sub-formats, spelt out: the mingw headers declare them without
// giving them storage.
constexpr GUID kPcmSubFormat = {0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
constexpr GUID kFloatSubFormat = {0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

struct Probe {
  SeamChecks& checks;
  const SeamWorld& world;
  IMMDeviceEnumerator* enumerator;
};

std::string number(long long value) { return std::to_string(value); }

std::string yesOr(bool condition, const std::string& otherwise) { return condition ? "yes" : otherwise; }

const char* flowName(EDataFlow flow) { return flow == eCapture ? "eCapture" : "eRender"; }

// The labels of checks done per flow: "<what> (eCapture)".
std::string perFlow(const char* what, EDataFlow flow) { return std::string(what) + " (" + flowName(flow) + ")"; }

double secondsNow() {
  LARGE_INTEGER frequency;
  LARGE_INTEGER counter;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

std::string utf8Of(LPCWSTR text, int capacity = 1024) {
  if (text == nullptr) return "";
  std::vector<char> buffer(static_cast<std::size_t>(capacity));
  const int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, buffer.data(), capacity, nullptr, nullptr);
  return length > 0 ? std::string(buffer.data()) : std::string();
}

std::string idOf(IMMDevice* device) {
  LPWSTR id = nullptr;
  if (FAILED(device->GetId(&id))) return "";
  std::string text = utf8Of(id);
  CoTaskMemFree(id);
  return text;
}

std::string friendlyNameOf(IMMDevice* device) {
  Ref<IPropertyStore> store;
  if (FAILED(device->OpenPropertyStore(STGM_READ, store.out()))) return "";
  PROPVARIANT value;
  PropVariantInit(&value);
  std::string name;
  if (SUCCEEDED(store->GetValue(PKEY_Device_FriendlyName, &value)) && value.vt == VT_LPWSTR)
    name = utf8Of(value.pwszVal);
  PropVariantClear(&value);
  return name;
}

// Calls visit(device) for each endpoint EnumAudioEndpoints lists; the status
// of EnumAudioEndpoints, and the failed Items in failedItems.
template <class Visit>
HRESULT forEachEndpoint(IMMDeviceEnumerator* enumerator, EDataFlow flow, DWORD stateMask, Visit visit,
                        int* failedItems = nullptr) {
  Ref<IMMDeviceCollection> collection;
  const HRESULT status = enumerator->EnumAudioEndpoints(flow, stateMask, collection.out());
  if (FAILED(status) || !collection) return status;
  UINT count = 0;
  if (FAILED(collection->GetCount(&count))) count = 0;
  for (UINT index = 0; index < count; ++index) {
    Ref<IMMDevice> device;
    if (FAILED(collection->Item(index, device.out())) || !device) {
      if (failedItems != nullptr) ++*failedItems;
      continue;
    }
    visit(device.get());
  }
  return status;
}

std::vector<std::string> activeIds(IMMDeviceEnumerator* enumerator, EDataFlow flow) {
  std::vector<std::string> ids;
  forEachEndpoint(enumerator, flow, DEVICE_STATE_ACTIVE, [&](IMMDevice* device) { ids.push_back(idOf(device)); });
  return ids;
}

bool contains(const std::vector<std::string>& texts, const std::string& text) {
  for (const std::string& each : texts)
    if (each == text) return true;
  return false;
}

// The active endpoint of a flow with this friendly name, as the logic finds
// a microphone chosen by name.
bool findByName(IMMDeviceEnumerator* enumerator, EDataFlow flow, const char* name, Ref<IMMDevice>* found) {
  forEachEndpoint(enumerator, flow, DEVICE_STATE_ACTIVE, [&](IMMDevice* device) {
    if (!*found && friendlyNameOf(device) == name) {
      device->AddRef();
      *found->out() = device;
    }
  });
  return static_cast<bool>(*found);
}

bool microphone(Probe& probe, Ref<IMMDevice>* device) {
  const bool found = findByName(probe.enumerator, eCapture, probe.world.microphoneName, device);
  probe.checks.expectYes("the world's microphone is listed by its name", found);
  return found;
}

bool defaultRender(Probe& probe, Ref<IMMDevice>* device) {
  return probe.checks.expectStatus("GetDefaultAudioEndpoint(eRender, eConsole)",
                                   probe.enumerator->GetDefaultAudioEndpoint(eRender, eConsole, device->out()), S_OK);
}

bool activate(Probe& probe, IMMDevice* device, Ref<IAudioClient>* client) {
  return probe.checks.expectStatus("Activate(IID_IAudioClient, CLSCTX_ALL, NULL)",
                                   device->Activate(IID_IAudioClient, CLSCTX_ALL, nullptr, client->outVoid()), S_OK);
}

std::size_t formatBytes(const WAVEFORMATEX& format) {
  return sizeof(WAVEFORMATEX) + (format.wFormatTag == WAVE_FORMAT_PCM ? 0 : format.cbSize);
}

// A stream opened as the logic opens one: the mix format unchanged, shared
// mode, 200 ms, loopback on a render endpoint.
struct Stream {
  Ref<IAudioClient> client;
  Ref<IAudioCaptureClient> capture;
  WAVEFORMATEX* format = nullptr;
  Stream() = default;
  Stream(const Stream&) = delete;
  Stream& operator=(const Stream&) = delete;
  ~Stream() { CoTaskMemFree(format); }
};

bool openStream(Probe& probe, IMMDevice* device, DWORD flags, Stream* stream) {
  if (!activate(probe, device, &stream->client)) return false;
  SeamChecks& checks = probe.checks;
  if (!checks.expectStatus("GetMixFormat", stream->client->GetMixFormat(&stream->format), S_OK)) return false;
  if (!checks.expectStatus(
          "Initialize(SHARED, flags, 200 ms, 0, mix format, NULL)",
          stream->client->Initialize(AUDCLNT_SHAREMODE_SHARED, flags, kBufferDuration, 0, stream->format, nullptr),
          S_OK))
    return false;
  return checks.expectStatus("GetService(IID_IAudioCaptureClient)",
                             stream->client->GetService(IID_IAudioCaptureClient, stream->capture.outVoid()), S_OK);
}

// Polls every 10 ms, as the capture loop does, until a packet is announced;
// its size, or 0 at the deadline or on a failure (then in *failure).
UINT32 waitForPacket(IAudioCaptureClient* capture, int milliseconds, HRESULT* failure = nullptr) {
  const double deadline = secondsNow() + milliseconds / 1000.0;
  while (secondsNow() < deadline) {
    UINT32 frames = 0;
    const HRESULT status = capture->GetNextPacketSize(&frames);
    if (FAILED(status)) {
      if (failure != nullptr) *failure = status;
      return 0;
    }
    if (frames > 0) return frames;
    Sleep(10);
  }
  return 0;
}

// ---- the rules ------------------------------------------------------------

void activeEndpointsAreListed(Probe& probe) {
  for (EDataFlow flow : {eCapture, eRender}) {
    UINT count = 0;
    int failedItems = 0;
    bool allActive = true;
    std::vector<std::string> ids;
    const HRESULT status = forEachEndpoint(
        probe.enumerator, flow, DEVICE_STATE_ACTIVE,
        [&](IMMDevice* device) {
          ++count;
          DWORD state = 0;
          if (FAILED(device->GetState(&state)) || state != DEVICE_STATE_ACTIVE) allActive = false;
          ids.push_back(idOf(device));
        },
        &failedItems);
    bool distinct = true;
    for (std::size_t i = 0; i < ids.size(); ++i)
      for (std::size_t k = i + 1; k < ids.size(); ++k) distinct = distinct && ids[i] != ids[k];
    probe.checks.expectStatus(perFlow("EnumAudioEndpoints(flow, DEVICE_STATE_ACTIVE)", flow).c_str(), status, S_OK);
    probe.checks.expectYes(perFlow("at least one endpoint", flow).c_str(), count > 0);
    probe.checks.expect(perFlow("failed Item calls", flow).c_str(), number(failedItems), "0");
    probe.checks.expectYes(perFlow("GetState answers DEVICE_STATE_ACTIVE for each", flow).c_str(), allActive);
    probe.checks.expectYes(perFlow("identifiers differ", flow).c_str(), distinct);
  }
}

void unpluggedAreListedToo(Probe& probe) {
  for (EDataFlow flow : {eCapture, eRender}) {
    const std::vector<std::string> active = activeIds(probe.enumerator, flow);
    std::vector<std::string> listed;
    bool onlyThoseStates = true;
    const HRESULT status =
        forEachEndpoint(probe.enumerator, flow, DEVICE_STATE_ACTIVE | DEVICE_STATE_UNPLUGGED, [&](IMMDevice* device) {
          DWORD state = 0;
          if (FAILED(device->GetState(&state)) || (state != DEVICE_STATE_ACTIVE && state != DEVICE_STATE_UNPLUGGED))
            onlyThoseStates = false;
          listed.push_back(idOf(device));
        });
    bool allActiveListed = true;
    for (const std::string& id : active) allActiveListed = allActiveListed && contains(listed, id);
    probe.checks.expectStatus(perFlow("EnumAudioEndpoints(flow, ACTIVE | UNPLUGGED)", flow).c_str(), status, S_OK);
    probe.checks.expectYes(perFlow("every active endpoint is among them", flow).c_str(), allActiveListed);
    probe.checks.expectYes(perFlow("each is active or unplugged", flow).c_str(), onlyThoseStates);
  }
}

void defaultOfEachFlow(Probe& probe) {
  for (EDataFlow flow : {eCapture, eRender}) {
    Ref<IMMDevice> device;
    if (!probe.checks.expectStatus(perFlow("GetDefaultAudioEndpoint(flow, eConsole)", flow).c_str(),
                                   probe.enumerator->GetDefaultAudioEndpoint(flow, eConsole, device.out()), S_OK))
      continue;
    DWORD state = 0;
    device->GetState(&state);
    probe.checks.expect(perFlow("its state", flow).c_str(), state == DEVICE_STATE_ACTIVE ? "active" : number(state),
                        "active");
    probe.checks.expectYes(perFlow("its identifier is one EnumAudioEndpoints(ACTIVE) lists", flow).c_str(),
                           contains(activeIds(probe.enumerator, flow), idOf(device.get())));
  }
}

void identifiersAreTheCallersText(Probe& probe) {
  for (EDataFlow flow : {eCapture, eRender}) {
    bool allRead = true, allFit = true, stable = true, ownBlocks = true;
    forEachEndpoint(probe.enumerator, flow, DEVICE_STATE_ACTIVE, [&](IMMDevice* device) {
      LPWSTR first = nullptr;
      LPWSTR second = nullptr;
      if (FAILED(device->GetId(&first)) || FAILED(device->GetId(&second)) || first == nullptr || second == nullptr ||
          first[0] == 0) {
        allRead = false;
      } else {
        allFit = allFit && !utf8Of(first, kIdentifierBytes).empty();
        stable = stable && utf8Of(first) == utf8Of(second);
        ownBlocks = ownBlocks && first != second;
      }
      CoTaskMemFree(first);  // the caller's to free
      CoTaskMemFree(second);
    });
    probe.checks.expectYes(perFlow("GetId succeeds with a non-empty text", flow).c_str(), allRead);
    probe.checks.expectYes(perFlow("its UTF-8 fits 512 bytes", flow).c_str(), allFit);
    probe.checks.expectYes(perFlow("a second GetId gives the same text", flow).c_str(), stable);
    probe.checks.expectYes(perFlow("each GetId gives a block of its own", flow).c_str(), ownBlocks);
  }
}

void friendlyNamesAreTheCallersText(Probe& probe) {
  constexpr PROPERTYKEY kNotHeld = {{0x1DA5D803, 0xD492, 0x4EDD, {0x8C, 0x23, 0xE0, 0xC0, 0xFF, 0xEE, 0x7F, 0x0E}}, 99};
  bool microphoneFound = false;
  for (EDataFlow flow : {eCapture, eRender}) {
    bool opened = true, read = true, isText = true, cleared = true, fits = true, otherKeyEmpty = true;
    forEachEndpoint(probe.enumerator, flow, DEVICE_STATE_ACTIVE, [&](IMMDevice* device) {
      Ref<IPropertyStore> store;
      if (FAILED(device->OpenPropertyStore(STGM_READ, store.out())) || !store) {
        opened = false;
        return;
      }
      PROPVARIANT value;
      PropVariantInit(&value);
      if (FAILED(store->GetValue(PKEY_Device_FriendlyName, &value))) read = false;
      if (value.vt != VT_LPWSTR || value.pwszVal == nullptr) {
        isText = false;
      } else {
        const std::string name = utf8Of(value.pwszVal, kNameBytes);
        fits = fits && !name.empty();
        if (flow == eCapture && name == probe.world.microphoneName) microphoneFound = true;
      }
      cleared = cleared && PropVariantClear(&value) == S_OK && value.vt == VT_EMPTY;
      PROPVARIANT other;
      PropVariantInit(&other);
      otherKeyEmpty = otherKeyEmpty && store->GetValue(kNotHeld, &other) == S_OK && other.vt == VT_EMPTY;
      PropVariantClear(&other);
    });
    probe.checks.expectYes(perFlow("OpenPropertyStore(STGM_READ) succeeds", flow).c_str(), opened);
    probe.checks.expectYes(perFlow("GetValue(PKEY_Device_FriendlyName) succeeds", flow).c_str(), read);
    probe.checks.expectYes(perFlow("the value is VT_LPWSTR and not NULL", flow).c_str(), isText);
    probe.checks.expectYes(perFlow("its UTF-8 fits 256 bytes", flow).c_str(), fits);
    probe.checks.expectYes(perFlow("PropVariantClear answers S_OK and leaves VT_EMPTY", flow).c_str(), cleared);
    probe.checks.expectYes(perFlow("a key the store does not hold reads S_OK and VT_EMPTY", flow).c_str(),
                           otherKeyEmpty);
  }
  probe.checks.expectYes("one capture endpoint reads exactly the world's microphone name", microphoneFound);
}

void activateGivesAnAudioClient(Probe& probe) {
  Ref<IMMDevice> device;
  if (!microphone(probe, &device)) return;
  Ref<IAudioClient> client;
  if (activate(probe, device.get(), &client))
    probe.checks.expectYes("the client is not NULL", static_cast<bool>(client));
  Ref<IUnknown> other;
  probe.checks.expectStatus("Activate(IID_IAudioCaptureClient, CLSCTX_ALL, NULL)",
                            device->Activate(IID_IAudioCaptureClient, CLSCTX_ALL, nullptr, other.outVoid()),
                            E_NOINTERFACE);
}

std::string describeFormat(const WAVEFORMATEX& format) {
  if (format.nChannels == 0 || format.nSamplesPerSec == 0) return "no channels or no rate";
  if (format.nBlockAlign != format.nChannels * format.wBitsPerSample / 8) return "nBlockAlign differs";
  if (format.nAvgBytesPerSec != format.nSamplesPerSec * format.nBlockAlign) return "nAvgBytesPerSec differs";
  if (format.wFormatTag == WAVE_FORMAT_PCM || format.wFormatTag == WAVE_FORMAT_IEEE_FLOAT) return "consistent";
  if (format.wFormatTag != WAVE_FORMAT_EXTENSIBLE) return "tag " + number(format.wFormatTag);
  const auto& extensible = reinterpret_cast<const WAVEFORMATEXTENSIBLE&>(format);
  if (format.cbSize < 22) return "cbSize " + number(format.cbSize);
  if (std::memcmp(&extensible.SubFormat, &kPcmSubFormat, sizeof(GUID)) != 0 &&
      std::memcmp(&extensible.SubFormat, &kFloatSubFormat, sizeof(GUID)) != 0)
    return "another sub-format";
  if (extensible.Samples.wValidBitsPerSample > format.wBitsPerSample) return "more valid bits than bits";
  return "consistent";
}

std::string formatSummary(const WAVEFORMATEX& format) {
  std::string tag = format.wFormatTag == WAVE_FORMAT_PCM          ? "PCM"
                    : format.wFormatTag == WAVE_FORMAT_IEEE_FLOAT ? "IEEE float"
                                                                  : "tag " + number(format.wFormatTag);
  if (format.wFormatTag == WAVE_FORMAT_EXTENSIBLE && format.cbSize >= 22) {
    const auto& extensible = reinterpret_cast<const WAVEFORMATEXTENSIBLE&>(format);
    tag = std::string("extensible ") +
          (std::memcmp(&extensible.SubFormat, &kFloatSubFormat, sizeof(GUID)) == 0 ? "float" : "PCM") +
          ", channel mask " + number(extensible.dwChannelMask);
  }
  return tag + ", " + number(format.nChannels) + " channels, " + number(format.wBitsPerSample) + " bits, " +
         number(format.nSamplesPerSec) + " Hz";
}

void mixFormatIsTheCallersBlock(Probe& probe) {
  Ref<IMMDevice> devices[2];
  if (!microphone(probe, &devices[0]) || !defaultRender(probe, &devices[1])) return;
  for (int i = 0; i < 2; ++i) {
    const EDataFlow flow = i == 0 ? eCapture : eRender;
    Ref<IAudioClient> client;
    if (!activate(probe, devices[i].get(), &client)) continue;
    WAVEFORMATEX* first = nullptr;
    WAVEFORMATEX* second = nullptr;
    const HRESULT status = client->GetMixFormat(&first);
    client->GetMixFormat(&second);
    if (probe.checks.expectStatus(perFlow("GetMixFormat", flow).c_str(), status, S_OK) && first != nullptr &&
        second != nullptr) {
      probe.checks.expect(perFlow("the block describes its stream", flow).c_str(), describeFormat(*first),
                          "consistent");
      probe.checks.note(perFlow("mix format", flow).c_str(), formatSummary(*first));
      const std::size_t bytes = formatBytes(*first);
      probe.checks.expectYes(perFlow("a second call gives a block of its own", flow).c_str(), first != second);
      probe.checks.expectYes(perFlow("with the same bytes", flow).c_str(),
                             formatBytes(*second) == bytes && std::memcmp(first, second, bytes) == 0);
      std::vector<unsigned char> copy(reinterpret_cast<unsigned char*>(first),
                                      reinterpret_cast<unsigned char*>(first) + bytes);
      client.reset();  // the logic keeps the format; the block is not the client's
      probe.checks.expectYes(perFlow("the block outlives its client", flow).c_str(),
                             std::memcmp(first, copy.data(), bytes) == 0);
    }
    CoTaskMemFree(first);
    CoTaskMemFree(second);
  }
}

void callsBeforeInitializeAreRefused(Probe& probe) {
  Ref<IMMDevice> device;
  Ref<IAudioClient> client;
  if (!microphone(probe, &device) || !activate(probe, device.get(), &client)) return;
  probe.checks.expectStatus("Start", client->Start(), AUDCLNT_E_NOT_INITIALIZED);
  Ref<IAudioCaptureClient> capture;
  probe.checks.expectStatus("GetService(IID_IAudioCaptureClient)",
                            client->GetService(IID_IAudioCaptureClient, capture.outVoid()), AUDCLNT_E_NOT_INITIALIZED);
}

void sharedCaptureInitializes(Probe& probe) {
  Ref<IMMDevice> device;
  if (!microphone(probe, &device)) return;
  Stream stream;
  if (!openStream(probe, device.get(), 0, &stream)) return;
  probe.checks.expectYes("the capture client is not NULL", static_cast<bool>(stream.capture));
  UINT32 frames = 0;
  if (probe.checks.expectStatus("GetBufferSize", stream.client->GetBufferSize(&frames), S_OK)) {
    probe.checks.expectYes("the buffer holds at least 200 ms", frames + 1 >= stream.format->nSamplesPerSec / 5);
    probe.checks.note("GetBufferSize frames", number(frames));
  }
  probe.checks.expectStatus(
      "a second Initialize",
      stream.client->Initialize(AUDCLNT_SHAREMODE_SHARED, 0, kBufferDuration, 0, stream.format, nullptr),
      AUDCLNT_E_ALREADY_INITIALIZED);
}

void loopbackOnlyOnRender(Probe& probe) {
  Ref<IMMDevice> device;
  Ref<IAudioClient> client;
  if (!microphone(probe, &device) || !activate(probe, device.get(), &client)) return;
  WAVEFORMATEX* format = nullptr;
  if (probe.checks.expectStatus("GetMixFormat", client->GetMixFormat(&format), S_OK))
    probe.checks.expectStatus(
        "Initialize(SHARED, AUDCLNT_STREAMFLAGS_LOOPBACK, ...) on a capture endpoint",
        client->Initialize(AUDCLNT_SHAREMODE_SHARED, AUDCLNT_STREAMFLAGS_LOOPBACK, kBufferDuration, 0, format, nullptr),
        AUDCLNT_E_WRONG_ENDPOINT_TYPE);
  CoTaskMemFree(format);
}

void sharedModeTakesTheDeviceRate(Probe& probe) {
  Ref<IMMDevice> device;
  Ref<IAudioClient> client;
  if (!microphone(probe, &device) || !activate(probe, device.get(), &client)) return;
  WAVEFORMATEX* format = nullptr;
  if (probe.checks.expectStatus("GetMixFormat", client->GetMixFormat(&format), S_OK)) {
    std::vector<unsigned char> bytes(reinterpret_cast<unsigned char*>(format),
                                     reinterpret_cast<unsigned char*>(format) + formatBytes(*format));
    auto* other = reinterpret_cast<WAVEFORMATEX*>(bytes.data());
    other->nSamplesPerSec = format->nSamplesPerSec == 44100 ? 48000 : 44100;
    other->nAvgBytesPerSec = other->nSamplesPerSec * other->nBlockAlign;
    probe.checks.expectStatus("Initialize(SHARED, 0, ...) with the mix format at another rate",
                              client->Initialize(AUDCLNT_SHAREMODE_SHARED, 0, kBufferDuration, 0, other, nullptr),
                              AUDCLNT_E_UNSUPPORTED_FORMAT);
  }
  CoTaskMemFree(format);
}

void renderStreamHasNoCaptureService(Probe& probe) {
  Ref<IMMDevice> device;
  Ref<IAudioClient> client;
  if (!defaultRender(probe, &device) || !activate(probe, device.get(), &client)) return;
  WAVEFORMATEX* format = nullptr;
  if (probe.checks.expectStatus("GetMixFormat", client->GetMixFormat(&format), S_OK) &&
      probe.checks.expectStatus("Initialize(SHARED, 0, ...) on a render endpoint",
                                client->Initialize(AUDCLNT_SHAREMODE_SHARED, 0, kBufferDuration, 0, format, nullptr),
                                S_OK)) {
    Ref<IAudioCaptureClient> capture;
    probe.checks.expectStatus("GetService(IID_IAudioCaptureClient)",
                              client->GetService(IID_IAudioCaptureClient, capture.outVoid()),
                              AUDCLNT_E_WRONG_ENDPOINT_TYPE);
  }
  CoTaskMemFree(format);
}

void startAndStopAnswerTheirState(Probe& probe) {
  Ref<IMMDevice> device;
  Stream stream;
  if (!microphone(probe, &device) || !openStream(probe, device.get(), 0, &stream)) return;
  probe.checks.expectStatus("Stop before Start", stream.client->Stop(), S_FALSE);
  probe.checks.expectStatus("Start", stream.client->Start(), S_OK);
  probe.checks.expectStatus("Start again", stream.client->Start(), AUDCLNT_E_NOT_STOPPED);
  probe.checks.expectStatus("Stop", stream.client->Stop(), S_OK);
  probe.checks.expectStatus("Stop again", stream.client->Stop(), S_FALSE);
  probe.checks.expectStatus("Start after Stop", stream.client->Start(), S_OK);
}

void noPacketBeforeStart(Probe& probe) {
  Ref<IMMDevice> device;
  Stream stream;
  if (!microphone(probe, &device) || !openStream(probe, device.get(), 0, &stream)) return;
  Sleep(100);
  UINT32 frames = 1;
  if (probe.checks.expectStatus("GetNextPacketSize", stream.capture->GetNextPacketSize(&frames), S_OK))
    probe.checks.expect("the frames it announces", number(frames), "0");
  BYTE* data = nullptr;
  DWORD flags = 0;
  frames = 1;
  probe.checks.expectStatus("GetBuffer", stream.capture->GetBuffer(&data, &frames, &flags, nullptr, nullptr),
                            AUDCLNT_S_BUFFER_EMPTY);
  probe.checks.expect("the frames it gives", number(frames), "0");
}

void packetsAreHandedOverOneAtATime(Probe& probe) {
  Ref<IMMDevice> device;
  Stream stream;
  if (!microphone(probe, &device) || !openStream(probe, device.get(), 0, &stream)) return;
  IAudioCaptureClient* capture = stream.capture.get();
  BYTE* data = nullptr;
  UINT32 frames = 0;
  DWORD flags = 0;
  probe.checks.expectStatus("ReleaseBuffer(0) with no packet out", capture->ReleaseBuffer(0), AUDCLNT_E_OUT_OF_ORDER);
  if (!probe.checks.expectStatus("Start", stream.client->Start(), S_OK)) return;
  const UINT32 announced = waitForPacket(capture, kFirstDataWaitMs);
  if (!probe.checks.expectYes("GetNextPacketSize announces a packet within 4 s", announced > 0)) return;
  if (!probe.checks.expectStatus("GetBuffer(positions NULL)",
                                 capture->GetBuffer(&data, &frames, &flags, nullptr, nullptr), S_OK))
    return;
  probe.checks.expectYes("its frames are those announced", frames == announced);
  probe.checks.note("first packet frames", number(frames));
  probe.checks.expectYes("its data is not NULL", data != nullptr);
  probe.checks.expect("flags other than SILENT, DISCONTINUITY, TIMESTAMP_ERROR", number(flags & ~0x7u), "0");
  const std::size_t bytes = static_cast<std::size_t>(frames) * stream.format->nBlockAlign;
  const bool silent = (flags & AUDCLNT_BUFFERFLAGS_SILENT) != 0;
  const std::vector<BYTE> first(data, data + (data != nullptr && !silent ? bytes : 0));

  BYTE* again = nullptr;
  UINT32 againFrames = 0;
  probe.checks.expectStatus("a second GetBuffer before ReleaseBuffer",
                            capture->GetBuffer(&again, &againFrames, &flags, nullptr, nullptr), AUDCLNT_E_OUT_OF_ORDER);
  probe.checks.expectStatus("ReleaseBuffer(frames + 1)", capture->ReleaseBuffer(frames + 1), AUDCLNT_E_INVALID_SIZE);
  probe.checks.expectStatus("ReleaseBuffer(0)", capture->ReleaseBuffer(0), S_OK);
  if (probe.checks.expectStatus("GetBuffer after ReleaseBuffer(0)",
                                capture->GetBuffer(&again, &againFrames, &flags, nullptr, nullptr), S_OK)) {
    probe.checks.expectYes("it hands out the same frames", againFrames == frames);
    const bool sameBytes = first.empty() || (again != nullptr && againFrames == frames &&
                                             std::memcmp(again, first.data(), first.size()) == 0);
    probe.checks.expectYes("with the same bytes", sameBytes);
    probe.checks.expectStatus("ReleaseBuffer(frames)", capture->ReleaseBuffer(againFrames), S_OK);
  }
  probe.checks.expectStatus("ReleaseBuffer(frames) again", capture->ReleaseBuffer(frames), AUDCLNT_E_OUT_OF_ORDER);
}

// Drains every 10 ms for a second of the counter; the frames per second and
// whether every GetBuffer gave the frames announced.
struct Drained {
  double framesPerSecond = 0;
  bool asAnnounced = true;
  HRESULT failure = S_OK;
};

Drained drainForASecond(IAudioCaptureClient* capture) {
  Drained drained;
  unsigned long long frames = 0;
  const double begin = secondsNow();
  while (secondsNow() - begin < 1.0) {
    UINT32 announced = 0;
    while (SUCCEEDED(capture->GetNextPacketSize(&announced)) && announced > 0) {
      BYTE* data = nullptr;
      UINT32 got = 0;
      DWORD flags = 0;
      const HRESULT status = capture->GetBuffer(&data, &got, &flags, nullptr, nullptr);
      if (FAILED(status)) {
        drained.failure = status;
        return drained;
      }
      drained.asAnnounced = drained.asAnnounced && got == announced;
      frames += got;
      capture->ReleaseBuffer(got);
    }
    Sleep(10);
  }
  drained.framesPerSecond = static_cast<double>(frames) / (secondsNow() - begin);
  return drained;
}

void checkDelivery(Probe& probe, Stream& stream) {
  if (!probe.checks.expectStatus("Start", stream.client->Start(), S_OK)) return;
  const double started = secondsNow();
  if (!probe.checks.expectYes("a packet is announced within 4 s",
                              waitForPacket(stream.capture.get(), kFirstDataWaitMs) > 0))
    return;
  probe.checks.note("ms from Start to the first packet",
                    number(static_cast<long long>(1000 * (secondsNow() - started))));
  const Drained drained = drainForASecond(stream.capture.get());
  char figure[64];
  std::snprintf(figure, sizeof figure, "%.0f at %u Hz", drained.framesPerSecond,
                static_cast<unsigned>(stream.format->nSamplesPerSec));
  probe.checks.note("frames per second of the counter", figure);
  probe.checks.expectStatus("every GetBuffer over a second of drains", drained.failure, S_OK);
  probe.checks.expectYes("each gives the frames announced", drained.asAnnounced);
  const double ratio = drained.framesPerSecond / stream.format->nSamplesPerSec;
  char text[64];
  std::snprintf(text, sizeof text, "no: %.3f of the rate", ratio);
  probe.checks.expect("the frames come at the mix format's rate (within 10 %)", yesOr(ratio > 0.9 && ratio < 1.1, text),
                      "yes");
}

void microphoneDeliversItsRate(Probe& probe) {
  Ref<IMMDevice> device;
  Stream stream;
  if (microphone(probe, &device) && openStream(probe, device.get(), 0, &stream)) checkDelivery(probe, stream);
}

void loopbackHearsTheDefaultRender(Probe& probe) {
  Ref<IMMDevice> device;
  Stream stream;
  if (defaultRender(probe, &device) && openStream(probe, device.get(), AUDCLNT_STREAMFLAGS_LOOPBACK, &stream))
    checkDelivery(probe, stream);
}

void performanceCounterRunsForward(Probe& probe) {
  LARGE_INTEGER frequency{};
  LARGE_INTEGER again{};
  const BOOL readFrequency = QueryPerformanceFrequency(&frequency);
  QueryPerformanceFrequency(&again);
  probe.checks.expectYes("QueryPerformanceFrequency answers TRUE and a rate above 0",
                         readFrequency != FALSE && frequency.QuadPart > 0);
  probe.checks.expectYes("the rate is the same at every call", frequency.QuadPart == again.QuadPart);
  LARGE_INTEGER counter{};
  bool monotonic = QueryPerformanceCounter(&counter) != FALSE;
  LONGLONG previous = counter.QuadPart;
  for (int i = 0; i < 1000 && monotonic; ++i) {
    monotonic = QueryPerformanceCounter(&counter) != FALSE && counter.QuadPart >= previous;
    previous = counter.QuadPart;
  }
  probe.checks.expectYes("QueryPerformanceCounter answers TRUE and never goes back", monotonic);
  const LONGLONG before = counter.QuadPart;
  Sleep(20);
  QueryPerformanceCounter(&counter);
  const double milliseconds = 1000.0 * static_cast<double>(counter.QuadPart - before) / frequency.QuadPart;
  probe.checks.expectYes("over Sleep(20) it moves by 10 ms to 5 s", milliseconds >= 10 && milliseconds < 5000);
}

struct Utf8Case {
  const char* check;
  std::vector<char16_t> wide;  // with its NUL
  int capacity;                // bytes offered; 0: ask for the length
  int answer;                  // what WideCharToMultiByte answers
  const char* bytes;           // what it wrote, with the NUL (capacity > 0, answer > 0)
};

std::string hexOf(const char* bytes, int length) {
  std::string text;
  char two[4];
  for (int i = 0; i < length; ++i) {
    std::snprintf(two, sizeof two, i == 0 ? "%02X" : " %02X", static_cast<unsigned char>(bytes[i]));
    text += two;
  }
  return text;
}

void utf8ConversionAsTheLogicAsks(Probe& probe) {
  const Utf8Case cases[] = {
      {"ASCII", {u'S', u'p', u'k', 0}, kNameBytes, 4, "Spk"},
      {"two- and three-byte letters", {u'\u00F3', u'\u30DE', 0}, kNameBytes, 6, "\xC3\xB3\xE3\x83\x9E"},
      {"a surrogate pair", {0xD83C, 0xDFA4, 0}, kNameBytes, 5, "\xF0\x9F\x8E\xA4"},
      {"an unpaired high surrogate becomes U+FFFD", {0xD83C, u'x', 0}, kNameBytes, 5, "\xEF\xBF\xBDx"},
      {"an unpaired low surrogate becomes U+FFFD", {0xDFA4, 0}, kNameBytes, 4, "\xEF\xBF\xBD"},
      {"a text that just fits", {u'a', u'b', u'c', 0}, 4, 4, "abc"},
      {"a text one byte too long answers 0", {u'a', u'b', u'c', 0}, 3, 0, ""},
      {"capacity 0 answers the length needed", {u'\u00F3', 0}, 0, 3, ""},
  };
  for (const Utf8Case& row : cases) {
    std::vector<WCHAR> wide(row.wide.begin(), row.wide.end());
    char buffer[kIdentifierBytes];
    std::memset(buffer, 0x55, sizeof buffer);
    const int answer = WideCharToMultiByte(CP_UTF8, 0, wide.data(), -1, row.capacity > 0 ? buffer : nullptr,
                                           row.capacity, nullptr, nullptr);
    std::string answered = number(answer);
    std::string wanted = number(row.answer);
    if (row.capacity > 0 && row.answer > 0) {
      answered += ": " + hexOf(buffer, answer > 0 ? answer : 0);
      wanted += ": " + hexOf(row.bytes, row.answer);
    }
    probe.checks.expect(row.check, answered, wanted);
  }
}

// One step of the capture loop's draining: the next packet taken and
// released, or, with none announced, a 10 ms pause. GetNextPacketSize's status.
HRESULT takePacketOrPause(IAudioCaptureClient* capture) {
  UINT32 frames = 0;
  const HRESULT status = capture->GetNextPacketSize(&frames);
  if (SUCCEEDED(status) && frames > 0) {
    BYTE* data = nullptr;
    DWORD flags = 0;
    if (SUCCEEDED(capture->GetBuffer(&data, &frames, &flags, nullptr, nullptr))) capture->ReleaseBuffer(frames);
    return status;
  }
  Sleep(10);
  return status;
}

void aRemovedDeviceIsReported(Probe& probe) {
  Ref<IMMDevice> device;
  const bool found = findByName(probe.enumerator, eCapture, probe.world.removableName, &device);
  if (!probe.checks.expectYes("the removable microphone is listed by its name", found)) return;
  Stream stream;
  if (!openStream(probe, device.get(), 0, &stream) ||
      !probe.checks.expectStatus("Start", stream.client->Start(), S_OK) ||
      !probe.checks.expectYes("it delivers before its removal",
                              waitForPacket(stream.capture.get(), kFirstDataWaitMs) > 0))
    return;
  const Drained before = drainForASecond(stream.capture.get());
  if (!probe.checks.expectStatus("GetBuffer before its removal", before.failure, S_OK)) return;
  if (!probe.checks.expectYes("the world removed the device", probe.world.removeDevice())) return;
  // Drain as the capture loop does until GetNextPacketSize fails.
  HRESULT failure = S_OK;
  const double deadline = secondsNow() + kRemovalNoticeMs / 1000.0;
  while (secondsNow() < deadline && SUCCEEDED(failure)) failure = takePacketOrPause(stream.capture.get());
  probe.checks.expect("GetNextPacketSize within 3 s of the removal",
                      FAILED(failure) ? statusText(failure) : "S_OK for 3 s", statusText(AUDCLNT_E_DEVICE_INVALIDATED));
}

// Keeps what it is told of the render flow's console default; called on any
// thread, it only writes down.
class DefaultChangeRecorder final : public IMMNotificationClient {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (!IsEqualGUID(iid, IID_IUnknown) && !IsEqualGUID(iid, IID_IMMNotificationClient)) return E_NOINTERFACE;
    *object = static_cast<IMMNotificationClient*>(this);
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE OnDefaultDeviceChanged(EDataFlow flow, ERole role, LPCWSTR id) override {
    if (flow != eRender || role != eConsole || told_.load() != 0) return S_OK;
    const std::string text = utf8Of(id);
    std::snprintf(id_, sizeof id_, "%s", id == nullptr ? "(null)" : text.c_str());
    told_.store(1);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnDeviceStateChanged(LPCWSTR, DWORD) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnDeviceAdded(LPCWSTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnDeviceRemoved(LPCWSTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnPropertyValueChanged(LPCWSTR, const PROPERTYKEY) override { return S_OK; }

  bool told() const { return told_.load() != 0; }
  std::string id() const { return id_; }

 private:
  std::atomic<int> told_{0};
  char id_[kIdentifierBytes] = "";
};

void aDefaultChangeIsTold(Probe& probe) {
  SeamChecks& checks = probe.checks;
  DefaultChangeRecorder recorder;
  checks.expectStatus("RegisterEndpointNotificationCallback(NULL)",
                      probe.enumerator->RegisterEndpointNotificationCallback(nullptr), E_POINTER);
  if (!checks.expectStatus("RegisterEndpointNotificationCallback(client)",
                           probe.enumerator->RegisterEndpointNotificationCallback(&recorder), S_OK))
    return;
  Ref<IMMDevice> other;
  Ref<IMMDevice> current;
  Stream stream;
  // A loopback stream of the default read every 10 ms, as the capture loop
  // does while it waits to be told.
  const bool ready =
      checks.expectYes("the second render endpoint is listed by its name",
                       findByName(probe.enumerator, eRender, kSeamOtherSpeakersName, &other)) &&
      checks.expectStatus("GetDefaultAudioEndpoint(eRender, eConsole)",
                          probe.enumerator->GetDefaultAudioEndpoint(eRender, eConsole, current.out()), S_OK) &&
      openStream(probe, current.get(), AUDCLNT_STREAMFLAGS_LOOPBACK, &stream) &&
      checks.expectStatus("Start", stream.client->Start(), S_OK);
  const std::string otherId = ready ? idOf(other.get()) : "";
  if (ready && checks.expectYes("the world made it the default", probe.world.makeDefaultRender(otherId.c_str()))) {
    const double changed = secondsNow();
    while (!recorder.told() && secondsNow() - changed < kDefaultNoticeMs / 1000.0)
      takePacketOrPause(stream.capture.get());
    checks.note("told after", number(static_cast<long long>((secondsNow() - changed) * 1000)) + " ms");
    checks.expect("OnDefaultDeviceChanged(eRender, eConsole, id) within 3 s of the change",
                  recorder.told() ? recorder.id() : "nothing for 3 s", otherId);
    Ref<IMMDevice> now;
    if (checks.expectStatus("GetDefaultAudioEndpoint(eRender, eConsole) after it",
                            probe.enumerator->GetDefaultAudioEndpoint(eRender, eConsole, now.out()), S_OK))
      checks.expect("its identifier", idOf(now.get()), otherId);
  }
  if (stream.client) stream.client->Stop();
  checks.expectStatus("UnregisterEndpointNotificationCallback(client)",
                      probe.enumerator->UnregisterEndpointNotificationCallback(&recorder), S_OK);
  checks.expectStatus("UnregisterEndpointNotificationCallback(client) again",
                      probe.enumerator->UnregisterEndpointNotificationCallback(&recorder), kNotFound);
}

struct SeamRule {
  const char* id;
  const char* seen;
  const char* statement;
  void (*run)(Probe&);
};

const SeamRule kRules[] = {
    {"enumeration.active", "Microsoft documentation (IMMDeviceEnumerator::EnumAudioEndpoints, IMMDeviceCollection)",
     "EnumAudioEndpoints(flow, DEVICE_STATE_ACTIVE) lists each active endpoint of the flow once: GetCount, then "
     "Item(0 .. count-1) each succeed",
     activeEndpointsAreListed},
    {"enumeration.unplugged-too", "Microsoft documentation (IMMDeviceEnumerator::EnumAudioEndpoints)",
     "the listing's mask DEVICE_STATE_ACTIVE | DEVICE_STATE_UNPLUGGED gives the active endpoints and unplugged ones "
     "only",
     unpluggedAreListedToo},
    {"default.per-flow",
     "Microsoft documentation (IMMDeviceEnumerator::GetDefaultAudioEndpoint); measured under Wine 10",
     "GetDefaultAudioEndpoint(flow, eConsole) gives an active endpoint that the flow's collection lists under the "
     "same identifier (the listing marks the default by comparing them)",
     defaultOfEachFlow},
    {"device.identifier", "Microsoft documentation (IMMDevice::GetId)",
     "GetId gives a NUL-terminated text in a block of the caller's, freed with CoTaskMemFree, the same at every call",
     identifiersAreTheCallersText},
    {"device.friendly-name", "Microsoft documentation (IPropertyStore::GetValue, PropVariantClear)",
     "OpenPropertyStore(STGM_READ) and GetValue(PKEY_Device_FriendlyName) give the name as VT_LPWSTR, which "
     "PropVariantClear frees; a key the store does not hold reads as VT_EMPTY with S_OK",
     friendlyNamesAreTheCallersText},
    {"client.activate", "Microsoft documentation (IMMDevice::Activate)",
     "Activate(IID_IAudioClient, CLSCTX_ALL, NULL) gives an audio client; a capture client is not activated directly",
     activateGivesAnAudioClient},
    {"client.mix-format", "Microsoft documentation (IAudioClient::GetMixFormat)",
     "GetMixFormat gives a consistent WAVEFORMATEX (or WAVEFORMATEXTENSIBLE) in a new block at every call; the block "
     "is the caller's, freed with CoTaskMemFree, and outlives the client",
     mixFormatIsTheCallersBlock},
    {"client.before-initialize", "Microsoft documentation (IAudioClient::Start, IAudioClient::GetService)",
     "Start and GetService on a client not yet initialised answer AUDCLNT_E_NOT_INITIALIZED",
     callsBeforeInitializeAreRefused},
    {"initialize.shared-capture", "Microsoft documentation (IAudioClient::Initialize, IAudioClient::GetService)",
     "Initialize(SHARED, 0, 200 ms, 0, mix format, NULL) on a capture endpoint succeeds with a buffer of at least "
     "200 ms, GetService gives the capture client, and a second Initialize is refused",
     sharedCaptureInitializes},
    {"initialize.loopback-on-capture", "Microsoft documentation (IAudioClient::Initialize)",
     "the loopback flag on a capture endpoint answers AUDCLNT_E_WRONG_ENDPOINT_TYPE", loopbackOnlyOnRender},
    {"initialize.other-rate",
     "Microsoft documentation (IAudioClient::Initialize: shared mode converts rates only with "
     "AUDCLNT_STREAMFLAGS_AUTOCONVERTPCM)",
     "in shared mode the mix format at another rate answers AUDCLNT_E_UNSUPPORTED_FORMAT",
     sharedModeTakesTheDeviceRate},
    {"getservice.render-without-loopback", "Microsoft documentation (IAudioClient::GetService)",
     "a render endpoint initialised without the loopback flag is a render stream: GetService(IID_IAudioCaptureClient) "
     "answers AUDCLNT_E_WRONG_ENDPOINT_TYPE",
     renderStreamHasNoCaptureService},
    {"client.start-stop", "Microsoft documentation (IAudioClient::Start, IAudioClient::Stop)",
     "Start on a running stream answers AUDCLNT_E_NOT_STOPPED; Stop on a stopped one answers S_FALSE",
     startAndStopAnswerTheirState},
    {"packets.none-before-start", "Microsoft documentation (IAudioCaptureClient::GetBuffer); measured under Wine 10",
     "an initialised stream that was never started announces no packet, and GetBuffer answers "
     "AUDCLNT_S_BUFFER_EMPTY with 0 frames",
     noPacketBeforeStart},
    {"packets.hand-over", "Microsoft documentation (IAudioCaptureClient::GetBuffer, ReleaseBuffer)",
     "GetBuffer hands out the packet GetNextPacketSize announced, one at a time; ReleaseBuffer takes its frames or 0, "
     "and after 0 the same packet comes again",
     packetsAreHandedOverOneAtATime},
    {"packets.microphone-rate", "Microsoft documentation (IAudioCaptureClient); measured under Wine 10",
     "a started capture stream, drained every 10 ms, delivers the mix format's rate in the packets announced",
     microphoneDeliversItsRate},
    {"packets.loopback", "Microsoft documentation (Loopback Recording); measured under Wine 10",
     "the default render endpoint opened with the loopback flag delivers what plays, at the mix format's rate",
     loopbackHearsTheDefaultRender},
    {"clock.performance-counter", "Microsoft documentation (QueryPerformanceCounter, QueryPerformanceFrequency)",
     "the performance counter runs forward at a fixed rate", performanceCounterRunsForward},
    {"text.utf8", "Microsoft documentation (WideCharToMultiByte); measured under Wine 10",
     "WideCharToMultiByte(CP_UTF8, 0, text to NUL, buffer, capacity, NULL, NULL) writes the UTF-8 with its NUL, "
     "replaces unpaired surrogates by U+FFFD, and answers 0 when the text does not fit",
     utf8ConversionAsTheLogicAsks},
    {"device.removed", "Microsoft documentation (IAudioCaptureClient::GetNextPacketSize)",
     "once its device is removed, a capture stream's GetNextPacketSize answers AUDCLNT_E_DEVICE_INVALIDATED",
     aRemovedDeviceIsReported},
    {"notification.default-changed",
     "Microsoft documentation (IMMDeviceEnumerator::RegisterEndpointNotificationCallback, "
     "IMMNotificationClient::OnDefaultDeviceChanged); measured under Wine 10",
     "a registered client is told OnDefaultDeviceChanged(eRender, eConsole, its identifier) when another render "
     "endpoint becomes the default, while a stream is read every 10 ms; GetDefaultAudioEndpoint then gives it; a "
     "client is unregistered once",
     aDefaultChangeIsTold},
};

}  // namespace

int runSeamCases(const SeamWorld& world) {
  std::printf("Seam conformance on %s: what the logic relies on from each platform call\n", world.platform);
  SeamChecks checks(world.platform);
  checks.beginRule("com.enumerator", "Microsoft documentation (CoInitializeEx, CoCreateInstance)",
                   "after CoInitializeEx(NULL, COINIT_MULTITHREADED), CoCreateInstance gives the device enumerator");
  const HRESULT initialised = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  checks.expect("CoInitializeEx(NULL, COINIT_MULTITHREADED) succeeds",
                yesOr(SUCCEEDED(initialised), statusText(initialised)), "yes");
  Ref<IMMDeviceEnumerator> enumerator;
  const HRESULT created =
      CoCreateInstance(CLSID_MMDeviceEnumerator, nullptr, CLSCTX_ALL, IID_IMMDeviceEnumerator, enumerator.outVoid());
  if (checks.expectStatus("CoCreateInstance(CLSID_MMDeviceEnumerator, NULL, CLSCTX_ALL, IID_IMMDeviceEnumerator)",
                          created, S_OK) &&
      enumerator) {
    Probe probe{checks, world, enumerator.get()};
    for (const SeamRule& rule : kRules) {
      checks.beginRule(rule.id, rule.seen, rule.statement);
      rule.run(probe);
    }
  }
  return checks.finish();
}
