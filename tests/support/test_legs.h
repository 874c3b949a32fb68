// Whether a leg of the tests that cannot run here (no Wine 10 root, no
// PulseAudio, a build missing) is skipped or fails. A developer running one
// test by hand is told "skipped, because ..."; under CI every leg must run.
#pragma once

#include <string>

// True under CI (CI set to anything but "", "0" or "false"; .ci/run sets it).
bool everyLegMustRun();

// Prints why the leg cannot run and returns the exit status a CTest entry
// reports for it: 77 (skipped), or 1 under CI.
int legCannotRun(const std::string& reason);

// Empty when the Wine 10 root is there and Wine runs in it, else the line
// that `tools/wine10 --check` says about it (the one place that judges it).
std::string wine10Unusable(const std::string& wine10Tool);
