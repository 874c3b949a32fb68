// Both directions between UTF-8 and UTF-16. UTF-16 to UTF-8 as Windows'
// WideCharToMultiByte does it for CP_UTF8: unpaired surrogates become U+FFFD,
// and a result that does not fit is a failure (0), not a partial text.
#include "platform/portable/text_conversion.h"

#include <cstring>

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
    case 1: out[0] = static_cast<char>(codePoint); break;
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
char32_t nextUtf16CodePoint(LPCWCH text, int length, int& i) {
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

// The bytes that may follow a lead byte, and how many: the table of
// well-formed sequences, which leaves out overlong forms, surrogates and
// values past U+10FFFF by the range of the second byte.
struct Utf8Lead {
  int trailing;  // -1: the byte starts no sequence
  unsigned char secondLow;
  unsigned char secondHigh;
};

Utf8Lead utf8Lead(unsigned char byte) {
  if (byte < 0x80) return {0, 0, 0};
  if (byte >= 0xC2 && byte <= 0xDF) return {1, 0x80, 0xBF};
  if (byte == 0xE0) return {2, 0xA0, 0xBF};
  if (byte == 0xED) return {2, 0x80, 0x9F};
  if (byte >= 0xE1 && byte <= 0xEF) return {2, 0x80, 0xBF};
  if (byte == 0xF0) return {3, 0x90, 0xBF};
  if (byte >= 0xF1 && byte <= 0xF3) return {3, 0x80, 0xBF};
  if (byte == 0xF4) return {3, 0x80, 0x8F};
  return {-1, 0, 0};
}

// Decodes one code point from text[i] on and moves i past it, or past the
// ill-formed bytes it replaces.
char32_t nextUtf8CodePoint(std::string_view text, std::size_t& i) {
  const auto lead = static_cast<unsigned char>(text[i++]);
  const Utf8Lead rule = utf8Lead(lead);
  if (rule.trailing == 0) return lead;
  if (rule.trailing < 0) return kReplacement;
  char32_t codePoint = lead & (0x3F >> rule.trailing);
  for (int k = 0; k < rule.trailing; ++k) {
    if (i >= text.size()) return kReplacement;
    const auto byte = static_cast<unsigned char>(text[i]);
    const unsigned char low = k == 0 ? rule.secondLow : 0x80;
    const unsigned char high = k == 0 ? rule.secondHigh : 0xBF;
    if (byte < low || byte > high) return kReplacement;
    codePoint = (codePoint << 6) | (byte & 0x3F);
    ++i;
  }
  return codePoint;
}
}  // namespace

std::u16string toUtf16(std::string_view utf8) {
  std::u16string wide;
  wide.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    const char32_t codePoint = nextUtf8CodePoint(utf8, i);
    if (codePoint >= 0x10000) {
      wide.push_back(static_cast<char16_t>(0xD800 + ((codePoint - 0x10000) >> 10)));
      wide.push_back(static_cast<char16_t>(0xDC00 + ((codePoint - 0x10000) & 0x3FF)));
    } else {
      wide.push_back(static_cast<char16_t>(codePoint));
    }
  }
  return wide;
}

LPWSTR toCoTaskWideText(std::string_view utf8) {
  const std::u16string wide = toUtf16(utf8);
  auto* copy = static_cast<LPWSTR>(CoTaskMemAlloc((wide.size() + 1) * sizeof(WCHAR)));
  if (copy == nullptr) return nullptr;
  std::memcpy(copy, wide.data(), wide.size() * sizeof(WCHAR));
  copy[wide.size()] = 0;
  return copy;
}

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
  for (int i = 0; i < length;) needed += utf8Length(nextUtf16CodePoint(wideText, length, i));
  if (multiByteCapacity == 0) return needed;
  if (needed > multiByteCapacity) return 0;
  int written = 0;
  for (int i = 0; i < length;) {
    const char32_t codePoint = nextUtf16CodePoint(wideText, length, i);
    putUtf8(codePoint, multiByteText + written);
    written += utf8Length(codePoint);
  }
  return written;
}
