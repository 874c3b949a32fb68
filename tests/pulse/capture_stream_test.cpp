// Capture streams on a private server: the mix format of every sample format
// a device can have, the tone that reaches the caller through it, the
// WASAPI-style refusals, and what the caller meets when the server or the
// device goes away.
#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>

#include "tests/pulse/pulse_fixture.h"
#include "tests/pulse/signal_analysis.h"

namespace {

using CaptureStreams = PulseSeamTest;

constexpr double kTonePeak = 0.5;  // the player's amplitude

double decibels(double ratio) { return 20.0 * std::log10(ratio); }

struct FormatCase {
  const char* sinkFormat;  // module-null-sink arguments
  WORD tag;
  WORD bits;
  WORD validBits;  // extensible only
  bool isFloat;
  WORD channels;
  DWORD rate;
  DWORD channelMask;  // extensible only
};

TEST_F(CaptureStreams, EveryDeviceFormatIsDescribedAsWindowsWouldAndCarriesTheToneUnchanged) {
  const FormatCase cases[] = {
      {"format=s16le rate=44100 channels=2", WAVE_FORMAT_PCM, 16, 0, false, 2, 44100, 0},
      {"format=s16le rate=48000 channels=6 channel_map=front-left,front-right,front-center,lfe,rear-left,rear-right",
       WAVE_FORMAT_EXTENSIBLE, 16, 16, false, 6, 48000, 0x3F},
      {"format=s24le rate=96000 channels=2", WAVE_FORMAT_EXTENSIBLE, 24, 24, false, 2, 96000, 0x3},
      {"format=s24-32le rate=48000 channels=2", WAVE_FORMAT_EXTENSIBLE, 32, 24, false, 2, 48000, 0x3},
      {"format=s32le rate=32000 channels=1", WAVE_FORMAT_EXTENSIBLE, 32, 32, false, 1, 32000, 0x4},
      {"format=float32le rate=48000 channels=2", WAVE_FORMAT_EXTENSIBLE, 32, 32, true, 2, 48000, 0x3},
      {"format=float32be rate=44100 channels=2", WAVE_FORMAT_EXTENSIBLE, 32, 32, true, 2, 44100, 0x3},
      {"format=s16be rate=22050 channels=2", WAVE_FORMAT_PCM, 16, 0, false, 2, 22050, 0},
      {"format=u8 rate=16000 channels=1", WAVE_FORMAT_PCM, 16, 0, false, 1, 16000, 0},
  };
  int index = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sinkFormat);
    const std::string sink = "probe" + std::to_string(index++);
    std::vector<std::string> load = {"module-null-sink", "sink_name=" + sink};
    for (const char* at = c.sinkFormat; *at != 0;) {
      const char* end = std::strchr(at, ' ');
      load.emplace_back(at, end != nullptr ? end - at : std::strlen(at));
      at = end != nullptr ? end + 1 : at + std::strlen(at);
    }
    ASSERT_GE(server.loadModule(load), 0);
    server.playTone(sink, 1000);
    ASSERT_TRUE(server.waitForPlayback(sink, 1));

    OpenedStream stream;
    ASSERT_EQ(openStream(freshEnumerator(), eRender, sink, &stream), S_OK);
    const WAVEFORMATEX& format = *stream.format;
    EXPECT_EQ(format.wFormatTag, c.tag);
    EXPECT_EQ(format.nChannels, c.channels);
    EXPECT_EQ(format.nSamplesPerSec, c.rate);
    EXPECT_EQ(format.wBitsPerSample, c.bits);
    EXPECT_EQ(format.nBlockAlign, c.channels * c.bits / 8);
    EXPECT_EQ(format.nAvgBytesPerSec, c.rate * format.nBlockAlign);
    if (c.tag == WAVE_FORMAT_EXTENSIBLE) {
      const auto& extensible = reinterpret_cast<const WAVEFORMATEXTENSIBLE&>(format);
      EXPECT_EQ(format.cbSize, 22);
      EXPECT_EQ(extensible.Samples.wValidBitsPerSample, c.validBits);
      EXPECT_EQ(extensible.dwChannelMask, c.channelMask);
      EXPECT_TRUE(extensible.SubFormat == (c.isFloat ? KSDATAFORMAT_SUBTYPE_IEEE_FLOAT : KSDATAFORMAT_SUBTYPE_PCM));
    } else {
      EXPECT_EQ(format.cbSize, 0);
    }

