#include <gtest/gtest.h>

#include <string>

#include "endpoints/core_audio.h"

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
    const int result =
        WideCharToMultiByte(CP_UTF8, 0, c.source.c_str(), -1, buffer, c.capacity, nullptr, nullptr);
    EXPECT_EQ(result, c.expectedResult) << c.name;
    if (result != 0) {
      EXPECT_EQ(std::string(buffer), c.expectedText) << c.name;
    }
  }
}

TEST(WideCharToMultiByte, ReportsSizeWhenAskedWithNoBuffer) {
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"\u00e4b", -1, nullptr, 0, nullptr, nullptr), 4);
}

}  // namespace
