// UTF-16 to UTF-8 as Windows' WideCharToMultiByte does it for CP_UTF8:
// unpaired surrogates become U+FFFD, and a result that does not fit is a
// failure (0), not a partial text.
#include "platform/portable/platform_functions.h"

namespace {
constexpr char32_t kReplacement = 0xFFFD;

int utf8Length(char32_t codePoint) {
  if (codePoint < 0x80) return 1;
  if (codePoint < 0x800) return 2;
  if (codePoint < 0x10000) return 3;
  return 4;
}

void putUtf8(char32_t codePoint, char* out) {
  switch (utf8Length(codePoint)) {
    case 1:
      out[0] = static_cast<char>(codePoint);
      break;
    case 2:
      out[0] = static_cast<char>(0xC0 | (codePoint >> 6));
      out[1] = static_cast<char>(0x80 | (codePoint & 0x3F));
      break;
    case 3:
      out[0] = static_cast<char>(0xE0 | (codePoint >> 12));
      out[1] = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
      out[2] = static_cast<char>(0x80 | (codePoint & 0x3F));
      break;
    default:
      out[0] = static_cast<char>(0xF0 | (codePoint >> 18));
      out[1] = static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
      out[2] = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
      out[3] = static_cast<char>(0x80 | (codePoint & 0x3F));
      break;
  }
}

// Reads one code point starting at text[i] and moves i past it.
char32_t nextCodePoint(LPCWCH text, int length, int& i) {
  const char16_t unit = text[i++];
  if (unit >= 0xD800 && unit <= 0xDBFF) {
    if (i < length && text[i] >= 0xDC00 && text[i] <= 0xDFFF) {
      const char16_t low = text[i++];
      return 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) + (low - 0xDC00);
    }
    return kReplacement;
  }
  if (unit >= 0xDC00 && unit <= 0xDFFF) return kReplacement;
  return unit;
}
}  // namespace

int WideCharToMultiByte(UINT codePage, DWORD /*flags*/, LPCWCH wideText, int wideLength, LPSTR multiByteText,
                        int multiByteCapacity, LPCCH /*defaultChar*/, LPBOOL usedDefaultChar) {
  if (codePage != CP_UTF8 || wideText == nullptr || wideLength == 0 || multiByteCapacity < 0) return 0;
  if (usedDefaultChar != nullptr) return 0;  // Windows refuses it for UTF-8
  int length = wideLength;
  if (length < 0) {
    length = 0;
    while (wideText[length] != 0) ++length;
    ++length;  // the NUL is converted too
  }
  int needed = 0;
  for (int i = 0; i < length;) needed += utf8Length(nextCodePoint(wideText, length, i));
  if (multiByteCapacity == 0) return needed;
  if (needed > multiByteCapacity) return 0;
  int written = 0;
  for (int i = 0; i < length;) {
    const char32_t codePoint = nextCodePoint(wideText, length, i);
    putUtf8(codePoint, multiByteText + written);
    written += utf8Length(codePoint);
  }
  return written;
}
