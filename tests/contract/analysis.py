"""What a captured PCM stream holds: tone frequency, level and glitches per channel."""

import math
from dataclasses import dataclass

import numpy

FULL_SCALE = 32767.0


@dataclass
class ChannelReport:
    frequency: float  # Hz of the strongest spectral peak
    level_db: float   # RMS in dB relative to full scale (a full-scale sine reads -3.01)
    worst_snr_db: float  # tone-to-rest ratio of the worst 50 ms block: a glitch shows here
    gaps: int         # 10 ms blocks more than 20 dB below the channel's median block

    def __str__(self):
        return (f"{self.frequency:.2f} Hz, {self.level_db:.2f} dBFS, worst block {self.worst_snr_db:.1f} dB, "
                f"{self.gaps} quiet 10 ms blocks")


def expected_level_db(peak):
    """RMS level of a sine of the given peak (fraction of full scale)."""
    return 20.0 * math.log10(peak / math.sqrt(2.0))


def split_channels(pcm, channels):
    samples = numpy.frombuffer(pcm[: len(pcm) - len(pcm) % (2 * channels)], dtype="<i2")
    return [samples[c::channels] for c in range(channels)]


def tone_onset(samples, rate, peak):
    """Seconds to the first 10 ms block that carries a tone of about this peak:
    a source whose data starts late opens with silence, and only the signal after
    that is looked at."""
    block = rate // 100
    count = len(samples) // block
    if count == 0:
        return 0.0
    blocks = samples[: count * block].astype(numpy.float64).reshape(count, block) / FULL_SCALE
    loud = numpy.nonzero(numpy.sqrt(numpy.mean(blocks * blocks, axis=1)) >= 0.1 * peak / math.sqrt(2.0))[0]
    return float(loud[0]) * block / rate if len(loud) else 0.0


def analyse_channel(samples, rate, skip_seconds=0.3, tail_seconds=0.0):
    """Looks at the settled middle of a channel: start-up and the last moments are cut."""
    first = int(skip_seconds * rate)
    last = len(samples) - int(tail_seconds * rate)
    x = samples[first:last].astype(numpy.float64) / FULL_SCALE
    if len(x) < rate // 10:
        return ChannelReport(float("nan"), float("-inf"), float("-inf"), 0)
    rms = math.sqrt(float(numpy.mean(x * x)))
    level = 20.0 * math.log10(rms) if rms > 0 else float("-inf")

    window = numpy.hanning(len(x))
    size = 1 << (len(x) * 4 - 1).bit_length()  # zero padding: fine bins for the interpolation
    spectrum = numpy.abs(numpy.fft.rfft(x * window, size))
    spectrum[0] = 0.0
    peak = int(numpy.argmax(spectrum))
    frequency = peak * rate / size
    if 0 < peak < len(spectrum) - 1:
        # Quadratic fit through the log magnitudes around the peak.
        a, b, c = numpy.log(spectrum[peak - 1: peak + 2] + 1e-30)
        denominator = a - 2 * b + c
        if denominator != 0:
            frequency = (peak + 0.5 * (a - c) / denominator) * rate / size
    worst = _worst_block_snr_db(x, rate, frequency)

    block = rate // 100
    blocks = x[: len(x) // block * block].reshape(-1, block)
    block_rms = numpy.sqrt(numpy.mean(blocks * blocks, axis=1))
    median = float(numpy.median(block_rms))
    gaps = int(numpy.sum(block_rms < median * 0.1)) if median > 0 else 0
    return ChannelReport(frequency, level, worst, gaps)


def _worst_block_snr_db(x, rate, frequency):
    """Fits the tone to each 50 ms block (half overlapping) alone; what the fit leaves over is noise,
    dropouts, phase jumps or clicks."""
    block = rate // 20
    t = numpy.arange(block) / rate
    basis = numpy.column_stack([numpy.sin(2 * numpy.pi * frequency * t),
                                numpy.cos(2 * numpy.pi * frequency * t), numpy.ones(block)])
    worst = float("inf")
    for start in range(0, len(x) - block + 1, block // 2):  # overlapping: no edge hides a glitch
        piece = x[start:start + block]
        fit, *_ = numpy.linalg.lstsq(basis, piece, rcond=None)
        rest = float(numpy.sum((piece - basis @ fit) ** 2))
        tone = float(numpy.sum((basis[:, :2] @ fit[:2]) ** 2))
        if tone <= 0:
            return float("-inf")
        worst = min(worst, 10.0 * math.log10(tone / rest) if rest > 0 else 200.0)
    return worst
