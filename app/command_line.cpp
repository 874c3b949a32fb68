#include "app/command_line.h"

#include <cstring>

CommandLine scanCommandLine(int argc, char** argv) {
  CommandLine result{false, nullptr, nullptr};
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    const bool hasValue = i + 1 < argc;
    if (std::strcmp(argument, "--list") == 0) {
      result.listRequested = true;
      return result;
    }
    // A value is the very next argument, whatever it looks like; an option
    // with nothing after it is ignored.
    if (std::strcmp(argument, "--mic") == 0) {
      if (hasValue) result.micValue = argv[++i];
    } else if (std::strcmp(argument, "--system") == 0) {
      if (hasValue) result.systemValue = argv[++i];
    } else if (std::strcmp(argument, "--exclude-pid") == 0) {
      if (hasValue) ++i;
    }
  }
  return result;
}
