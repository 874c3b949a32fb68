#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <utility>
#include <memory>
#include <string>
#include <vector>

#include "app/stop_flag.h"
#include "pipeline/pacer.h"
#include "tests/support/scripted_capture.h"
#include "platform/sim/stdout_limit.h"
#include "platform/sim/console_and_clock.h"
#include "tests/support/stream_capture.h"

namespace {

constexpr char kStoppedLine[] = "{\"event\":\"stopped\"}\n";
constexpr std::int64_t kTicksPerPass = kSimClockFrequency / 100;  // the 10 ms pause

// The pacer's own clock formula: division first, then truncation.
std::int64_t clockFramesAt(std::int64_t elapsedTicks) {
  return static_cast<std::int64_t>(static_cast<double>(elapsedTicks) / static_cast<double>(kSimClockFrequency) *
                                   16000.0);
}

// The fewest elapsed ticks at which the clock shows `frames` frames.
std::int64_t ticksForFrames(std::int64_t frames) {
  std::int64_t ticks = frames * (kSimClockFrequency / 16000) - 10;
  while (clockFramesAt(ticks) < frames) ++ticks;
  return ticks;
}

// Little-endian 16-bit samples, as they appear on standard output.
std::string pcm(const std::vector<std::int16_t>& samples) {
  std::string bytes;
  for (std::int16_t s : samples) {
    const auto u = static_cast<std::uint16_t>(s);
    bytes.push_back(static_cast<char>(u & 0xFF));
    bytes.push_back(static_cast<char>(u >> 8));
  }
  return bytes;
}

std::int16_t valueOf(std::int64_t count) { return static_cast<std::int16_t>(count % 30000 + 1); }
std::int16_t producedValue(std::int64_t index) { return static_cast<std::int16_t>(index % 16000 + 1); }

// One channel of the interleaved output.
std::vector<std::int16_t> channelOf(const std::string& out, int channels, int channel) {
  std::vector<std::int16_t> samples;
  for (std::size_t at = 2 * static_cast<std::size_t>(channel); at + 1 < out.size(); at += 2 * channels)
    samples.push_back(static_cast<std::int16_t>(static_cast<unsigned char>(out[at]) |
                                                (static_cast<unsigned char>(out[at + 1]) << 8)));
  return samples;
}

// Output frame f is written in the pass at whose clock f + 960 is due; a
// source that delivers from the origin carries production index f there.
// Returns the frame at which the channel turns from silence to the signal
// and the production index that lands there, and counts the zeros inside it.
struct SignalPlacement {
  std::int64_t firstFrame = -1;
  std::int64_t firstIndex = -1;
  std::int64_t zerosInside = 0;  // zeros after the signal began: inserted silence
  bool contiguous = true;        // every later nonzero sample follows the one before
};
SignalPlacement placementOf(const std::vector<std::int16_t>& channel) {
  SignalPlacement found;
  std::int64_t expected = -1;
  for (std::size_t f = 0; f < channel.size(); ++f) {
    if (channel[f] == 0) {
      if (found.firstFrame >= 0) ++found.zerosInside;
      continue;
    }
    const std::int64_t index = channel[f] - 1;
    if (found.firstFrame < 0) {
      found.firstFrame = static_cast<std::int64_t>(f);
      found.firstIndex = index;
    } else if (index != expected % 16000) {
      found.contiguous = false;
    }
    expected = index + 1;
  }
  return found;
}

std::atomic<std::int32_t> testStop{0};
BOOL WINAPI setTestStop(DWORD) {
  testStop.store(1);
  return TRUE;
}

class Pacer : public ::testing::Test {
 protected:
  // Also called by table-driven tests to start each case afresh.
  void SetUp() override {
    simClockReset();
    testStop.store(0);
    table = std::make_unique<SlotTable>();
    stopLog.clear();
    const char* labels[] = {"mic", "desktop"};
    for (int s = 0; s < kMaxSlots; ++s) {
      CaptureSlot& slot = table->entries[s];
      slot.label = labels[s];
      audioClients[s] = ScriptedAudioClient(labels[s], &stopLog);
      captureClients[s] = ScriptedCaptureClient();
      slot.audioClient = &audioClients[s];
      slot.captureClient = &captureClients[s];
      slot.channelCount = 1;
      slot.bitsPerSample = 16;
      slot.deviceRate = 16000;
      slot.resampleStep = 1.0;
    }
    startClock(pacer);
  }

