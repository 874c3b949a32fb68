// Strict UTF-8: shortest forms only, no surrogates, nothing above U+10FFFF.
#pragma once

#include <cstddef>

inline bool isValidUtf8(const unsigned char* text, std::size_t size) {
  std::size_t i = 0;
  while (i < size) {
    const unsigned char lead = text[i];
    std::size_t length = 0;
    char32_t codePoint = 0;
    if (lead < 0x80) {
      ++i;
      continue;
    }
    if ((lead & 0xE0) == 0xC0)
      length = 2, codePoint = lead & 0x1F;
    else if ((lead & 0xF0) == 0xE0)
      length = 3, codePoint = lead & 0x0F;
    else if ((lead & 0xF8) == 0xF0)
      length = 4, codePoint = lead & 0x07;
    else
      return false;
    if (size - i < length) return false;
    for (std::size_t k = 1; k < length; ++k) {
      if ((text[i + k] & 0xC0) != 0x80) return false;
      codePoint = (codePoint << 6) | (text[i + k] & 0x3F);
    }
    constexpr char32_t kShortest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (codePoint < kShortest[length] || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF))
      return false;
    i += length;
  }
  return true;
}
