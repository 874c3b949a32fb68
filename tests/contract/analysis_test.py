"""The analysis the contract suite relies on, checked on streams of known content."""

import sys
import unittest

import numpy

sys.dont_write_bytecode = True  # keep the source tree clean
from analysis import analyse_channel, expected_level_db, split_channels

RATE = 16000


def sine(frequency, peak, seconds, phase=0.0):
    t = numpy.arange(int(seconds * RATE)) / RATE
    return numpy.round(peak * 32767 * numpy.sin(2 * numpy.pi * frequency * t + phase)).astype("<i2")


class AnalysisTest(unittest.TestCase):
    def test_finds_frequency_and_level_of_a_clean_tone(self):
        for frequency, peak in ((440, 0.5), (1000, 0.25), (660, 0.9), (441.5, 0.5)):
            report = analyse_channel(sine(frequency, peak, 2.0), RATE)
            self.assertAlmostEqual(report.frequency, frequency, delta=0.2)
            self.assertAlmostEqual(report.level_db, expected_level_db(peak), delta=0.05)
            self.assertGreater(report.worst_snr_db, 60)
            self.assertEqual(report.gaps, 0)

    def test_tells_apart_two_hertz(self):
        report = analyse_channel(sine(442.5, 0.5, 2.0), RATE)
        self.assertGreater(abs(report.frequency - 440), 2)

    def test_a_dropout_shows_as_gaps_and_a_bad_block(self):
        samples = sine(440, 0.5, 2.0)
        samples[12000:14400] = 0  # 150 ms lost
        report = analyse_channel(samples, RATE)
        self.assertGreaterEqual(report.gaps, 14)
        self.assertLess(report.worst_snr_db, 10)

    def test_a_phase_jump_shows_as_a_bad_block(self):
        samples = numpy.concatenate([sine(440, 0.5, 0.5), sine(440, 0.5, 0.5, 1.0),
                                     sine(440, 0.5, 0.5, 2.5), sine(440, 0.5, 0.5, 4.0)])
        self.assertLess(analyse_channel(samples, RATE, skip_seconds=0).worst_snr_db, 10)

    def test_silence_has_no_level(self):
        report = analyse_channel(numpy.zeros(32000, dtype="<i2"), RATE)
        self.assertEqual(report.level_db, float("-inf"))

    def test_splits_interleaved_channels_in_order(self):
        left, right = sine(440, 0.5, 1.0), sine(1000, 0.25, 1.0)
        pcm = numpy.column_stack([left, right]).astype("<i2").tobytes() + b"\x01"  # torn last byte
        first, second = split_channels(pcm, 2)
        self.assertAlmostEqual(analyse_channel(first, RATE).frequency, 440, delta=0.2)
        self.assertAlmostEqual(analyse_channel(second, RATE).frequency, 1000, delta=0.2)


if __name__ == "__main__":
    sys.exit(0 if unittest.main(exit=False).result.wasSuccessful() else 1)
