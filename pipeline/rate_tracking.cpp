#include "pipeline/rate_tracking.h"

#include <cmath>

#include "pipeline/capture_slot.h"

namespace {
constexpr double kWindowSeconds = 5.0;
// A window this far off the line is a different line: a pause, a burst, a
// device that counts afresh. Drift moves a window by 5 ms at most (1,000 ppm).
constexpr double kBreakSeconds = 0.020;
// A drift is believed once the line has moved this far over at least this
// long, well beyond what the spread of its points could explain.
constexpr double kEvidenceSeconds = 0.003;
constexpr double kMinimumLineSeconds = 10.0;
constexpr double kEvidencePerResidual = 4.0;
// Beyond this the source is not trusted to be merely drifting; the ring's own
// limits take over as before.
constexpr double kLargestDrift = 1.0e-3;
// A latency error is worked off over about 20 s, by at most 1,000 ppm: the
// tone moves by 1 Hz at most while a large error (silence put in while the
// source was late) is worked off, and settles within 0.1 Hz.
constexpr double kCorrectionSeconds = 20.0;
constexpr double kLargestCorrection = 1.0e-3;
constexpr double kLargestFactor = kLargestDrift + kLargestCorrection;
constexpr double kLargestChangePerSteer = 1.0e-4;
constexpr double kSteerSeconds = 1.0;
constexpr double kCounterPositionUnit = 1.0e-7;  // GetBuffer's counter position: 100 ns units

double clamped(double value, double limit) { return value > limit ? limit : (value < -limit ? -limit : value); }

double secondsSince(const RateTracking& rate, double ticks) {
  return (ticks - static_cast<double>(rate.baseTicks)) * rate.secondsPerTick;
}

const RateWindow& windowAt(const RateTracking& rate, int index) {
  return rate.windows[(rate.windowFirst + index) % kRateWindowCapacity];
}

// Least squares through the line's windows, times taken from the first so
// that long runs keep their precision.
void fitLine(RateTracking& rate) {
  const int n = rate.windowCount;
  rate.lineWindows = n;
  if (n < 2) return;
  const double origin = windowAt(rate, 0).time;
  double sumT = 0.0, sumO = 0.0;
  for (int i = 0; i < n; ++i) {
    sumT += windowAt(rate, i).time - origin;
    sumO += windowAt(rate, i).offset;
  }
  const double meanT = sumT / n, meanO = sumO / n;
  double sumTT = 0.0, sumTO = 0.0;
  for (int i = 0; i < n; ++i) {
    const double t = windowAt(rate, i).time - origin - meanT;
    sumTT += t * t;
    sumTO += t * (windowAt(rate, i).offset - meanO);
  }
  rate.lineDrift = sumTT > 0.0 ? sumTO / sumTT : 0.0;
  rate.lineOffset = meanO - rate.lineDrift * (origin + meanT);
  rate.lineSpan = windowAt(rate, n - 1).time - origin;
  double sumSquares = 0.0;
  for (int i = 0; i < n; ++i) {
    const RateWindow& w = windowAt(rate, i);
    const double miss = w.offset - (rate.lineOffset + rate.lineDrift * w.time);
    sumSquares += miss * miss;
  }
  rate.lineResidual = std::sqrt(sumSquares / n);
}

bool breaksLine(const RateTracking& rate, const RateWindow& window) {
  if (rate.windowCount == 0) return false;
  if (rate.lineWindows >= 2) {
    return std::fabs(window.offset - (rate.lineOffset + rate.lineDrift * window.time)) > kBreakSeconds;
  }
  const RateWindow& last = windowAt(rate, rate.windowCount - 1);
  const double elapsed = window.time - last.time;
  const double expected = last.offset + rate.heldDrift * elapsed;
  return std::fabs(window.offset - expected) > kBreakSeconds + kLargestDrift * elapsed;
}

void closeWindow(RateTracking& rate) {
  RateWindow window = rate.windowBest;
  window.spread = rate.windowHighest - rate.windowLowest;
  rate.windowHasPoint = false;
  if (breaksLine(rate, window)) {
    rate.windowCount = 0;
    rate.lineWindows = 0;
  }
  if (rate.windowCount == kRateWindowCapacity) {
    rate.windowFirst = (rate.windowFirst + 1) % kRateWindowCapacity;
    --rate.windowCount;
  }
  rate.windows[(rate.windowFirst + rate.windowCount) % kRateWindowCapacity] = window;
  ++rate.windowCount;
  fitLine(rate);
  if (rate.lineWindows < 3 || rate.lineSpan < kMinimumLineSeconds) return;
  const double moved = std::fabs(rate.lineDrift) * rate.lineSpan;
  if (!rate.engaged && moved >= kEvidenceSeconds && moved >= kEvidencePerResidual * rate.lineResidual)
    rate.engaged = true;
  if (rate.engaged) rate.heldDrift = clamped(rate.lineDrift, kLargestDrift);
}

// The most the line's packets have come late, within reason.
double spreadOf(const RateTracking& rate) {
  double spread = 0.0;
  for (int i = 0; i < rate.windowCount; ++i) spread = std::fmax(spread, windowAt(rate, i).spread);
  return std::fmin(spread, kLargestSpreadSeconds);
}

// Where the line puts the capture of a frame position, in seconds. A young
// line goes by its newest window and the drift held so far.
double captureTime(const RateTracking& rate, double positionSeconds) {
  if (rate.lineWindows >= 3) return (positionSeconds - rate.lineOffset) / (1.0 + rate.lineDrift);
  const RateWindow& last = windowAt(rate, rate.windowCount - 1);
  return (positionSeconds - last.offset + rate.heldDrift * last.time) / (1.0 + rate.heldDrift);
}
}  // namespace

