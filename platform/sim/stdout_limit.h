// Makes standard output accept a given number of bytes and refuse the rest,
// as a pipe whose reader went away does, so a short write can be provoked at
// an exact byte.
#pragma once

#include <cstdint>

void simLimitStandardOutput(std::int64_t acceptedBytes);
