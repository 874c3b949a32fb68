// escapeJson on any text and any limit: the output stays within the limit,
// ends in a NUL, is an escaped prefix cut on a source byte boundary, and is
// valid UTF-8 whenever the source was.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "events/json_escape.h"
#include "tests/fuzz/utf8_validity.h"

namespace {
std::string escapedByte(unsigned char byte) {
  if (byte == '"' || byte == '\\') return std::string{'\\', static_cast<char>(byte)};
  if (byte < 0x20) {
    constexpr char kHex[] = "0123456789abcdef";
    return std::string{'\\', 'u', '0', '0', kHex[byte >> 4], kHex[byte & 0xF]};
  }
  return std::string(1, static_cast<char>(byte));
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  // The first two bytes choose the limit, around the two the program uses.
  const std::size_t limit = (data[0] | (data[1] << 8)) % (kEscapedInstanceIdLimit + 64);
  const std::string source(reinterpret_cast<const char*>(data + 2), size - 2);  // escapeJson stops at a NUL

  std::vector<char> destination(limit);  // exactly limit bytes, so any overrun is caught
  const std::size_t count = escapeJson(source.c_str(), destination.data(), limit);
  if (limit == 0) {
    if (count != 0) std::abort();
    return 0;
  }
  if (count + 1 > limit || destination[count] != '\0') std::abort();

  // The output is the escape of some prefix of the source, and the whole of
  // it when there was room to spare.
  const std::string text = source.c_str();
  std::string escaped;
  std::size_t taken = 0;
  while (escaped.size() < count && taken < text.size())
    escaped += escapedByte(static_cast<unsigned char>(text[taken++]));
  if (escaped.size() != count || escaped.compare(0, count, destination.data(), count) != 0) std::abort();
  std::string whole = escaped;
  for (std::size_t i = taken; i < text.size(); ++i) whole += escapedByte(static_cast<unsigned char>(text[i]));
  if (whole.size() + 8 <= limit && count != whole.size()) std::abort();
  // A cut leaves out at most the byte that did not fit and an incomplete sequence.
  if (taken < text.size() && limit >= 8 && count + 7 + 3 < limit) std::abort();

  const auto* in = reinterpret_cast<const unsigned char*>(text.data());
  if (isValidUtf8(in, text.size()) && !isValidUtf8(reinterpret_cast<const unsigned char*>(destination.data()), count))
    std::abort();
  return 0;
}