    const Captured captured = drainFor(stream.capture.get(), format, 500);
    EXPECT_EQ(captured.lost, S_OK);
    EXPECT_EQ(captured.failure, S_OK);
    EXPECT_FALSE(captured.sizeMismatch);
    ASSERT_GT(captured.frames, c.rate / 4);
    // Skip the first 100 ms, which may hold the start of playback.
    std::vector<double> samples = decodeChannel(captured.bytes, format, 0);
    samples.erase(samples.begin(), samples.begin() + c.rate / 10);
    EXPECT_NEAR(toneFrequency(samples, c.rate), 1000.0, 2.0);
    EXPECT_NEAR(decibels(peakLevel(samples) / kTonePeak), 0.0, 1.0);
  }
}

TEST_F(CaptureStreams, AMicrophoneDeliversItsToneAtItsOwnRateInPacketsAsAnnounced) {
  addMicrophone("mic", "Microphone", 440);
  OpenedStream stream;
  ASSERT_EQ(openStream(enumerator(), eCapture, "mic", &stream), S_OK);
  EXPECT_EQ(stream.format->nSamplesPerSec, 48000u);
  EXPECT_EQ(stream.format->nChannels, 2);

  ASSERT_GT(drainFor(stream.capture.get(), *stream.format, 100).frames, 0u);
  const auto begin = std::chrono::steady_clock::now();
  const Captured captured = drainFor(stream.capture.get(), *stream.format, 1500, false);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  EXPECT_EQ(captured.lost, S_OK);
  EXPECT_EQ(captured.failure, S_OK);
  EXPECT_FALSE(captured.sizeMismatch);
  EXPECT_GT(captured.packets, 50) << "fragments of about 10 ms, not late lumps";
  EXPECT_LT(captured.longestGapSeconds, 0.5) << "data came in lumps";
  // Neither lost nor duplicated data: about as many frames as time passed.
  EXPECT_NEAR(captured.frames / (48000.0 * seconds), 1.0, 0.05);
  const auto samples = decodeChannel(captured.bytes, *stream.format, 1);
  EXPECT_NEAR(toneFrequency(samples, 48000), 440.0, 2.0);
  EXPECT_NEAR(decibels(peakLevel(samples) / kTonePeak), 0.0, 1.0);
}

// module-sine-source has a fixed two-second latency: the server hands its data
// over in two-second bursts, which the stream hands out as time passes.
TEST_F(CaptureStreams, ASourceThatDeliversInBurstsIsHandedOutSteadily) {
  ASSERT_GE(server.loadModule({"module-sine-source", "source_name=tone", "frequency=440", "rate=32000"}), 0);
  OpenedStream stream;
  ASSERT_EQ(openStream(enumerator(), eCapture, "tone", &stream), S_OK);
  EXPECT_EQ(stream.format->nSamplesPerSec, 32000u);
  EXPECT_EQ(stream.format->nChannels, 1);
  ASSERT_GT(drainFor(stream.capture.get(), *stream.format, 300).frames, 0u);

  // Across the next burst: data in every few passes, and about as much as
  // time passed (the first drain took the slack).
  const auto begin = std::chrono::steady_clock::now();
  const Captured captured = drainFor(stream.capture.get(), *stream.format, 3000, false);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  EXPECT_EQ(captured.lost, S_OK);
  EXPECT_EQ(captured.failure, S_OK);
  EXPECT_LT(captured.longestGapSeconds, 0.5) << "data came in lumps";
  EXPECT_NEAR(captured.frames / (32000.0 * seconds), 1.0, 0.05);
  EXPECT_NEAR(toneFrequency(decodeChannel(captured.bytes, *stream.format, 0), 32000), 440.0, 2.0);
}

