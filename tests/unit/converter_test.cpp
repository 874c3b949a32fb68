#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "events/faults.h"
#include "pipeline/converter.h"
#include "tests/support/scripted_capture.h"

namespace {

using Bytes = std::vector<BYTE>;

Bytes int16Bytes(std::initializer_list<std::int16_t> values) {
  Bytes bytes;
  for (std::int16_t v : values) {
    const auto u = static_cast<std::uint16_t>(v);
    bytes.push_back(static_cast<BYTE>(u & 0xFF));
    bytes.push_back(static_cast<BYTE>(u >> 8));
  }
  return bytes;
}

Bytes int32Bytes(std::initializer_list<std::int32_t> values) {
  Bytes bytes;
  for (std::int32_t v : values) {
    const auto u = static_cast<std::uint32_t>(v);
    for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<BYTE>((u >> shift) & 0xFF));
  }
  return bytes;
}

Bytes floatBytes(std::initializer_list<float> values) {
  Bytes bytes;
  for (float v : values) {
    std::uint32_t u;
    std::memcpy(&u, &v, sizeof u);
    for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<BYTE>((u >> shift) & 0xFF));
  }
  return bytes;
}

Bytes repeated(const Bytes& frame, int times) {
  Bytes bytes;
  for (int i = 0; i < times; ++i) bytes.insert(bytes.end(), frame.begin(), frame.end());
  return bytes;
}

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

struct Format {
  std::int32_t channels;
  std::int32_t bitsPerSample;
  std::int32_t isFloat;
  std::int32_t rate;
};

constexpr Format kFloatMono16k{1, 32, 1, 16000};
constexpr Format kInt16Mono16k{1, 16, 0, 16000};

class Converter : public ::testing::Test {
 protected:
  void SetUp() override {
    slot->label = "mic";
    slot->captureClient = &client;
  }

  void useFormat(const Format& format) {
    slot->channelCount = format.channels;
    slot->bitsPerSample = format.bitsPerSample;
    slot->isFloat = format.isFloat;
    slot->deviceRate = format.rate;
    slot->resampleStep = format.rate / 16000.0;
  }

  void queue(Bytes bytes, UINT32 frames, DWORD flags = 0) {
    ScriptedPacket packet;
    packet.bytes = std::move(bytes);
    packet.frames = frames;
    packet.flags = flags;
    client.queuePacket(std::move(packet));
  }

  std::vector<std::int16_t> unread() const {
    std::vector<std::int16_t> samples;
    for (std::int64_t c = slot->ring.readCount; c < slot->ring.writeCount; ++c)
      samples.push_back(slot->ring.samples[c % kRingCapacity]);
    return samples;
  }

  // Mono 16-bit input frames, one packet.
  void feedMono16(const std::vector<std::int16_t>& values) {
    Bytes bytes;
    for (std::int16_t v : values) {
      const Bytes one = int16Bytes({v});
      bytes.insert(bytes.end(), one.begin(), one.end());
    }
    queue(std::move(bytes), static_cast<UINT32>(values.size()));
    drainSlot(*slot);
  }

  std::unique_ptr<CaptureSlot> slot = std::make_unique<CaptureSlot>();
  ScriptedCaptureClient client;
};

