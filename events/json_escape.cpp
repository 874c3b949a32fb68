#include "events/json_escape.h"

namespace {
constexpr char kHexDigits[] = "0123456789abcdef";
}

std::size_t escapeJson(const char* source, char* destination, std::size_t limit) {
  std::size_t count = 0;
  // A byte is taken only while 8 bytes of room remain: a six-byte escape and
  // the NUL always fit, so the cut never splits an escape.
  for (const unsigned char* in = reinterpret_cast<const unsigned char*>(source); *in != 0 && count + 7 < limit; ++in) {
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
  if (limit > 0) destination[count] = '\0';
  return count;
}