void resetRateTracking(CaptureSlot& slot) {
  RateTracking& rate = slot.rateTracking;
  rate = RateTracking{};
  LARGE_INTEGER value;
  QueryPerformanceFrequency(&value);
  rate.secondsPerTick = value.QuadPart > 0 ? 1.0 / static_cast<double>(value.QuadPart) : 0.0;
  QueryPerformanceCounter(&value);
  rate.baseTicks = value.QuadPart;
  rate.active = rate.secondsPerTick > 0.0 && slot.deviceRate > 0;
  rate.nominalStep = static_cast<double>(slot.deviceRate) / 16000.0;
  slot.resampleStep = rate.nominalStep;
}

void notePacket(CaptureSlot& slot, UINT32 frames, UINT64 devicePosition, UINT64 counterPosition) {
  RateTracking& rate = slot.rateTracking;
  if (!rate.active || frames == 0) return;
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  const double nowSeconds = secondsSince(rate, static_cast<double>(now.QuadPart));
  const double deviceRate = static_cast<double>(slot.deviceRate);
  const double first =
      devicePosition != kNoPosition ? static_cast<double>(devicePosition) : static_cast<double>(rate.framesTaken);
  rate.framesTaken += frames;
  const double packetSeconds = frames / deviceRate;

  // The packet's end was captured by now at the latest; where the stream
  // says when its first frame was captured, and says something believable,
  // that is closer still.
  RateWindow point{nowSeconds, first / deviceRate + packetSeconds - nowSeconds, 0.0};
  if (counterPosition != kNoPosition) {
    const double firstSeconds = static_cast<double>(counterPosition) * kCounterPositionUnit -
                                static_cast<double>(rate.baseTicks) * rate.secondsPerTick;
    const bool believable = firstSeconds <= nowSeconds + 0.001 && firstSeconds >= nowSeconds - packetSeconds - 1.0;
    if (believable && first / deviceRate - firstSeconds > point.offset)
      point = RateWindow{firstSeconds, first / deviceRate - firstSeconds, 0.0};
  }

  rate.latestTime = nowSeconds;
  rate.hasNewest = true;
  rate.newestPosition = first + frames - 1.0 + slot.resamplePhase - slot.resampleStep;

  // How late a packet came is judged with the drift known so far taken out,
  // or a drifting source would seem to come later the longer the window.
  const double drift = rate.lineWindows >= 2 ? rate.lineDrift : rate.heldDrift;
  const double level = point.offset - drift * point.time;
  if (!rate.windowHasPoint) {
    rate.windowStart = nowSeconds;
    rate.windowBest = point;
    rate.windowHighest = level;
    rate.windowLowest = level;
    rate.windowHasPoint = true;
  } else {
    if (point.offset > rate.windowBest.offset) rate.windowBest = point;
    rate.windowHighest = std::fmax(rate.windowHighest, level);
    rate.windowLowest = std::fmin(rate.windowLowest, level);
  }
  if (nowSeconds - rate.windowStart >= kWindowSeconds) closeWindow(rate);
}

void steerResampling(CaptureSlot& slot, double dueTicks) {
  RateTracking& rate = slot.rateTracking;
  if (!rate.active || !rate.engaged || !rate.hasNewest || rate.windowCount == 0) return;
  if (rate.latestTime - rate.lastSteerTime < kSteerSeconds) return;
  rate.lastSteerTime = rate.latestTime;
  const double captured = captureTime(rate, rate.newestPosition / static_cast<double>(slot.deviceRate));
  const double latencyError = secondsSince(rate, dueTicks) - captured - kTargetLatencySeconds - spreadOf(rate);
  const double correction = clamped(latencyError / kCorrectionSeconds, kLargestCorrection);
  const double target = clamped(rate.heldDrift + correction, kLargestFactor);
  rate.stepFactor += clamped(target - rate.stepFactor, kLargestChangePerSteer);
  slot.resampleStep = rate.nominalStep * (1.0 + rate.stepFactor);
}