// When the server dies, or the device is removed, GetNextPacketSize answers
// from then on as WASAPI's does for a stopped audio service or a device that
// went away, within a pass or two; GetBuffer is never needed to find out.
// (A removed plain source is one of the seam-conformance rules.)
TEST_F(CaptureStreams, ADeadServerOrARemovedDeviceFailsGetNextPacketSizeFromThenOn) {
  enum class Ending { killServer, removeRemappedMicrophone, removeSink };
  const struct {
    Ending ending;
    HRESULT status;
  } cases[] = {
      {Ending::killServer, AUDCLNT_E_SERVICE_NOT_RUNNING},
      {Ending::removeRemappedMicrophone, AUDCLNT_E_DEVICE_INVALIDATED},
      {Ending::removeSink, AUDCLNT_E_DEVICE_INVALIDATED},
  };
  bool first = true;
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.ending));
    if (!first) {
      enumerator_.reset();
      server.stop();
      ASSERT_TRUE(server.start());
    }
    first = false;
    const int sourceModule = server.loadModule({"module-sine-source", "source_name=tone", "rate=48000"});
    const int sinkModule = server.loadModule({"module-null-sink", "sink_name=speakers"});
    ASSERT_GE(sourceModule, 0);
    ASSERT_GE(sinkModule, 0);
    addMicrophone("mic", "Microphone", 440);
    server.playTone("speakers", 1000);
    ASSERT_TRUE(server.waitForPlayback("speakers", 1));
    const bool loopback = c.ending == Ending::removeSink;
    const char* source = c.ending == Ending::removeRemappedMicrophone ? "mic" : "tone";
    OpenedStream stream;
    ASSERT_EQ(openStream(enumerator(), loopback ? eRender : eCapture, loopback ? "speakers" : source, &stream), S_OK);
    const Captured before = drainFor(stream.capture.get(), *stream.format, 100);
    ASSERT_EQ(before.lost, S_OK);
    ASSERT_EQ(before.failure, S_OK);
    ASSERT_GT(before.frames, 0u);

    switch (c.ending) {
      case Ending::killServer: kill(server.pid(), SIGKILL); break;
      case Ending::removeRemappedMicrophone: server.pactl({"unload-module", "module-remap-source"}); break;
      case Ending::removeSink: server.pactl({"unload-module", std::to_string(sinkModule)}); break;
    }
    const auto begin = std::chrono::steady_clock::now();
    const Captured after = drainFor(stream.capture.get(), *stream.format, 5000, false);
    EXPECT_EQ(after.lost, c.status);
    EXPECT_EQ(after.failure, S_OK) << "a lost stream must not announce a packet";
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(1)) << "noticed late";
    for (int pass = 0; pass < 3; ++pass) {
      Sleep(10);
      UINT32 frames = 1;
      EXPECT_EQ(stream.capture->GetNextPacketSize(&frames), c.status);
      EXPECT_EQ(frames, 0u);
      BYTE* data = nullptr;
      DWORD flags = 0;
      EXPECT_EQ(stream.capture->GetBuffer(&data, &frames, &flags, nullptr, nullptr), c.status);
      EXPECT_EQ(data, nullptr);
    }
    EXPECT_EQ(stream.client->Stop(), S_OK);
  }
}

TEST_F(CaptureStreams, AServerThatStopsAnsweringNeverBlocksThePacketCalls) {
  addMicrophone("mic", "Microphone", 440);
  OpenedStream stream;
  ASSERT_EQ(openStream(enumerator(), eCapture, "mic", &stream), S_OK);
  ASSERT_GT(drainFor(stream.capture.get(), *stream.format, 200).frames, 0u);

  kill(server.pid(), SIGSTOP);
  const auto begin = std::chrono::steady_clock::now();
  const Captured stalled = drainFor(stream.capture.get(), *stream.format, 500, false);
  const auto elapsed = std::chrono::steady_clock::now() - begin;
  kill(server.pid(), SIGCONT);
  EXPECT_EQ(stalled.lost, S_OK) << "a server that is slow to answer is not a lost one";
  EXPECT_EQ(stalled.failure, S_OK);
  EXPECT_LT(elapsed, std::chrono::seconds(2)) << "a packet call waited for the stopped server";
  EXPECT_LT(stalled.frames, 48000u / 4) << "data kept coming from a stopped server";

  const Captured resumed = drainFor(stream.capture.get(), *stream.format, 500);
  EXPECT_EQ(resumed.lost, S_OK);
  EXPECT_EQ(resumed.failure, S_OK);
  EXPECT_GT(resumed.frames, 0u);
}

