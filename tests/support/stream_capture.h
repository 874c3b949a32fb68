// Captures what a piece of in-process code writes to standard error or
// standard output, at the file-descriptor level, so the bytes are exact.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

std::string captureStream(std::FILE* stream, const std::function<void()>& action);
