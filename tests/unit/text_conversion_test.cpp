#include <gtest/gtest.h>

#include <string>

#include "platform/core_audio.h"
#include "platform/portable/text_conversion.h"

namespace {

// The portable WideCharToMultiByte must answer as Windows does for CP_UTF8,
// since endpoint names and identifiers pass through it.
TEST(WideCharToMultiByte, ConvertsLikeWindows) {
  const struct {
    const char* name;
    std::u16string source;
    int capacity;
    int expectedResult;
    std::string expectedText;
  } cases[] = {
      {"ascii", u"Speakers", 256, 9, "Speakers"},
      {"two- and three-byte", u"\u00e4\u20ac", 256, 6, "\xc3\xa4\xe2\x82\xac"},
      {"surrogate pair", u"\U0001F3A4", 256, 5, "\xf0\x9f\x8e\xa4"},
      {"unpaired surrogate", std::u16string(1, u'\xD800') + u"x", 256, 5, "\xef\xbf\xbdx"},
      {"exact fit", u"abc", 4, 4, "abc"},
      {"one byte short", u"abcd", 4, 0, ""},
      {"empty", u"", 4, 1, ""},
  };
  for (const auto& c : cases) {
    char buffer[256];
    std::memset(buffer, 0, sizeof buffer);
    const int result = WideCharToMultiByte(CP_UTF8, 0, c.source.c_str(), -1, buffer, c.capacity, nullptr, nullptr);
    EXPECT_EQ(result, c.expectedResult) << c.name;
    if (result != 0) {
      EXPECT_EQ(std::string(buffer), c.expectedText) << c.name;
    }
  }
}

TEST(WideCharToMultiByte, ReportsSizeWhenAskedWithNoBuffer) {
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"\u00e4b", -1, nullptr, 0, nullptr, nullptr), 4);
}

// Server and scenario texts come in as UTF-8; each maximal ill-formed
// subsequence becomes one U+FFFD and nothing valid around it is lost.
TEST(Utf8ToUtf16, ReplacesEachIllFormedSubsequenceOnce) {
  const struct {
    const char* name;
    std::string source;
    std::u16string expected;
  } cases[] = {
      {"ascii", "Mic 1", u"Mic 1"},
      {"two, three and four bytes", "\xc3\xa4\xe2\x82\xac\xf0\x9f\x8e\xa4", u"\u00e4\u20ac\U0001F3A4"},
      {"lone continuation bytes",
       "a\x80\xbf"
       "b",
       u"a\uFFFD\uFFFD"
       u"b"},
      {"never a lead: C0, C1, F5..FF", "\xc0\xc1\xf5\xff", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"overlong three bytes", "\xe0\x80\xaf", u"\uFFFD\uFFFD\uFFFD"},
      {"surrogate", "\xed\xa0\x80x", u"\uFFFD\uFFFD\uFFFDx"},
      {"past U+10FFFF", "\xf4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"cut short before ASCII",
       "\xe2\x82"
       "A",
       u"\uFFFD"
       u"A"},
      {"cut short at the end", "ok\xf0\x9f\x8e", u"ok\uFFFD"},
      {"cut short before a lead", "\xe2\xc3\xa4", u"\uFFFD\u00e4"},
      {"highest and lowest of each length", "\x7f\xc2\x80\xef\xbf\xbf\xf4\x8f\xbf\xbf", u"\x7f\u0080\uFFFF\U0010FFFF"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(toUtf16(c.source), c.expected) << c.name;
    LPWSTR copy = toCoTaskWideText(c.source);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(std::u16string(copy), c.expected) << c.name;
    CoTaskMemFree(copy);
  }
}

}  // namespace