// The waits of set-up (connecting, opening a stream) give up at their
// deadline, and sleep until then instead of spinning.
TEST_F(CaptureStreams, SetUpWaitsForAStoppedServerTimeOutAsleep) {
  addMicrophone("mic", "Microphone", 440);
  enum class Step { connect, initialize };
  for (Step step : {Step::connect, Step::initialize}) {
    SCOPED_TRACE(static_cast<int>(step));
    Ref<IMMDeviceEnumerator> created;
    Ref<IAudioClient> client;
    WAVEFORMATEX* format = nullptr;
    if (step == Step::initialize) {
      ASSERT_EQ(
          CoCreateInstance(CLSID_MMDeviceEnumerator, nullptr, CLSCTX_ALL, IID_IMMDeviceEnumerator, created.outVoid()),
          S_OK);
      Ref<IMMDevice> device;
      ASSERT_EQ(created->GetDefaultAudioEndpoint(eCapture, eConsole, device.out()), S_OK);
      ASSERT_EQ(device->Activate(IID_IAudioClient, CLSCTX_ALL, nullptr, client.outVoid()), S_OK);
      ASSERT_EQ(client->GetMixFormat(&format), S_OK);
    }
    kill(server.pid(), SIGSTOP);
    const std::clock_t cpuBegin = std::clock();
    const auto begin = std::chrono::steady_clock::now();
    const HRESULT status = step == Step::connect
                               ? CoCreateInstance(CLSID_MMDeviceEnumerator, nullptr, CLSCTX_ALL,
                                                  IID_IMMDeviceEnumerator, created.outVoid())
                               : client->Initialize(AUDCLNT_SHAREMODE_SHARED, 0, 2000000, 0, format, nullptr);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    const double cpuSeconds = static_cast<double>(std::clock() - cpuBegin) / CLOCKS_PER_SEC;
    kill(server.pid(), SIGCONT);
    CoTaskMemFree(format);
    EXPECT_EQ(status, static_cast<HRESULT>(0x800705B4u));  // ERROR_TIMEOUT
    EXPECT_GT(seconds, 4.0);
    EXPECT_LT(seconds, 10.0);
    EXPECT_LT(cpuSeconds, 0.1 * seconds) << "the wait spun";
  }
}

// Nothing runs behind the caller's back: the platform starts no thread, so
// no call hands work to one and nothing wakes between two passes.
TEST_F(CaptureStreams, TheStreamsAreServedOnTheCallersThreadAlone) {
  auto threads = [] {
    int count = 0;
    if (DIR* tasks = opendir("/proc/self/task")) {
      while (const dirent* entry = readdir(tasks))
        if (entry->d_name[0] != '.') ++count;
      closedir(tasks);
    }
    return count;
  };
  const int before = threads();
  addMicrophone("mic", "Microphone", 440);
  ASSERT_GE(server.loadModule({"module-null-sink", "sink_name=speakers"}), 0);
  server.playTone("speakers", 1000);
  ASSERT_TRUE(server.waitForPlayback("speakers", 1));
  OpenedStream mic;
  OpenedStream desktop;
  ASSERT_EQ(openStream(enumerator(), eCapture, "mic", &mic), S_OK);
  ASSERT_EQ(openStream(enumerator(), eRender, "speakers", &desktop), S_OK);
  EXPECT_GT(drainFor(mic.capture.get(), *mic.format, 200).frames, 0u);
  EXPECT_GT(drainFor(desktop.capture.get(), *desktop.format, 200).frames, 0u);
  EXPECT_EQ(threads(), before);
}

}  // namespace
