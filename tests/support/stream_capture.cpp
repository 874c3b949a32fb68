#include "tests/support/stream_capture.h"

#include <unistd.h>

std::string captureStream(std::FILE* stream, const std::function<void()>& action) {
  std::fflush(stream);
  const int fd = fileno(stream);
  std::FILE* sink = std::tmpfile();
  const int saved = dup(fd);
  dup2(fileno(sink), fd);
  action();
  std::fflush(stream);
  dup2(saved, fd);
  close(saved);
  std::string text;
  std::rewind(sink);
  char buffer[4096];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, sink)) > 0) text.append(buffer, got);
  std::fclose(sink);
  return text;
}