  void TearDown() override { simClockReset(); }

  SampleRing& ring(int s) { return table->entries[s].ring; }

  void preload(int s, std::int64_t count) {
    for (std::int64_t c = 0; c < count; ++c) pushSample(ring(s), valueOf(ring(s).writeCount));
  }

  // The source in slot s hands over, in pass p, the frames it produced in
  // [range(p).first, range(p).second), counted in 10 ms passes of 160 from the
  // origin. Each frame's value is its production index % 16000 + 1, never 0,
  // and comes out of the converter unchanged: the resampler is set to give
  // one sample per frame from the first one on.
  void deliverByPass(int s, std::function<std::pair<std::int64_t, std::int64_t>(std::int64_t)> range) {
    table->entries[s].resamplePhase = 1.0;
    captureClients[s].setPacketSource([range, lastPass = std::int64_t{-1}](ScriptedPacket& packet) mutable {
      const std::int64_t pass = simClockTicks() / kTicksPerPass;
      if (pass == lastPass) return false;
      lastPass = pass;
      const auto [from, to] = range(pass);
      if (to <= from) return false;
      packet.frames = static_cast<UINT32>(to - from);
      packet.bytes.clear();
      for (std::int64_t i = from; i < to; ++i) {
        const auto v = static_cast<std::uint16_t>(producedValue(i));
        packet.bytes.push_back(static_cast<BYTE>(v & 0xFF));
        packet.bytes.push_back(static_cast<BYTE>(v >> 8));
      }
      return true;
    });
  }

  // Makes the first pass (after one 10 ms pause) see exactly `frames` due.
  void firstPassSees(std::int64_t frames) { pacer.clockOrigin = kTicksPerPass - ticksForFrames(frames); }

  // Runs the pacer until the control event at `stopAtMs` of virtual time,
  // with both standard streams captured.
  void run(int slotCount, std::int64_t stopAtMs, const std::atomic<std::int32_t>& flag = testStop) {
    SetConsoleCtrlHandler(&flag == &stopRequested ? onConsoleControl : setTestStop, TRUE);
    if (stopAtMs >= 0) simClockScheduleControlEvent(stopAtMs);
    err = captureStream(
        stderr, [&] { out = captureStream(stdout, [&] { runPacer(*table, slotCount, pacer, *output, flag); }); });
  }

