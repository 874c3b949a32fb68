// WideCharToMultiByte(CP_UTF8) on any UTF-16: the size it asks for is what it
// writes, a buffer one byte short is refused untouched, the text is valid
// UTF-8 and reads back as the input with unpaired surrogates made U+FFFD.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/core_audio.h"
#include "platform/portable/text_conversion.h"
#include "tests/fuzz/utf8_validity.h"

namespace {
std::u16string withUnpairedSurrogatesReplaced(const std::u16string& text) {
  std::u16string result;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    const bool high = unit >= 0xD800 && unit <= 0xDBFF;
    const bool low = unit >= 0xDC00 && unit <= 0xDFFF;
    if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      result += unit;
      result += text[++i];
    } else {
      result += high || low ? u'\xFFFD' : unit;
    }
  }
  return result;
}

int convert(const std::u16string& wide, int length, char* out, int capacity) {
  return WideCharToMultiByte(CP_UTF8, 0, reinterpret_cast<LPCWCH>(wide.c_str()), length, out, capacity, nullptr,
                             nullptr);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::u16string wide(size / 2, u'\0');
  std::memcpy(wide.data(), data, wide.size() * 2);
  const int length = static_cast<int>(wide.size());

  const int needed = convert(wide, length, nullptr, 0);
  if (length == 0) {
    if (needed != 0) std::abort();
    return 0;
  }
  if (needed < length || needed > 3 * length) std::abort();
  std::vector<char> exact(static_cast<std::size_t>(needed));
  if (convert(wide, length, exact.data(), needed) != needed) std::abort();
  if (!isValidUtf8(reinterpret_cast<const unsigned char*>(exact.data()), exact.size())) std::abort();
  if (toUtf16(std::string(exact.data(), exact.size())) != withUnpairedSurrogatesReplaced(wide)) std::abort();

  if (needed > 1) {                                                      // a capacity of 0 asks for the size instead
    std::vector<char> short_(static_cast<std::size_t>(needed), '\x5A');  // one guard byte
    if (convert(wide, length, short_.data(), needed - 1) != 0) std::abort();
    for (char c : short_)
      if (c != '\x5A') std::abort();  // a refused conversion writes nothing
  }

  // Length -1: up to and with the first NUL, which the text then ends in.
  const int terminated = convert(wide, -1, nullptr, 0);
  std::vector<char> withNul(static_cast<std::size_t>(terminated));
  if (convert(wide, -1, withNul.data(), terminated) != terminated || withNul.back() != '\0') std::abort();
  return 0;
}
