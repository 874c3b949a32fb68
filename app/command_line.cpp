#include "app/command_line.h"

#include <cstdio>
#include <cstring>

#ifndef AUDIOTAP_VERSION
#error "AUDIOTAP_VERSION comes from the build: project(audiotap VERSION ...)"
#endif

CommandLine scanCommandLine(int argc, char** argv) {
  CommandLine result{false, false, nullptr, nullptr};
  // Only in first place, so that no command line that worked before changes meaning.
  if (argc > 1 && std::strcmp(argv[1], "--version") == 0) {
    result.versionRequested = true;
    return result;
  }
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

void printVersion() { std::fputs("audiotap " AUDIOTAP_VERSION "\n", stdout); }