  std::unique_ptr<SlotTable> table = std::make_unique<SlotTable>();
  std::unique_ptr<OutputFrameBuffer> output = std::make_unique<OutputFrameBuffer>();
  std::vector<std::string> stopLog;
  ScriptedAudioClient audioClients[kMaxSlots];
  ScriptedCaptureClient captureClients[kMaxSlots];
  PacerState pacer{};
  std::string out;
  std::string err;
};

TEST_F(Pacer, StartClockTakesTheOriginAndClearsTheCount) {
  Sleep(1234);
  pacer.framesWritten = 99;
  startClock(pacer);
  EXPECT_EQ(pacer.clockFrequency, kSimClockFrequency);
  EXPECT_EQ(pacer.clockOrigin, simClockTicks());
  EXPECT_EQ(pacer.framesWritten, 0);
}

TEST_F(Pacer, WritesNothingUntilMoreThan960FramesAreDue) {
  struct Case {
    std::int64_t due;
    std::int64_t written;
  };
  for (const Case c : {Case{959, 0}, Case{960, 0}, Case{961, 1}, Case{962, 2}}) {
    SetUp();
    preload(0, 5);
    firstPassSees(c.due);
    run(1, 10);
    EXPECT_EQ(pacer.framesWritten, c.written) << c.due;
    EXPECT_EQ(out, pcm(std::vector<std::int16_t>{valueOf(0), valueOf(1)}).substr(0, 2 * c.written)) << c.due;
    EXPECT_EQ(ring(0).readCount, c.written) << c.due;
  }
}

TEST_F(Pacer, FirstWriteComesInThePassAfter60Milliseconds) {
  run(1, 60);
  EXPECT_EQ(out, "");
  EXPECT_EQ(pacer.framesWritten, 0);

  SetUp();
  run(1, 70);
  const std::int64_t expected = clockFramesAt(7 * kTicksPerPass) - 960;
  EXPECT_GT(expected, 0);
  EXPECT_EQ(pacer.framesWritten, expected);
  EXPECT_EQ(out.size(), static_cast<std::size_t>(2 * expected));
}

// 20100000 ticks / 10 MHz = 2.01 s; 2.01 * 16000 is 32159.999999999996 in
// double, so the clock shows 32159 frames there, not the 32160 that
// multiplying first would give.
TEST_F(Pacer, ClockPositionDividesBeforeMultiplyingAndTruncates) {
  run(1, 2010);
  EXPECT_EQ(clockFramesAt(201 * kTicksPerPass), 32159);
  EXPECT_EQ(pacer.framesWritten, 32159 - 960);
}

TEST_F(Pacer, CapsAWriteAtOneSecondAndCarriesTheRestOver) {
  struct Case {
    std::int64_t due;
    std::int64_t firstBatch;
  };
  for (const Case c : {Case{16959, 15999}, Case{16960, 16000}, Case{20000, 16000}}) {
    SetUp();
    firstPassSees(c.due);
    run(2, 20);  // two passes
    const std::int64_t clockAtSecond = clockFramesAt(ticksForFrames(c.due) + kTicksPerPass);
    const std::int64_t secondBatch = clockAtSecond - 960 - c.firstBatch;
    EXPECT_EQ(pacer.framesWritten, clockAtSecond - 960) << c.due;
    EXPECT_EQ(out.size(), static_cast<std::size_t>(4 * (c.firstBatch + secondBatch))) << c.due;
    // What the cap held back (3040 at 20000 due) comes on top of the new frames.
    EXPECT_EQ(secondBatch, (c.due - 960 - c.firstBatch) + (clockAtSecond - c.due)) << c.due;
  }
}

TEST_F(Pacer, BacklogBeyondTheBatchAnd8000IsDropped) {
  struct Case {
    std::int64_t backlog;
    std::int64_t firstCountWritten;  // which pushed sample opens the write
  };
  for (const Case c : {Case{10000, 1840}, Case{8161, 1}, Case{8160, 0}, Case{5000, 0}}) {
    SetUp();
    preload(0, c.backlog);
    firstPassSees(960 + 160);
    run(1, 10);
    std::vector<std::int16_t> expected;
    for (std::int64_t k = 0; k < 160; ++k) expected.push_back(valueOf(c.firstCountWritten + k));
    EXPECT_EQ(out, pcm(expected)) << c.backlog;
    EXPECT_EQ(ring(0).writeCount - ring(0).readCount, c.backlog - c.firstCountWritten - 160) << c.backlog;
  }
}

TEST_F(Pacer, InterleavesMicrophoneFirstAndFillsAnEmptyRingWithSilence) {
  preload(0, 100);  // fewer than the batch
  firstPassSees(960 + 160);
  run(2, 10);
  std::vector<std::int16_t> expected;
  for (int f = 0; f < 160; ++f) {
    expected.push_back(f < 100 ? valueOf(f) : 0);
    expected.push_back(0);
  }
  EXPECT_EQ(out, pcm(expected));
  EXPECT_EQ(ring(0).readCount, 100);
  EXPECT_EQ(ring(1).readCount, 0);
}

TEST_F(Pacer, DrainsEverySlotAndWritesOneSampleOfEachPerFrame) {
  // mic: 16 kHz mono 16-bit at 1000; desktop: 48 kHz stereo float at -0.5.
  ScriptedPacket mic;
  mic.frames = 200;
  for (int f = 0; f < 200; ++f) {
    mic.bytes.push_back(0xE8);
    mic.bytes.push_back(0x03);
  }
  captureClients[0].queuePacket(mic);
  CaptureSlot& desktop = table->entries[1];
  desktop.channelCount = 2;
  desktop.bitsPerSample = 32;
  desktop.isFloat = 1;
  desktop.deviceRate = 48000;
  desktop.resampleStep = 3.0;
  ScriptedPacket loopback;
  loopback.frames = 600;
  const float half = -0.5f;
  for (int i = 0; i < 2 * 600; ++i) {
    const auto* bytes = reinterpret_cast<const BYTE*>(&half);
    loopback.bytes.insert(loopback.bytes.end(), bytes, bytes + 4);
  }
  captureClients[1].queuePacket(loopback);
  firstPassSees(960 + 160);

  run(2, 10);

  std::vector<std::int16_t> expected = {0, 0};  // each resampler's first output
  for (int f = 1; f < 160; ++f) {
    expected.push_back(1000);
    expected.push_back(-16384);  // -16383.5, ties to even
  }
  EXPECT_EQ(out, pcm(expected));
  EXPECT_EQ(captureClients[0].releasedFrameCounts(), std::vector<UINT32>{200});
  EXPECT_EQ(captureClients[1].releasedFrameCounts(), std::vector<UINT32>{600});
}

TEST_F(Pacer, OneSlotWritesMonoFrames) {
  preload(0, 3);
  preload(1, 3);
  firstPassSees(963);
  run(1, 10);
  EXPECT_EQ(out, pcm({valueOf(0), valueOf(1), valueOf(2)}));
  EXPECT_EQ(ring(1).readCount, 0);
}

TEST_F(Pacer, StopDuringAPassStillWritesThatPassThenStopsInOrder) {
  stopRequested.store(0);
  run(2, 70, stopRequested);
  stopRequested.store(0);
  EXPECT_EQ(simClockTicks(), 7 * kTicksPerPass);
  EXPECT_EQ(pacer.framesWritten, clockFramesAt(7 * kTicksPerPass) - 960);
  EXPECT_EQ(out.size(), static_cast<std::size_t>(4 * pacer.framesWritten));
  EXPECT_EQ(stopLog, (std::vector<std::string>{"mic", "desktop"}));
  EXPECT_EQ(err, kStoppedLine);
}

TEST_F(Pacer, StopAlreadyRequestedSkipsTheLoop) {
  preload(0, 2000);
  testStop.store(1);
  run(2, -1);
  EXPECT_EQ(simClockTicks(), 0);                          // no pause
  EXPECT_EQ(captureClients[0].nextPacketSizeCalls(), 0);  // no drain
  EXPECT_EQ(out, "");
  EXPECT_EQ(ring(0).readCount, 0);
  EXPECT_EQ(stopLog, (std::vector<std::string>{"mic", "desktop"}));
  EXPECT_EQ(err, kStoppedLine);
}

TEST_F(Pacer, ShortWriteEndsTheRunInOrderWithoutAFault) {
  preload(0, 4000);
  const std::int64_t firstBatch = clockFramesAt(7 * kTicksPerPass) - 960;
  const std::int64_t accepted = 2 * firstBatch + 100;  // the second write is cut short
  std::FILE* const realStdout = stdout;
  SetConsoleCtrlHandler(setTestStop, TRUE);
  simClockScheduleControlEvent(10'000);
  err = captureStream(stderr, [&] {
    out = captureStream(stdout, [&] {
      simLimitStandardOutput(accepted);
      runPacer(*table, 1, pacer, *output, testStop);
      std::FILE* limited = stdout;
      stdout = realStdout;
      std::fclose(limited);
    });
  });
  EXPECT_EQ(simClockTicks(), 8 * kTicksPerPass);  // ended by the write, not by the event
  EXPECT_EQ(pacer.framesWritten, firstBatch);
  std::vector<std::int16_t> written;
  for (std::int64_t c = 0; c < accepted / 2; ++c) written.push_back(valueOf(c));
  EXPECT_EQ(out, pcm(written));
  EXPECT_EQ(stopLog, (std::vector<std::string>{"mic"}));
  EXPECT_EQ(err, kStoppedLine);
}

using PassRange = std::pair<std::int64_t, std::int64_t>;
PassRange producedIn(std::int64_t pass) { return {160 * (pass - 1), 160 * pass}; }

struct LateSourceCase {
  const char* name;
  std::function<PassRange(std::int64_t)> range;
  std::int64_t firstFrame;  // where the signal begins in the stream
  std::int64_t firstIndex;  // which produced frame opens it
  std::int64_t zerosInside;
  // The same source read the moment its samples come (no waiting for a
  // cushion): where its signal would begin and how many zeros it would carry.
  std::int64_t readAtOnceFirstFrame;
  std::int64_t readAtOnceZeros;
};

TEST_F(Pacer, ASourceThatStartsLateWaitsForItsCushionAndThenCarriesNoInsertedSilence) {
  const std::vector<LateSourceCase> cases = {
      {"from the origin", [](std::int64_t p) { return producedIn(p); }, 0, 0, 0, 0, 0},
      // From 190 ms on; in stream position the same as from the origin.
      {"starts at pass 20", [](std::int64_t p) { return p >= 20 ? producedIn(p) : PassRange{}; }, 3040, 3040, 0, 2080,
       0},
      // Every fifth packet one pass late: read at once, the first late one
      // leaves 160 zeros in the signal and moves the channel later for good.
      {"starts at pass 20, one packet in five late",
       [](std::int64_t p) {
         if (p < 20 || p % 5 == 3) return PassRange{};
         return p % 5 == 4 ? PassRange{160 * (p - 2), 160 * p} : producedIn(p);
       },
       3040, 3040, 0, 2080, 160},
      // First packets two passes late each: held until 1120 are in hand.
      {"starts at pass 22, three passes at a time",
       [](std::int64_t p) {
         return p >= 22 && (p - 22) % 3 == 0 ? PassRange{160 * (p - 3), 160 * p} : PassRange{};
       },
       3360, 3040, 0, 2400, 0},
  };
  for (const auto& row : cases) {
    SetUp();
    deliverByPass(0, row.range);
    run(1, 500);
    const SignalPlacement found = placementOf(channelOf(out, 1, 0));
    EXPECT_EQ(found.firstFrame, row.firstFrame) << row.name << " (read at once: " << row.readAtOnceFirstFrame << ")";
    EXPECT_EQ(found.firstIndex, row.firstIndex) << row.name;
    EXPECT_EQ(found.zerosInside, row.zerosInside) << row.name << " (read at once: " << row.readAtOnceZeros << ")";
    EXPECT_TRUE(found.contiguous) << row.name;
    // After the last write the whole holdback is still in hand.
    EXPECT_GE(ring(0).writeCount - ring(0).readCount, 960) << row.name;
  }
}

TEST_F(Pacer, AnIdleSourceKeepsItsSamplesUnreadUntilTheyCoverTheWriteAndTheHoldback) {
  // Found empty at the first write (pass 7); from pass 8 on 160 a pass. At
  // pass 13 it holds 960, which the write would cut to 800: still silent.
  deliverByPass(0, [](std::int64_t p) { return p >= 8 ? producedIn(p) : PassRange{}; });
  run(1, 130);
  EXPECT_EQ(out.find_first_not_of('\0'), std::string::npos);
  EXPECT_EQ(ring(0).readCount, 0);
  EXPECT_EQ(ring(0).writeCount, 960);

  SetUp();
  deliverByPass(0, [](std::int64_t p) { return p >= 8 ? producedIn(p) : PassRange{}; });
  run(1, 140);  // 1120 at pass 14: read, 960 left
  const SignalPlacement found = placementOf(channelOf(out, 1, 0));
  EXPECT_EQ(found.firstFrame, 1120);
  EXPECT_EQ(found.firstIndex, 1120);
  EXPECT_EQ(ring(0).writeCount - ring(0).readCount, 960);
}

TEST_F(Pacer, ASourceSilentLongerThanTheHoldbackWaitsForItsCushionAgain) {
  struct Case {
    std::int64_t silentPasses;  // passes 41.. without a delivery
    bool heldBack;              // then all of it comes late, or (a pause) it is lost
    std::int64_t zerosInside;
    std::int64_t shift;  // frames the signal lands later than from the origin, after that
  };
  // Up to six passes late the cushion covers it. At seven the ring is found
  // empty: one pass of silence, and what comes then waits for its cushion.
  // A pause leaves exactly its own length of silence and the signal back on
  // its frames; read at once it would come back 960 frames early instead.
  for (const Case c : {Case{5, true, 0, 0}, Case{6, true, 0, 0}, Case{7, true, 160, 160}, Case{7, false, 1120, 0},
                       Case{30, false, 4800, 0}}) {
    SetUp();
    deliverByPass(0, [c](std::int64_t p) {
      if (p > 40 && p <= 40 + c.silentPasses) return PassRange{};
      return p == 41 + c.silentPasses && c.heldBack ? PassRange{160 * 40, 160 * p} : producedIn(p);
    });
    run(1, 1000);
    const std::vector<std::int16_t> channel = channelOf(out, 1, 0);
    const SignalPlacement found = placementOf(channel);
    EXPECT_EQ(found.firstFrame, 0) << c.silentPasses;
    EXPECT_EQ(found.zerosInside, c.zerosInside) << c.silentPasses;
    const std::int64_t last = static_cast<std::int64_t>(channel.size()) - 1;
    EXPECT_EQ(channel.back(), producedValue(last - c.shift)) << c.silentPasses;
  }
}

TEST_F(Pacer, TwoSourcesOneLateCarryTheSameProducedFrameOnTheSameOutputFrame) {
  deliverByPass(0, [](std::int64_t p) { return producedIn(p); });
  deliverByPass(1, [](std::int64_t p) { return p >= 85 ? producedIn(p) : PassRange{}; });
  run(2, 2000);
  const auto mic = channelOf(out, 2, 0);
  const auto desktop = channelOf(out, 2, 1);
  const SignalPlacement late = placementOf(desktop);
  EXPECT_EQ(late.firstFrame, 84 * 160);
  EXPECT_EQ(late.zerosInside, 0);
  for (std::size_t f = static_cast<std::size_t>(late.firstFrame); f < mic.size(); ++f)
    ASSERT_EQ(desktop[f], mic[f]) << "frame " << f;
}

// Standard output pointed at /dev/null for a long run, at the descriptor.
class DiscardedStdout {
 public:
  DiscardedStdout() {
    std::fflush(stdout);
    saved_ = dup(STDOUT_FILENO);
    const int sink = open("/dev/null", O_WRONLY);
    dup2(sink, STDOUT_FILENO);
    close(sink);
  }
  ~DiscardedStdout() {
    std::fflush(stdout);
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
  }

 private:
  int saved_;
};

TEST_F(Pacer, AnHourOfCaptureTrailsTheClockByExactly960Frames) {
  // A 16 kHz device delivering exactly what its clock has produced.
  std::int64_t delivered = 0;
  captureClients[0].setPacketSource([&delivered](ScriptedPacket& packet) {
    const std::int64_t due = simClockTicks() / (kSimClockFrequency / 16000) - delivered;
    if (due <= 0) return false;
    packet.frames = static_cast<UINT32>(due);
    packet.bytes.assign(static_cast<std::size_t>(2 * due), 0x11);
    delivered += due;
    return true;
  });
  SetConsoleCtrlHandler(setTestStop, TRUE);
  simClockScheduleControlEvent(3'600'000);
  err = captureStream(stderr, [&] {
    DiscardedStdout discard;
    runPacer(*table, 1, pacer, *output, testStop);
  });
  EXPECT_EQ(err, kStoppedLine);
  EXPECT_EQ(simClockTicks(), 3600 * kSimClockFrequency);
  EXPECT_EQ(pacer.framesWritten, clockFramesAt(simClockTicks()) - 960);
  EXPECT_EQ(ring(0).writeCount, 3600 * 16000 + 1);
  // Every frame written came from the ring: no silence filled in, nothing dropped.
  EXPECT_EQ(ring(0).readCount, pacer.framesWritten);
}

}  // namespace
