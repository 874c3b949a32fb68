// The seam cases on Windows' own Core Audio. Under Wine 10 the driver
// (wine10_driver.cpp) holds the world on a PulseAudio server of its own and
// answers this program's requests to change it: a line "world: remove-device"
// or "world: make-default-render <id>" on standard output, answered by one
// line on standard input.
#include <cstdio>
#include <cstring>

#include "tests/conformance/seam_check.h"

namespace {

bool askTheWorld(const char* request, const char* argument) {
  std::printf("world: %s%s%s\n", request, argument[0] != '\0' ? " " : "", argument);
  std::fflush(stdout);
  char answer[64];
  return std::fgets(answer, sizeof answer, stdin) != nullptr && std::strncmp(answer, "done", 4) == 0;
}

bool removeDevice() { return askTheWorld("remove-device", ""); }
// Wine takes its default endpoints from its own registry, as winecfg writes them.
bool makeDefaultRender(const char* endpointId) { return askTheWorld("make-default-render", endpointId); }

}  // namespace

int main() {
  _setmode(_fileno(stdout), _O_BINARY);  // the names go out as UTF-8 bytes, lines end in "\n"
  return runSeamCases({"wine10", kSeamMicrophoneName, kSeamRemovableName, removeDevice, makeDefaultRender});
}
