#pragma once

#include <cstddef>

// Bounds of the texts that go through escapeJson.
inline constexpr std::size_t kEscapedTextLimit = 512;         // details, friendly names
inline constexpr std::size_t kEscapedInstanceIdLimit = 1300;  // listing's InstanceId

// Writes source, JSON-escaped, into destination followed by a NUL, never more
// than limit bytes in all. Stops silently, on a source byte boundary, before
// a byte that might not fit with room for the longest escape and the NUL; a
// UTF-8 sequence that the cut would leave incomplete is left out whole.
// Returns the number of bytes written before the NUL.
std::size_t escapeJson(const char* source, char* destination, std::size_t limit);
