// The UTF-8 decoder of the non-Windows platforms on any server or scenario
// text: no unpaired surrogate comes out, never more units than bytes, the
// COM copy holds the same units, and valid UTF-8 reads back unchanged.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/core_audio.h"
#include "platform/portable/text_conversion.h"
#include "tests/fuzz/utf8_validity.h"

namespace {
bool surrogatesPaired(const std::u16string& text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    if (unit >= 0xDC00 && unit <= 0xDFFF) return false;
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      if (i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) return false;
      ++i;
    }
  }
  return true;
}

std::string utf8Of(const std::u16string& text) {
  if (text.empty()) return {};
  const auto* wide = reinterpret_cast<LPCWCH>(text.data());
  const int length = static_cast<int>(text.size());
  std::string result(
      static_cast<std::size_t>(WideCharToMultiByte(CP_UTF8, 0, wide, length, nullptr, 0, nullptr, nullptr)), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, length, result.data(), static_cast<int>(result.size()), nullptr, nullptr);
  return result;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Server strings and scenario names are C strings: the text ends at a NUL.
  const std::string text = std::string(reinterpret_cast<const char*>(data), size).c_str();
  const bool valid = isValidUtf8(reinterpret_cast<const unsigned char*>(text.data()), text.size());

  const std::u16string decoded = toUtf16(text);
  if (decoded.size() > text.size() || !surrogatesPaired(decoded)) std::abort();
  if (valid && utf8Of(decoded) != text) std::abort();

  LPWSTR copy = toCoTaskWideText(text);
  if (copy == nullptr) std::abort();
  const bool same = std::u16string(copy) == decoded;
  CoTaskMemFree(copy);
  if (!same) std::abort();
  return 0;
}
