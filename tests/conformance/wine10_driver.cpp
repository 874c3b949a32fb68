// Runs the seam cases' Windows program under Wine 10 (tools/wine10) against
// Wine's own mmdevapi, on a private PulseAudio server that holds the suite's
// world, and answers the program's requests to change that world. Usage:
//   wine10_driver TOOLS_WINE10 SEAM_CONFORMANCE_EXE PREFIX_DIR
// Exit status: the program's; 77 when Wine 10 or the program is missing
// (1 instead under CI).
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/conformance/pulse_world.h"
#include "tests/support/process_runner.h"
#include "tests/support/test_legs.h"

namespace {

constexpr int kRunTimeoutSeconds = 300;

std::string wine10;

// Standard error goes where standard output goes.
pid_t spawn(const std::vector<std::string>& command, int input, int output) {
  return spawnChild(command, input, output, output, -1);
}

// Waits for a child up to a time; its exit status, or -1 (killed) after it.
int waitFor(pid_t pid, int seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    usleep(20000);
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A Wine command whose output nobody reads: Wine's server and services,
// started by it, must not hold the pipes of the run.
int wineQuietly(const std::vector<std::string>& command, int seconds) {
  std::vector<std::string> full = {wine10};
  full.insert(full.end(), command.begin(), command.end());
  return waitFor(spawn(full, -1, -1), seconds);
}

bool preparePrefix(const std::string& prefix) {
  mkdir(prefix.c_str(), 0755);
  if (!fileExists(prefix + "/system.reg")) {
    std::printf("making the Wine prefix %s\n", prefix.c_str());
    std::fflush(stdout);
    wineQuietly({"wineboot", "-i"}, 240);
    wineQuietly({"wineserver", "-w"}, 120);
    if (!fileExists(prefix + "/system.reg")) return false;
  }
  wineQuietly({"wineserver", "-p60"}, 30);
  wineQuietly({"wine", "cmd", "/c", "exit"}, 120);
  return true;
}

constexpr char kWinePulseKey[] = "HKCU\\Software\\Wine\\Drivers\\winepulse.drv";

void forgetDefaultOutput() { wineQuietly({"wine", "reg", "delete", kWinePulseKey, "/v", "DefaultOutput", "/f"}, 60); }

// Relays the program's lines and answers its requests; its exit status.
int runProgram(const std::string& exe, PulseSeamWorld& world) {
  int toProgram[2];
  int fromProgram[2];
  if (pipe(toProgram) != 0 || pipe(fromProgram) != 0) return 1;
  const pid_t pid = spawn({wine10, "wine", exe}, toProgram[0], fromProgram[1]);
  close(toProgram[0]);
  close(fromProgram[1]);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kRunTimeoutSeconds);
  std::string pending;
  int status = 0;
  bool exited = false;
  // Until the program has exited and its output is read; a Wine process that
  // inherited the pipe may hold it open longer, so EOF is not waited for.
  for (;;) {
    pollfd readable = {fromProgram[0], POLLIN, 0};
    const int ready = poll(&readable, 1, exited ? 0 : 100);
    char buffer[4096];
    const ssize_t got = ready > 0 ? read(fromProgram[0], buffer, sizeof buffer) : 0;
    if (got > 0) pending.append(buffer, static_cast<std::size_t>(got));
    for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
      std::string line = pending.substr(0, end);
      pending.erase(0, end + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      const std::string makeDefault = "world: make-default-render ";
      if (line == "world: remove-device" || line.rfind(makeDefault, 0) == 0) {
        // Wine's default output is its registry's, which winecfg writes: the
        // endpoint identifier under the driver's key.
        const bool done = line == "world: remove-device"
                              ? world.removeDevice()
                              : wineQuietly({"wine", "reg", "add", kWinePulseKey, "/v", "DefaultOutput", "/t", "REG_SZ",
                                             "/d", line.substr(makeDefault.size()), "/f"},
                                            60) == 0;
        const char* answer = done ? "done\n" : "failed\n";
        if (write(toProgram[1], answer, std::strlen(answer)) < 0) std::perror("answering the program");
      } else {
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
      }
    }
    if (exited && got <= 0) break;
    if (!exited && waitpid(pid, &status, WNOHANG) == pid) exited = true;
    if (!exited && std::chrono::steady_clock::now() > deadline) {
      std::printf("the program ran longer than %d s: ended\n", kRunTimeoutSeconds);
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      exited = true;
      status = 1 << 8;
    }
  }
  if (!pending.empty()) std::printf("%s\n", pending.c_str());
  close(toProgram[1]);
  close(fromProgram[0]);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: wine10_driver TOOLS_WINE10 SEAM_CONFORMANCE_EXE PREFIX_DIR\n");
    return 2;
  }
  wine10 = argv[1];
  const std::string exe = argv[2];
  const std::string prefix = argv[3];
  if (!fileExists(exe)) return legCannotRun(exe + " is not built (cmake --build --preset windows-mingw)");
  if (!PrivatePulseServer::installed()) return legCannotRun("pulseaudio and pactl are not installed");
  if (const std::string problem = wine10Unusable(wine10); !problem.empty()) return legCannotRun(problem);
  PulseSeamWorld world;
  if (!world.start()) return 1;
  // tools/wine10 passes XDG_RUNTIME_DIR (the private server's) and these on.
  setenv("WINEPREFIX", prefix.c_str(), 1);
  setenv("WINEDEBUG", "-all", 1);
  setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 1);  // no offer to download Mono or Gecko
  if (!preparePrefix(prefix)) {
    std::printf("wineboot -i did not prepare %s\n", prefix.c_str());
    return 1;
  }
  // The world's default output is its sound server's, as in a new prefix:
  // a default left in the registry by an earlier run would make the change
  // asked for later no change at all.
  forgetDefaultOutput();
  const int status = runProgram(exe, world);
  forgetDefaultOutput();
  // The prefix is this test's own: nothing else of Wine may outlive the run.
  wineQuietly({"wineserver", "-k"}, 30);
  wineQuietly({"wineserver", "-w"}, 30);
  return status;
}
