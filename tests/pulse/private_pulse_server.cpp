#include "tests/pulse/private_pulse_server.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <sstream>
#include <thread>

#include "tests/support/process_runner.h"

namespace {

// Standard error on /dev/null; a group of its own unless given.
pid_t spawnQuiet(const std::vector<std::string>& command, int input = -1, int output = -1, pid_t group = 0) {
  return spawnChild(command, input, output, -1, group);
}

// The server is our child (not a daemon), so that it is reaped when it ends.
bool processGone(pid_t pid) { return waitpid(pid, nullptr, WNOHANG) == pid; }

}  // namespace

bool PrivatePulseServer::installed() { return !findOnPath("pulseaudio").empty() && !findOnPath("pactl").empty(); }

bool PrivatePulseServer::start() {
  char pattern[] = "/tmp/audiotap-pulse-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return false;
  runtimeDirectory_ = pattern;
  setenv("XDG_RUNTIME_DIR", runtimeDirectory_.c_str(), 1);
  unsetenv("PULSE_SERVER");
  unsetenv("PULSE_RUNTIME_PATH");
  pid_ = spawnQuiet({"pulseaudio", "--daemonize=no", "--exit-idle-time=-1", "-n", "--use-pid-file=no",
                     "--load=module-native-protocol-unix"});
  if (pid_ < 0) return false;
  for (int i = 0; i < 100; ++i) {
    if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
      pid_ = -1;
      return false;
    }
    bool answered = false;
    if (access((runtimeDirectory_ + "/pulse/native").c_str(), F_OK) == 0) pactl({"info"}, &answered);
    if (answered) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

void PrivatePulseServer::stop() {
  for (pid_t group : toneGroups_) {
    kill(-group, SIGKILL);
    while (waitpid(-group, nullptr, 0) > 0) {
    }
  }
  toneGroups_.clear();
  if (pid_ > 0) {
    kill(pid_, SIGCONT);  // in case a test left it stopped
    kill(pid_, SIGTERM);
    for (int i = 0; i < 200 && !processGone(pid_); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!processGone(pid_)) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
  }
  if (!runtimeDirectory_.empty()) {
    std::system(("rm -rf '" + runtimeDirectory_ + "'").c_str());
    runtimeDirectory_.clear();
  }
}

std::string PrivatePulseServer::pactl(const std::vector<std::string>& arguments, bool* succeeded) const {
  std::vector<std::string> command = {findOnPath("pactl")};
  command.insert(command.end(), arguments.begin(), arguments.end());
  const ProcessResult result = runProcess(command, {{"LC_ALL", "C"}});
  if (succeeded != nullptr) *succeeded = result.exitStatus == 0;
  return result.exitStatus == 0 ? result.standardOutput : "";
}

int PrivatePulseServer::loadModule(const std::vector<std::string>& arguments) const {
  std::vector<std::string> command = {"load-module"};
  command.insert(command.end(), arguments.begin(), arguments.end());
  bool succeeded = false;
  const std::string output = pactl(command, &succeeded);
  return succeeded ? std::atoi(output.c_str()) : -1;
}

void PrivatePulseServer::playTone(const std::string& sink, int frequency) {
  int ends[2];
  if (pipe(ends) != 0) return;
  const pid_t generator =
      spawnQuiet({"sox", "-q",     "-n", "-r", "44100", "-c",    "2",   "-t",   "raw",
                  "-e",  "signed", "-b", "16", "-",     "synth", "600", "sine", std::to_string(frequency),
                  "vol", "0.5"},
                 -1, ends[1]);
  if (generator > 0) {
    spawnQuiet({"pacat", "--latency-msec=20", "-d", sink, "--format=s16le", "--rate=44100", "--channels=2"}, ends[0],
               -1, generator);
    toneGroups_.push_back(generator);
  }
  close(ends[0]);
  close(ends[1]);
}

bool PrivatePulseServer::waitForPlayback(const std::string& sink, int streams) const {
  for (int i = 0; i < 100; ++i) {
    const std::string sinkIndexText = pactl({"list", "short", "sinks"});
    std::string sinkIndex;
    std::istringstream sinks(sinkIndexText);
    for (std::string line; std::getline(sinks, line);) {
      std::istringstream fields(line);
      std::string index, name;
      fields >> index >> name;
      if (name == sink) sinkIndex = index;
    }
    int playing = 0;
    std::istringstream inputs(pactl({"list", "short", "sink-inputs"}));
    for (std::string line; std::getline(inputs, line);) {
      std::istringstream fields(line);
      std::string index, onSink;
      fields >> index >> onSink;
      if (!sinkIndex.empty() && onSink == sinkIndex) ++playing;
    }
    if (playing >= streams) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

std::vector<std::pair<std::string, std::string>> PrivatePulseServer::environment() const {
  return {{"XDG_RUNTIME_DIR", runtimeDirectory_}};
}

std::vector<PactlDevice> parsePactlList(const std::string& text) {
  std::vector<PactlDevice> devices;
  std::istringstream lines(text);
  auto valueAfter = [](const std::string& line, const std::string& key, std::string* value) {
    const std::string prefix = "\t" + key + ": ";
    if (line.rfind(prefix, 0) != 0) return false;
    *value = line.substr(prefix.size());
    return true;
  };
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("Sink #", 0) == 0 || line.rfind("Source #", 0) == 0) {
      devices.emplace_back();
      continue;
    }
    if (devices.empty()) continue;
    std::string value;
    if (valueAfter(line, "Name", &value)) devices.back().name = value;
    if (valueAfter(line, "Description", &value)) devices.back().description = value;
    if (valueAfter(line, "Monitor of Sink", &value) && value != "n/a") devices.back().monitorOf = value;
  }
  return devices;
}
