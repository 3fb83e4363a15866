// The build machine's side of the tests that run a Windows program under Wine through
// tests/win32/run_under_wine.sh: the runner's options from the command line, and running a program
// through it.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace tav::wine {

// The runner's exit status when this machine cannot run the build's Wine.
inline constexpr int kSkipped = 77;

struct RunnerOptions {
  std::string runner;
  std::string prefix;
  std::string probe;  // empty: the programs are 64-bit ones, run by Wine's 64-bit loader
};

// The runner's command line for `tail` (a program and its arguments, or --check).
inline std::vector<std::string> RunnerCommand(const RunnerOptions& options,
                                              const std::vector<std::string>& tail) {
  std::vector<std::string> command = {options.runner, "--prefix", options.prefix};
  if (options.probe.empty()) {
    command.push_back("--win64");
  } else {
    command.insert(command.end(), {"--probe", options.probe});
  }
  command.insert(command.end(), tail.begin(), tail.end());
  return command;
}

[[noreturn]] inline void Exec(const std::vector<std::string>& command) {
  std::vector<char*> argv;
  for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  execv(argv[0], argv.data());
  std::perror(argv[0]);
  _exit(127);
}

// Runs `command` to its end; returns its exit status.
inline int RunToEnd(const std::vector<std::string>& command) {
  const pid_t child = fork();
  if (child == 0) Exec(command);
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

struct Outcome {
  int status = -1;
  std::string output;  // standard output and standard error, line ends without carriage returns
};

// Told the output so far whenever more of it arrived, while the program runs.
using OutputWatcher = std::function<void(const std::string& output)>;

// Runs `command` to its end with its standard output and standard error read into the outcome;
// `prepare` runs in the child before the exec (its folder, its namespace): false ends the child
// with 127.
inline Outcome RunCapturing(const std::vector<std::string>& command,
                            const std::function<bool()>& prepare,
                            const OutputWatcher& watcher = {}) {
  int output[2];
  if (pipe2(output, O_CLOEXEC) != 0) return {};
  const pid_t child = fork();
  if (child == 0) {
    dup2(output[1], STDOUT_FILENO);
    dup2(output[1], STDERR_FILENO);
    if (!prepare()) _exit(127);
    Exec(command);
  }
  close(output[1]);
  // Read until the program has ended and its output is drained. The end of the pipe does not
  // tell: a wineserver that the program started inherits the pipe and lingers for seconds.
  Outcome outcome;
  int status = 0;
  bool ended = false;
  for (;;) {
    pollfd ready{output[0], POLLIN, 0};
    if (poll(&ready, 1, ended ? 0 : 20) <= 0) {
      if (ended) break;
      ended = waitpid(child, &status, WNOHANG) == child;
      continue;
    }
    char chunk[4096];
    const ssize_t count = read(output[0], chunk, sizeof chunk);
    if (count <= 0) break;
    for (ssize_t i = 0; i < count; ++i) {
      if (chunk[i] != '\r') outcome.output += chunk[i];
    }
    if (watcher) watcher(outcome.output);
  }
  close(output[0]);
  if (!ended) waitpid(child, &status, 0);
  outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
  return outcome;
}

// Ends the wineserver of `prefix` and every Wine process of it. Wine answers adapter questions,
// and makes its sockets, in the namespace its wineserver runs in: a run that is to see another
// namespace's network stops the server first, so that its first program starts one there.
inline void StopWineserver(const std::string& prefix) {
  setenv("WINEPREFIX", prefix.c_str(), 1);
  RunToEnd({"/usr/lib/wine/wineserver", "-k"});
}

// Reads "--runner R --prefix P (--probe X | --win64)" and the options named in `text` (each with
// a value) from the command line, GoogleTest's own options already taken out. False when one is
// missing.
inline bool ReadRunnerOptions(int argc, char** argv, RunnerOptions& options,
                              std::map<std::string, std::string*> text) {
  text["--runner"] = &options.runner;
  text["--prefix"] = &options.prefix;
  bool win64 = false;
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    if (name == "--win64") {
      win64 = true;
    } else if (i + 1 < argc && name == "--probe") {
      options.probe = argv[++i];
    } else if (auto found = text.find(name); i + 1 < argc && found != text.end()) {
      *found->second = argv[++i];
    }
  }
  for (const auto& [name, value] : text) {
    if (value->empty()) return false;
  }
  return win64 != !options.probe.empty();
}

}  // namespace tav::wine
