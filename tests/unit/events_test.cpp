#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "events/event_lines.h"
#include "events/json_escape.h"
#include "events/faults.h"
#include "tests/support/stream_capture.h"

namespace {

std::string escaped(const std::string& source, std::size_t limit) {
  std::string destination(limit, '\xAA');
  const std::size_t length = escapeJson(source.c_str(), destination.data(), limit);
  EXPECT_EQ(destination[length], '\0');
  EXPECT_EQ(std::string(destination.c_str()).size(), length);
  return destination.substr(0, length);
}

struct EscapeCase {
  const char* name;
  std::string source;
  std::string expected;
};

TEST(EscapeJson, EscapesQuotesBackslashesAndControlBytes) {
  const EscapeCase cases[] = {
      {"empty", "", ""},
      {"plain", "Microphone (USB)", "Microphone (USB)"},
      {"quote", "a\"b", "a\\\"b"},
      {"backslash", "SWD\\MMDEVAPI\\{0.0.1}", "SWD\\\\MMDEVAPI\\\\{0.0.1}"},
      {"tab", "\t", "\\u0009"},
      {"line feed", "\n", "\\u000a"},
      {"carriage return", "\r", "\\u000d"},
      {"lower-case hex", "\x1f\x01", "\\u001f\\u0001"},
      {"DEL and high bytes pass", "\x7f\x80\xff", "\x7f\x80\xff"},
      {"UTF-8 untouched", "Mikrofon \xc3\xa4\xe2\x82\xac", "Mikrofon \xc3\xa4\xe2\x82\xac"},
  };
  for (const auto& c : cases) EXPECT_EQ(escaped(c.source, 512), c.expected) << c.name;
}

struct BoundCase {
  const char* name;
  std::string source;
  std::size_t limit;
  std::size_t expectedLength;
  std::string expectedUnit;
};

TEST(EscapeJson, CutsOnlyWhileEightBytesOfRoomRemain) {
  const BoundCase cases[] = {
      {"plain letters at 512", std::string(600, 'a'), 512, 505, "a"},
      {"quotes at 512", std::string(300, '"'), 512, 506, "\\\""},
      {"control bytes at 512", std::string(100, '\x01'), 512, 510, "\\u0001"},
      {"plain letters at 1300", std::string(2000, 'b'), 1300, 1293, "b"},
      {"exactly at the bound", std::string(505, 'c'), 512, 505, "c"},
      {"limit too small for one byte", "abc", 7, 0, ""},
      {"limit just enough for one byte", "abc", 8, 1, "a"},
  };
  for (const auto& c : cases) {
    const std::string out = escaped(c.source, c.limit);
    EXPECT_EQ(out.size(), c.expectedLength) << c.name;
    EXPECT_LT(out.size(), c.limit) << c.name;
    if (!c.expectedUnit.empty()) {
      for (std::size_t i = 0; i < out.size(); i += c.expectedUnit.size())
        ASSERT_EQ(out.substr(i, c.expectedUnit.size()), c.expectedUnit) << c.name << " at " << i;
    }
  }
}

TEST(EscapeJson, CutLeavesNoIncompleteUtf8SequenceAtTheEnd) {
  // Plain bytes up to a cut that falls after `taken` bytes of a sequence.
  const std::string sequences[] = {"\xc3\xb3", "\xe3\x83\x9e", "\xf0\x9f\x8e\xa4"};
  for (const std::size_t limit : {kEscapedTextLimit, kEscapedInstanceIdLimit}) {
    const std::size_t room = limit - 7;  // plain bytes that fit
    for (const std::string& sequence : sequences) {
      for (std::size_t taken = 0; taken <= sequence.size(); ++taken) {
        const std::string prefix(room - taken, 'a');
        const std::string source = prefix + sequence + "tail";
        const std::string expected = taken == sequence.size() ? prefix + sequence : prefix;
        EXPECT_EQ(escaped(source, limit), expected)
            << "limit " << limit << ", " << sequence.size() << "-byte sequence, " << taken << " bytes before the cut";
      }
    }
  }
}

TEST(EscapeJson, OnlyACutTextLosesBytes) {
  const EscapeCase cases[] = {
      // Not cut: a text that ends in half a sequence keeps it.
      {"short, ends in a lead byte", "ab\xe3\x83", "ab\xe3\x83"},
      // Cut inside stray continuation bytes: nothing to back off to.
      {"cut among continuation bytes", std::string(504, 'a') + "\x83\x83\x83\x83", std::string(504, 'a') + "\x83"},
      // Cut right after a complete sequence followed by continuation bytes.
      {"complete sequence, stray byte after", std::string(503, 'a') + "\xc3\xb3\x83",
       std::string(503, 'a') + "\xc3\xb3"},
      // Cut after an escape: escapes are ASCII and stay.
      {"escape before the cut", std::string(498, 'a') + "\n\xc3\xb3", std::string(498, 'a') + "\\u000a"},
  };
  for (const auto& c : cases) EXPECT_EQ(escaped(c.source, 512), c.expected) << c.name;
}

TEST(EscapeJson, NeverWritesPastTheLimit) {
  // The byte after the limit is a guard that must survive every mix.
  const std::string sources[] = {std::string(600, '\x02'), std::string(600, '\\'), std::string(600, 'x') + "\"",
                                 std::string(253, 'x') + std::string(300, '\n')};
  for (const auto& source : sources) {
    for (std::size_t limit : {8u, 9u, 13u, 14u, 511u, 512u, 1300u}) {
      std::string destination(limit + 1, '#');
      escapeJson(source.c_str(), destination.data(), limit);
      EXPECT_EQ(destination[limit], '#') << "limit " << limit;
    }
  }
}

TEST(CallFailure, RendersNameAndEightLowerCaseHexDigits) {
  const struct {
    const char* name;
    std::int32_t status;
    const char* expected;
  } cases[] = {
      {"Activate", static_cast<std::int32_t>(0x80070005u), "Activate:0x80070005"},
      {"GetService", static_cast<std::int32_t>(0x88890003u), "GetService:0x88890003"},
      {"no-output-endpoint", static_cast<std::int32_t>(0x80070490u), "no-output-endpoint:0x80070490"},
      {"Start", 0x1A, "Start:0x0000001a"},
      {"Start", -1, "Start:0xffffffff"},
  };
  for (const auto& c : cases) {
    char buffer[kCallFailureDetailSize];
    formatCallFailure(c.name, c.status, buffer);
    EXPECT_STREQ(buffer, c.expected);
  }
}

nlohmann::json parseLine(const std::string& text) {
  EXPECT_FALSE(text.empty());
  EXPECT_EQ(text.back(), '\n');
  EXPECT_EQ(text.find('\n'), text.size() - 1) << "one line only";
  return nlohmann::json::parse(text);
}

TEST(FaultLine, WithAndWithoutSlot) {
  const std::string withSlot =
      captureStream(stderr, [] { emitFault(faultReason::linkFailed, "GetService:0x88890003", "desktop"); });
  EXPECT_EQ(withSlot,
            "{\"event\":\"fault\",\"reason\":\"capture.linkFailed\",\"detail\":\"GetService:0x88890003\","
            "\"slot\":\"desktop\"}\n");
  const nlohmann::json parsed = parseLine(withSlot);
  EXPECT_EQ(parsed["slot"], "desktop");

  const std::string withoutSlot =
      captureStream(stderr, [] { emitFault(faultReason::targetMissing, "no-target", nullptr); });
  EXPECT_EQ(withoutSlot, "{\"event\":\"fault\",\"reason\":\"capture.targetMissing\",\"detail\":\"no-target\"}\n");
  const nlohmann::json noSlot = parseLine(withoutSlot);
  EXPECT_EQ(noSlot.size(), 3u);
  EXPECT_FALSE(noSlot.contains("slot"));
}

TEST(FaultLine, DetailIsEscapedAndBounded) {
  // A selector as typed by a host: instance identifier with backslashes, a
  // quote, a control byte, and far more than fits.
  const std::string prefix = "SWD\\MMDEVAPI\\{0.0.1.00000000}.\"x\"\t";
  const std::string selector = prefix + std::string(700, 'z');
  const std::string line =
      captureStream(stderr, [&] { emitFault(faultReason::targetMissing, selector.c_str(), "mic"); });
  const nlohmann::json parsed = parseLine(line);
  const std::string detail = parsed["detail"];
  EXPECT_EQ(detail.substr(0, prefix.size()), prefix);
  EXPECT_NE(line.find("SWD\\\\MMDEVAPI\\\\{0.0.1.00000000}.\\\"x\\\"\\u0009zz"), std::string::npos);
  char bounded[kEscapedTextLimit];
  const std::size_t escapedLength = escapeJson(selector.c_str(), bounded, sizeof bounded);
  EXPECT_EQ(line, std::string("{\"event\":\"fault\",\"reason\":\"capture.targetMissing\",\"detail\":\"") +
                      std::string(bounded, escapedLength) + "\",\"slot\":\"mic\"}\n");
}

TEST(StartedLine, OrdersSlotsNamesAndRates) {
  const struct {
    const char* name;
    std::vector<StartedSource> sources;
    std::string expected;
  } cases[] = {
      {"both",
       {{"mic", 48000, "Mic \"USB\""}, {"desktop", 44100, "Speakers \xc3\xa4"}},
       "{\"event\":\"started\",\"slots\":[\"mic\",\"desktop\"],\"mic\":\"Mic \\\"USB\\\"\",\"system\":\"Speakers "
       "\xc3\xa4\",\"clock\":\"qpc\",\"deviceRate\":{\"mic\":48000,\"desktop\":44100}}\n"},
      {"mic only",
       {{"mic", 16000, "Headset"}},
       "{\"event\":\"started\",\"slots\":[\"mic\"],\"mic\":\"Headset\",\"system\":\"\",\"clock\":\"qpc\","
       "\"deviceRate\":{\"mic\":16000}}\n"},
      {"desktop only",
       {{"desktop", 48000, "Speakers"}},
       "{\"event\":\"started\",\"slots\":[\"desktop\"],\"mic\":\"\",\"system\":\"Speakers\",\"clock\":\"qpc\","
       "\"deviceRate\":{\"desktop\":48000}}\n"},
      {"unreadable mic name",
       {{"mic", 44100, ""}},
       "{\"event\":\"started\",\"slots\":[\"mic\"],\"mic\":\"\",\"system\":\"\",\"clock\":\"qpc\","
       "\"deviceRate\":{\"mic\":44100}}\n"},
  };
  for (const auto& c : cases) {
    const std::string line =
        captureStream(stderr, [&] { emitStarted(c.sources.data(), static_cast<int>(c.sources.size())); });
    EXPECT_EQ(line, c.expected) << c.name;
    const nlohmann::json parsed = parseLine(line);
    EXPECT_EQ(parsed["event"], "started") << c.name;
    EXPECT_EQ(parsed["slots"].size(), c.sources.size()) << c.name;
  }
}

TEST(StartedLine, LongNamesAreCutByTheEscapingBound) {
  const std::string longName(255, '"');
  const StartedSource sources[] = {{"mic", 48000, longName.c_str()}};
  const std::string line = captureStream(stderr, [&] { emitStarted(sources, 1); });
  const nlohmann::json parsed = parseLine(line);
  EXPECT_EQ(parsed["mic"], std::string(253, '"'));
}

TEST(StoppedLine, IsExactlyTwentyBytes) {
  const std::string line = captureStream(stderr, [] { emitStopped(); });
  EXPECT_EQ(line, "{\"event\":\"stopped\"}\n");
  EXPECT_EQ(line.size(), 20u);
  EXPECT_EQ(parseLine(line)["event"], "stopped");
}

}  // namespace
