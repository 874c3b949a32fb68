#include "tests/support/test_legs.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tests/support/process_runner.h"

bool everyLegMustRun() {
  const char* ci = std::getenv("CI");
  return ci != nullptr && ci[0] != '\0' && std::strcmp(ci, "0") != 0 && std::strcmp(ci, "false") != 0;
}

int legCannotRun(const std::string& reason) {
  if (everyLegMustRun()) {
    std::printf("cannot run, and under CI every leg must: %s\n", reason.c_str());
    return 1;
  }
  std::printf("skipped, because %s\n", reason.c_str());
  return 77;
}

std::string wine10Unusable(const std::string& wine10Tool) {
  const ProcessResult check = runProcess({wine10Tool, "--check"});
  if (check.exitStatus == 0) return "";
  std::string reason = check.standardError;
  while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r')) reason.pop_back();
  return reason.empty() ? wine10Tool + " --check failed" : reason;
}
