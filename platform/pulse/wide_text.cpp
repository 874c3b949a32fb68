#include "platform/pulse/wide_text.h"

#include <vector>

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one code point from text[i] on and moves i past it.
char32_t nextCodePoint(const std::string& text, std::size_t& i) {
  const auto lead = static_cast<unsigned char>(text[i++]);
  if (lead < 0x80) return lead;
  int trailing = 0;
  char32_t codePoint = 0;
  char32_t minimum = 0;
  if ((lead & 0xE0) == 0xC0) {
    trailing = 1, codePoint = lead & 0x1F, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    trailing = 2, codePoint = lead & 0x0F, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    trailing = 3, codePoint = lead & 0x07, minimum = 0x10000;
  } else {
    return kReplacement;
  }
  for (int k = 0; k < trailing; ++k) {
    if (i >= text.size() || (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) return kReplacement;
    codePoint = (codePoint << 6) | (static_cast<unsigned char>(text[i++]) & 0x3F);
  }
  if (codePoint < minimum || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF))
    return kReplacement;
  return codePoint;
}

}  // namespace

LPWSTR toCoTaskWideText(const std::string& utf8) {
  std::vector<WCHAR> units;
  units.reserve(utf8.size() + 1);
  for (std::size_t i = 0; i < utf8.size();) {
    const char32_t codePoint = nextCodePoint(utf8, i);
    if (codePoint >= 0x10000) {
      units.push_back(static_cast<WCHAR>(0xD800 + ((codePoint - 0x10000) >> 10)));
      units.push_back(static_cast<WCHAR>(0xDC00 + ((codePoint - 0x10000) & 0x3FF)));
    } else {
      units.push_back(static_cast<WCHAR>(codePoint));
    }
  }
  units.push_back(0);
  auto* text = static_cast<LPWSTR>(CoTaskMemAlloc(units.size() * sizeof(WCHAR)));
  if (text == nullptr) return nullptr;
  for (std::size_t k = 0; k < units.size(); ++k) text[k] = units[k];
  return text;
}
