#include "events/json_escape.h"

namespace {
constexpr char kHexDigits[] = "0123456789abcdef";

bool isContinuationByte(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Bytes a UTF-8 sequence that starts with this lead byte has; 0 when it is
// no lead byte.
std::size_t sequenceLength(unsigned char lead) {
  if ((lead & 0xE0) == 0xC0) return 2;
  if ((lead & 0xF0) == 0xE0) return 3;
  if ((lead & 0xF8) == 0xF0) return 4;
  return 0;
}

// The length of text once a UTF-8 sequence that the cut left incomplete at
// its end is taken off, so that a cut line stays valid UTF-8.
std::size_t withoutIncompleteSequence(const char* text, std::size_t count) {
  std::size_t start = count;
  while (start > 0 && count - start < 3 && isContinuationByte(static_cast<unsigned char>(text[start - 1]))) --start;
  if (start == 0) return count;
  const std::size_t needed = sequenceLength(static_cast<unsigned char>(text[start - 1]));
  return needed > count - (start - 1) ? start - 1 : count;
}
}  // namespace

std::size_t escapeJson(const char* source, char* destination, std::size_t limit) {
  std::size_t count = 0;
  // A byte is taken only while 8 bytes of room remain: a six-byte escape and
  // the NUL always fit, so the cut never splits an escape.
  const unsigned char* in = reinterpret_cast<const unsigned char*>(source);
  for (; *in != 0 && count + 7 < limit; ++in) {
    const unsigned char byte = *in;
    if (byte == '"' || byte == '\\') {
      destination[count++] = '\\';
      destination[count++] = static_cast<char>(byte);
    } else if (byte < 0x20) {
      destination[count++] = '\\';
      destination[count++] = 'u';
      destination[count++] = '0';
      destination[count++] = '0';
      destination[count++] = kHexDigits[byte >> 4];
      destination[count++] = kHexDigits[byte & 0xF];
    } else {
      destination[count++] = static_cast<char>(byte);
    }
  }
  if (*in != 0) count = withoutIncompleteSequence(destination, count);
  if (limit > 0) destination[count] = '\0';
  return count;
}
