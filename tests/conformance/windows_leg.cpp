// The seam cases on Windows' own Core Audio. Under Wine 10 the driver
// (wine10_driver.cpp) holds the world on a PulseAudio server of its own and
// answers this program's requests to change it: a line "world: remove-device"
// on standard output, answered by one line on standard input.
#include <cstdio>
#include <cstring>

#include "tests/conformance/seam_check.h"

namespace {

bool removeDevice() {
  std::fputs("world: remove-device\n", stdout);
  std::fflush(stdout);
  char answer[64];
  return std::fgets(answer, sizeof answer, stdin) != nullptr && std::strncmp(answer, "done", 4) == 0;
}

}  // namespace

int main() {
  _setmode(_fileno(stdout), _O_BINARY);  // the names go out as UTF-8 bytes, lines end in "\n"
  return runSeamCases({"wine10", kSeamMicrophoneName, kSeamRemovableName, removeDevice});
}
