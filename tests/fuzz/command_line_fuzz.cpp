// The command-line scan on any argument vector (the input split at NUL
// bytes): a value it returns is an argument that follows its own option.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/command_line.h"

namespace {
// Index of the argument a value points at, or -1.
int indexOf(const char* value, const std::vector<char*>& argv) {
  for (std::size_t i = 0; i + 1 < argv.size(); ++i)
    if (argv[i] == value) return static_cast<int>(i);
  return -1;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<char> text(data, data + size);
  text.push_back('\0');
  std::vector<char*> argv;
  for (std::size_t start = 0; start < text.size();) {
    argv.push_back(text.data() + start);
    start += std::strlen(text.data() + start) + 1;
  }
  argv.push_back(nullptr);
  const int argc = static_cast<int>(argv.size()) - 1;

  const CommandLine result = scanCommandLine(argc, argv.data());
  const struct {
    const char* value;
    const char* option;
  } values[] = {{result.micValue, "--mic"}, {result.systemValue, "--system"}};
  for (const auto& v : values) {
    if (v.value == nullptr) continue;
    const int i = indexOf(v.value, argv);
    if (i < 2 || std::strcmp(argv[i - 1], v.option) != 0) std::abort();
  }
  if (result.listRequested) {
    bool seen = false;
    for (int i = 1; i < argc; ++i) seen = seen || std::strcmp(argv[i], "--list") == 0;
    if (!seen) std::abort();
  }
  return 0;
}