std::uint32_t bitsOf(float value) {
  std::uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

struct DecodeCase {
  const char* name;
  std::int32_t isFloat;
  std::int32_t bitsPerSample;
  Bytes bytes;  // exactly the sample's container
  float expected;
};

TEST_F(Converter, DecodesEachSampleFormatByItsContainerWidth) {
  const DecodeCase cases[] = {
      {"float as stored", 1, 32, floatBytes({-0.3f}), -0.3f},
      {"float out of range kept", 1, 32, floatBytes({1.5f}), 1.5f},
      {"float in a 64-bit container: first 4 bytes", 1, 64, floatBytes({0.25f, kNaN}), 0.25f},
      {"float in a 16-bit container: silence", 1, 16, Bytes{0x00, 0x3F}, 0.0f},
      {"float in a 24-bit container: silence", 1, 24, Bytes{0x00, 0x00, 0x3F}, 0.0f},
      {"int32 largest is exactly 1", 0, 32, int32Bytes({2147483647}), 1.0f},
      {"int32 smallest", 0, 32, int32Bytes({-2147483647 - 1}), -1.0f},
      {"int32 one step", 0, 32, int32Bytes({1}), 0x1p-31f},
      {"int32 carrying 24 bits", 0, 32, int32Bytes({-256}), -0x1p-23f},
      {"int24 00 00 80", 0, 24, Bytes{0x00, 0x00, 0x80}, -1.0f},
      {"int24 FF FF 7F", 0, 24, Bytes{0xFF, 0xFF, 0x7F}, 8388607.0f / 8388608.0f},
      {"int24 minus one step", 0, 24, Bytes{0xFF, 0xFF, 0xFF}, -0x1p-23f},
      {"int24 one step", 0, 24, Bytes{0x01, 0x00, 0x00}, 0x1p-23f},
      {"int16 largest", 0, 16, int16Bytes({32767}), 32767.0f / 32768.0f},
      {"int16 smallest", 0, 16, int16Bytes({-32768}), -1.0f},
      {"int8: silence", 0, 8, Bytes{0x7F}, 0.0f},
      {"int20 in 20 bits: silence", 0, 20, Bytes{0xFF, 0x7F}, 0.0f},
  };
  for (const auto& c : cases) {
    slot->isFloat = c.isFloat;
    slot->bitsPerSample = c.bitsPerSample;
    EXPECT_EQ(bitsOf(decodeSample(*slot, c.bytes.data())), bitsOf(c.expected)) << c.name;
  }
}

struct FrameCase {
  const char* name;
  Format format;
  Bytes frame;
  DWORD flags;
  float expected;
};

TEST_F(Converter, DecodesAFrameAsThePlainMeanOfItsChannels) {
  const float threeChannelMean = ((0.0f + 0.25f) + 0.5f + -0.125f) / 3.0f;
  const FrameCase cases[] = {
      {"stereo 16384 and -16384", {2, 16, 0, 48000}, int16Bytes({16384, -16384}), 0, 0.0f},
      {"stereo float", {2, 32, 1, 48000}, floatBytes({0.5f, 0.25f}), 0, 0.375f},
      {"three channels in order", {3, 32, 1, 48000}, floatBytes({0.25f, 0.5f, -0.125f}), 0, threeChannelMean},
      {"stereo 24-bit packed", {2, 24, 0, 48000}, Bytes{0x00, 0x00, 0x40, 0x00, 0x00, 0xC0}, 0, 0.0f},
      {"discontinuity flag changes nothing",
       {1, 16, 0, 48000},
       int16Bytes({8192}),
       AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY,
       0.25f},
      {"timestamp error flag changes nothing",
       {1, 16, 0, 48000},
       int16Bytes({8192}),
       AUDCLNT_BUFFERFLAGS_TIMESTAMP_ERROR,
       0.25f},
      {"silent flag", {1, 16, 0, 48000}, int16Bytes({8192}), AUDCLNT_BUFFERFLAGS_SILENT, 0.0f},
      {"no channels", {0, 16, 0, 48000}, Bytes{}, 0, 0.0f},
  };
  for (const auto& c : cases) {
    useFormat(c.format);
    EXPECT_EQ(bitsOf(decodeFrame(*slot, c.frame.empty() ? nullptr : c.frame.data(), c.flags)), bitsOf(c.expected))
        << c.name;
  }
}

TEST_F(Converter, SilentFrameIsNotRead) {
  useFormat(kFloatMono16k);
  EXPECT_EQ(decodeFrame(*slot, nullptr, AUDCLNT_BUFFERFLAGS_SILENT), 0.0f);
}

struct StoreCase {
  const char* name;
  Format format;
  Bytes frame;
  std::int16_t expected;
};

// At 16 kHz the first frame gives the initial 0 and then, at t = 1, the frame
// itself, so two equal frames store 0, v, v: v is the scaled, clamped,
// rounded value of one frame.
TEST_F(Converter, StoresScaledClampedValuesRoundedHalfToEven) {
  const StoreCase cases[] = {
      {"int16 32767", kInt16Mono16k, int16Bytes({32767}), 32766},
      {"int16 -32768", kInt16Mono16k, int16Bytes({-32768}), -32767},
      {"int16 16383 -> 16382.5 -> 16382", kInt16Mono16k, int16Bytes({16383}), 16382},
      {"int16 16384 -> 16383.5 -> 16384", kInt16Mono16k, int16Bytes({16384}), 16384},
      {"int16 16385 -> 16384.5 -> 16384", kInt16Mono16k, int16Bytes({16385}), 16384},
      {"int16 -16384 -> -16383.5 -> -16384", kInt16Mono16k, int16Bytes({-16384}), -16384},
      {"int24 00 00 80", {1, 24, 0, 16000}, Bytes{0x00, 0x00, 0x80}, -32767},
      {"int24 FF FF 7F", {1, 24, 0, 16000}, Bytes{0xFF, 0xFF, 0x7F}, 32767},
      {"int32 largest", {1, 32, 0, 16000}, int32Bytes({2147483647}), 32767},
      {"int32 smallest", {1, 32, 0, 16000}, int32Bytes({-2147483647 - 1}), -32767},
      {"float 1.5", kFloatMono16k, floatBytes({1.5f}), 32767},
      {"float -1.5", kFloatMono16k, floatBytes({-1.5f}), -32768},
      {"float -1.0", kFloatMono16k, floatBytes({-1.0f}), -32767},
      {"float +inf", kFloatMono16k, floatBytes({kInf}), 32767},
      {"float -inf", kFloatMono16k, floatBytes({-kInf}), -32768},
      {"float NaN", kFloatMono16k, floatBytes({kNaN}), 0},
      {"three channels", {3, 32, 1, 16000}, floatBytes({0.25f, 0.5f, -0.125f}), 6826},
      {"stereo 16384 and -16384", {2, 16, 0, 16000}, int16Bytes({16384, -16384}), 0},
      {"int8", {1, 8, 0, 16000}, Bytes{0x7F}, 0},
      {"float in a 16-bit container", {1, 16, 1, 16000}, Bytes{0x00, 0x3F}, 0},
      {"float in a 64-bit container", {1, 64, 1, 16000}, floatBytes({0.5f, kNaN}), 16384},
  };
  for (const auto& c : cases) {
    slot = std::make_unique<CaptureSlot>();
    SetUp();
    useFormat(c.format);
    queue(repeated(c.frame, 2), 2);
    drainSlot(*slot);
    EXPECT_EQ(unread(), (std::vector<std::int16_t>{0, c.expected, c.expected})) << c.name;
  }
}

struct RateCase {
  const char* name;
  std::int32_t rate;
  std::vector<std::int16_t> input;  // mono 16-bit frames
  std::vector<std::int16_t> expected;
};

// A ramp makes each output name its position: at 48 kHz frames 0, 2, 5, 8...
TEST_F(Converter, InterpolatesAtThePhaseSequenceOfEachRate) {
  std::vector<std::int16_t> ramp44k1;
  for (int k = 0; k < 30; ++k) ramp44k1.push_back(static_cast<std::int16_t>(100 * (k + 1)));
  const RateCase cases[] = {
      {"16000", 16000, {1000, 2000, 3000, 4000}, {0, 1000, 2000, 3000, 4000}},
      {"48000",
       48000,
       {0, 1000, 2000, 3000, 4000, 5000, 6000, 7000, 8000, 9000, 10000, 11000},
       {0, 2000, 5000, 8000, 11000}},
      {"8000", 8000, {1000, 2000, 3000, 4000}, {0, 500, 1000, 1500, 2000, 2500, 3000, 3500, 4000}},
      {"44100", 44100, ramp44k1, {0, 276, 551, 827, 1102, 1378, 1654, 1929, 2205, 2481, 2756}},
  };
  for (const auto& c : cases) {
    slot = std::make_unique<CaptureSlot>();
    SetUp();
    useFormat({1, 16, 0, c.rate});
    feedMono16(c.input);
    EXPECT_EQ(unread(), c.expected) << c.name;
  }
}

struct CountCase {
  const char* name;
  std::int32_t rate;
  int framesPerPacket;
  std::vector<std::int64_t> samplesPerPacket;
};

TEST_F(Converter, YieldsTheOutputCountOfEachRatePerPacket) {
  const CountCase cases[] = {
      {"16000: first frame two, later one each", 16000, 1, {2, 1, 1}},
      {"8000: first frame three, later two each", 8000, 1, {3, 2, 2}},
      {"16000, 10 ms", 16000, 160, {161, 160}},
      {"48000, 10 ms", 48000, 480, {161, 160, 160}},
      {"8000, 10 ms", 8000, 80, {161, 160}},
      // 2.75625 accumulated in double lands just past 1.0 at the 441st frame,
      // so that output moves to the first frame of the next packet.
      {"44100, 10 ms", 44100, 441, {160, 160}},
      {"44100, one second then one frame", 44100, 44100, {16000}},
  };
  for (const auto& c : cases) {
    slot = std::make_unique<CaptureSlot>();
    SetUp();
    useFormat({1, 16, 0, c.rate});
    for (std::size_t p = 0; p < c.samplesPerPacket.size(); ++p) {
      const std::int64_t before = slot->ring.writeCount;
      feedMono16(std::vector<std::int16_t>(static_cast<std::size_t>(c.framesPerPacket), 7));
      EXPECT_EQ(slot->ring.writeCount - before, c.samplesPerPacket[p]) << c.name << ", packet " << p;
    }
  }
  // The 44.1 kHz output that slipped past the second boundary comes at t ~ 0 of the next frame.
  const std::int64_t before = slot->ring.writeCount;
  feedMono16({7});
  EXPECT_EQ(slot->ring.writeCount - before, 1);
}

struct SilentCase {
  const char* name;
  std::int32_t rate;
  int loudFrames;
  int silentFrames;
  std::vector<std::int16_t> expected;
};

// A silent packet moves the resampler like audible data: it interpolates
// from the last loud frame down to 0. Its bytes (NaN here) are never read.
TEST_F(Converter, SilentPacketsAdvanceTheResampler) {
  const SilentCase cases[] = {
      {"16000", 16000, 3, 3, {0, 32767, 32767, 32767, 0, 0, 0}},
      {"8000", 8000, 2, 2, {0, 16384, 32767, 32767, 32767, 16384, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    slot = std::make_unique<CaptureSlot>();
    SetUp();
    useFormat({1, 32, 1, c.rate});
    queue(repeated(floatBytes({1.0f}), c.loudFrames), static_cast<UINT32>(c.loudFrames));
    queue(repeated(floatBytes({kNaN}), c.silentFrames), static_cast<UINT32>(c.silentFrames),
          AUDCLNT_BUFFERFLAGS_SILENT);
    drainSlot(*slot);
    EXPECT_EQ(unread(), c.expected) << c.name;
  }
}

TEST_F(Converter, OutputsInterpolatedFromANaNFrameAreSilence) {
  useFormat(kFloatMono16k);
  queue(floatBytes({0.5f, kNaN, 0.5f, 0.5f}), 4);
  drainSlot(*slot);
  EXPECT_EQ(unread(), (std::vector<std::int16_t>{0, 16384, 0, 0, 16384}));
}

// The per-format packet loops must give the bytes of the plain per-frame path.
TEST_F(Converter, PacketLoopsMatchFrameByFrameConversion) {
  const Format formats[] = {{2, 32, 1, 48000}, {1, 32, 1, 44100}, {3, 32, 1, 96000}, {2, 32, 0, 44100},
                            {2, 24, 0, 22050}, {1, 16, 0, 16000}, {2, 16, 0, 11025}, {6, 16, 0, 48000}};
  std::mt19937 random(20261210);
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_real_distribution<float> level(-1.2f, 1.2f);
  for (const Format& format : formats) {
    const int frames = 997;
    const int stride = format.bitsPerSample / 8 * format.channels;
    Bytes bytes(static_cast<std::size_t>(frames * stride));
    if (format.isFloat != 0) {
      for (std::size_t i = 0; i < bytes.size(); i += 4) {
        const float v = level(random);
        std::memcpy(&bytes[i], &v, sizeof v);
      }
    } else {
      for (BYTE& b : bytes) b = static_cast<BYTE>(byte(random));
    }
    auto reference = std::make_unique<CaptureSlot>();
    slot = std::make_unique<CaptureSlot>();
    SetUp();
    useFormat(format);
    std::memcpy(reference.get(), slot.get(), sizeof(CaptureSlot));
    for (int f = 0; f < frames; ++f) resampleFrame(*reference, decodeFrame(*reference, &bytes[f * stride], 0));
    queue(bytes, frames);
    drainSlot(*slot);
    const std::string name = std::to_string(format.channels) + " x " + std::to_string(format.bitsPerSample) +
                             (format.isFloat != 0 ? " float @ " : " int @ ") + std::to_string(format.rate);
    ASSERT_EQ(slot->ring.writeCount, reference->ring.writeCount) << name;
    EXPECT_EQ(std::memcmp(slot->ring.samples, reference->ring.samples, sizeof reference->ring.samples), 0) << name;
    EXPECT_EQ(slot->resamplePhase, reference->resamplePhase) << name;
    EXPECT_EQ(bitsOf(slot->lastSample), bitsOf(reference->lastSample)) << name;
  }
}

TEST_F(Converter, DrainsEveryPacketAndReleasesWhatGetBufferReported) {
  useFormat(kInt16Mono16k);
  ScriptedPacket announcedMore;
  announcedMore.bytes = int16Bytes({100, 200, 300});
  announcedMore.frames = 3;
  announcedMore.announcedFrames = 5;
  client.queuePacket(announcedMore);
  ScriptedPacket empty;
  empty.frames = 0;
  empty.announcedFrames = 1;
  client.queuePacket(empty);
  queue(int16Bytes({400, 500}), 2);

  drainSlot(*slot);

  EXPECT_EQ(client.releasedFrameCounts(), (std::vector<UINT32>{3, 0, 2}));
  EXPECT_EQ(client.pendingSteps(), 0u);
  EXPECT_FALSE(client.positionsRequested());
  EXPECT_EQ(unread(), (std::vector<std::int16_t>{0, 100, 200, 300, 400, 500}));
}

// Failures that do not say the stream is gone: the next pass asks again.
// 0x88890003 and 0x88890005 are the lost-device status's neighbours.
TEST_F(Converter, FailingPacketSizeEndsThePassQuietly) {
  for (const HRESULT status : {E_FAIL, AUDCLNT_E_WRONG_ENDPOINT_TYPE, AUDCLNT_E_NOT_STOPPED}) {
    slot = std::make_unique<CaptureSlot>();
    client = ScriptedCaptureClient();
    SetUp();
    useFormat(kInt16Mono16k);
    client.queueNextPacketSizeFailure(status);
    queue(int16Bytes({100}), 1);
    client.queueNextPacketSizeFailure(status);
    queue(int16Bytes({200}), 1);

    drainSlot(*slot);  // fails at once
    EXPECT_EQ(client.getBufferCalls(), 0) << status;
    EXPECT_EQ(slot->ring.writeCount, 0) << status;

    drainSlot(*slot);  // one packet, then the failure
    EXPECT_EQ(client.releasedFrameCounts(), (std::vector<UINT32>{1})) << status;

    drainSlot(*slot);  // the next pass tries again
    EXPECT_EQ(client.releasedFrameCounts(), (std::vector<UINT32>{1, 1})) << status;
    EXPECT_EQ(unread(), (std::vector<std::int16_t>{0, 100, 200})) << status;
  }
}

using ConverterDeathTest = Converter;

TEST_F(ConverterDeathTest, FailingGetBufferEndsTheProcessWithStatus4) {
  useFormat(kInt16Mono16k);
  slot->label = "desktop";
  queue(int16Bytes({100}), 1);
  ScriptedPacket failing;
  failing.frames = 1;
  failing.getBufferStatus = AUDCLNT_E_DEVICE_INVALIDATED;
  client.queuePacket(failing);
  EXPECT_EXIT(drainSlot(*slot), ::testing::ExitedWithCode(exitStatus::captureFailed),
              "^\\{\"event\":\"fault\",\"reason\":\"capture\\.stopped\",\"detail\":\"GetBuffer\","
              "\"slot\":\"desktop\"\\}\n$");
}

struct LostStreamCase {
  HRESULT status;
  const char* detail;
  bool afterAPacket;  // the loss is seen by the size query after a packet, not by the first one
};

TEST_F(ConverterDeathTest, StreamGoneEndsTheProcessWithStatus4AtEitherSizeQuery) {
  const LostStreamCase cases[] = {
      {AUDCLNT_E_DEVICE_INVALIDATED, "GetNextPacketSize:0x88890004", false},
      {AUDCLNT_E_DEVICE_INVALIDATED, "GetNextPacketSize:0x88890004", true},
      {AUDCLNT_E_SERVICE_NOT_RUNNING, "GetNextPacketSize:0x88890010", false},
      {AUDCLNT_E_SERVICE_NOT_RUNNING, "GetNextPacketSize:0x88890010", true},
  };
  useFormat(kInt16Mono16k);
  for (const auto& row : cases) {
    client = ScriptedCaptureClient();
    if (row.afterAPacket) queue(int16Bytes({100}), 1);
    client.queueNextPacketSizeFailure(row.status);
    queue(int16Bytes({200}), 1);  // never fetched
    const std::string line = std::string("^\\{\"event\":\"fault\",\"reason\":\"capture\\.stopped\",\"detail\":\"") +
                             row.detail + "\",\"slot\":\"mic\"\\}\n$";
    EXPECT_EXIT(drainSlot(*slot), ::testing::ExitedWithCode(exitStatus::captureFailed), line)
        << row.detail << (row.afterAPacket ? " after a packet" : " at once");
  }
}

// Opening refuses such formats, but whatever the converter is handed it must
// neither divide by zero nor loop forever.
TEST_F(Converter, NoChannelsDecodeAsSilenceAtTheOutputRate) {
  useFormat({0, 16, 0, 16000});
  queue(Bytes{0x34, 0x12}, 4);
  drainSlot(*slot);
  EXPECT_EQ(unread(), (std::vector<std::int16_t>{0, 0, 0, 0, 0}));
  EXPECT_EQ(client.releasedFrameCounts(), (std::vector<UINT32>{4}));
}

TEST_F(Converter, UnusableStepProducesNothingButRemembersTheLastFrame) {
  const double steps[] = {0.0, -3.0, std::numeric_limits<double>::quiet_NaN()};
  for (double step : steps) {
    slot = std::make_unique<CaptureSlot>();
    SetUp();
    useFormat(kInt16Mono16k);
    slot->resampleStep = step;
    slot->resamplePhase = 0.25;
    queue(int16Bytes({100, 8192}), 2);
    drainSlot(*slot);
    EXPECT_EQ(slot->ring.writeCount, 0) << step;
    EXPECT_EQ(slot->resamplePhase, 0.25) << step;
    EXPECT_EQ(slot->lastSample, 0.25f) << step;

    resampleFrame(*slot, 0.5f);
    EXPECT_EQ(slot->ring.writeCount, 0) << step;
    EXPECT_EQ(slot->lastSample, 0.5f) << step;
  }
}

}  // namespace
