#include "tests/support/process_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

extern char** environ;

ProcessResult runProcess(const std::vector<std::string>& command,
                         const std::vector<std::pair<std::string, std::string>>& environment,
                         const SignalAfterFirstLine* signal) {
  using Clock = std::chrono::steady_clock;
  ProcessResult result;
  int outPipe[2];
  int errPipe[2];
  if (pipe(outPipe) != 0 || pipe(errPipe) != 0) return result;

  std::vector<std::string> environmentText;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    bool replaced = false;
    for (const auto& [name, value] : environment) {
      if (std::strncmp(*entry, name.c_str(), name.size()) == 0 && (*entry)[name.size()] == '=') replaced = true;
    }
    if (!replaced) environmentText.emplace_back(*entry);
  }
  for (const auto& [name, value] : environment) environmentText.push_back(name + "=" + value);
  std::vector<char*> environmentPointers;
  for (auto& text : environmentText) environmentPointers.push_back(text.data());
  environmentPointers.push_back(nullptr);
  std::vector<std::string> arguments(command);
  std::vector<char*> argumentPointers;
  for (auto& text : arguments) argumentPointers.push_back(text.data());
  argumentPointers.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
  posix_spawn_file_actions_addclose(&actions, outPipe[0]);
  posix_spawn_file_actions_addclose(&actions, errPipe[0]);
  pid_t pid = -1;
  const int spawnError =
      posix_spawn(&pid, argumentPointers[0], &actions, nullptr, argumentPointers.data(), environmentPointers.data());
  posix_spawn_file_actions_destroy(&actions);
  close(outPipe[1]);
  close(errPipe[1]);
  if (spawnError != 0) {
    close(outPipe[0]);
    close(errPipe[0]);
    result.standardError = std::string("spawn failed: ") + std::strerror(spawnError);
    return result;
  }

  pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.standardOutput, &result.standardError};
  int open = 2;
  char buffer[65536];
  Clock::time_point signalAt = Clock::time_point::max();
  bool signalled = false;
  while (open > 0) {
    if (signal != nullptr && !signalled && Clock::now() >= signalAt) {
      kill(pid, signal->signalNumber);
      signalled = true;
    }
    if (poll(fds, 2, signal != nullptr && !signalled ? 5 : -1) < 0) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(got));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
    if (signal != nullptr && signalAt == Clock::time_point::max() &&
        result.standardError.find('\n') != std::string::npos)
      signalAt = Clock::now() + signal->after;
  }
  int status = 0;
  waitpid(pid, &status, 0);
  result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

pid_t spawnChild(const std::vector<std::string>& command, int input, int output, int error, pid_t group) {
  std::vector<std::string> copy(command);
  std::vector<char*> arguments;
  for (auto& text : copy) arguments.push_back(text.data());
  arguments.push_back(nullptr);
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid != 0) return pid;
  // Only async-signal-safe calls between fork and exec.
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != parent) _exit(127);
  if (group >= 0) setpgid(0, group);
  const int null = open("/dev/null", O_RDWR);
  dup2(input >= 0 ? input : null, 0);
  dup2(output >= 0 ? output : null, 1);
  dup2(error >= 0 ? error : null, 2);
  for (int fd = 3; fd < 1024; ++fd) close(fd);
  execvp(arguments[0], arguments.data());
  _exit(127);
}

std::vector<std::string> splitLines(const std::string& text, bool* crlfEndings) {
  std::vector<std::string> lines;
  bool allCrlf = true;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    } else {
      allCrlf = false;
    }
    lines.push_back(line);
    start = end + 1;
  }
  if (crlfEndings != nullptr) *crlfEndings = allCrlf && !lines.empty();
  return lines;
}

bool fileExists(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0;
}

std::string findOnPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  if (path == nullptr) return {};
  std::string remaining(path);
  std::size_t start = 0;
  while (start <= remaining.size()) {
    std::size_t end = remaining.find(':', start);
    if (end == std::string::npos) end = remaining.size();
    const std::string candidate = remaining.substr(start, end - start) + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return {};
}
