// tavhost run as its users run it: a separate process, its exit code, standard output and
// standard error collected, Ctrl-C sent when asked.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace tav::testing {

namespace fs = std::filesystem;

struct Outcome {
  int exitCode = -1;
  std::string out;
  std::string err;
};

struct RunOptions {
  fs::path folder;                       // the working folder; empty: the test's
  std::string interruptAfter;            // send Ctrl-C once standard output holds this
  std::vector<std::string> environment;  // "NAME=VALUE" set for tavhost over the test's own
};

// Runs tavhost with `args` and collects what it writes; gives up after two minutes.
inline Outcome RunTavhost(const std::vector<std::string>& args, const RunOptions& options = {}) {
  int out[2];
  int err[2];
  if (pipe(out) != 0 || pipe(err) != 0) return {};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  posix_spawn_file_actions_addclose(&actions, err[0]);
  if (!options.folder.empty()) {
    posix_spawn_file_actions_addchdir_np(&actions, options.folder.c_str());
  }
  // The emulator first when there is one ("qemu-i386|-L|/"), then tavhost and its arguments.
  std::vector<std::string> argv;
  std::istringstream launcher(TAVHOST_LAUNCHER);
  for (std::string part; std::getline(launcher, part, '|');) argv.push_back(part);
  argv.push_back(TAVHOST_PATH);
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> pointers;
  for (std::string& arg : argv) pointers.push_back(arg.data());
  pointers.push_back(nullptr);
  std::vector<std::string> variables = options.environment;
  std::vector<char*> environment;
  for (std::string& variable : variables) environment.push_back(variable.data());
  for (char** inherited = environ; *inherited != nullptr; ++inherited) {
    environment.push_back(*inherited);
  }
  environment.push_back(nullptr);
  pid_t pid = 0;
  const int spawned =
      posix_spawnp(&pid, argv[0].c_str(), &actions, nullptr, pointers.data(), environment.data());
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  close(err[1]);
  Outcome run;
  if (spawned != 0) return run;

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
  bool interrupted = false;
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* texts[2] = {&run.out, &run.err};
  int open = 2;
  while (open > 0 && std::chrono::steady_clock::now() < deadline) {
    if (poll(fds, 2, 100) < 0) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || (fds[i].revents & (POLLIN | POLLHUP)) == 0) continue;
      char buffer[65536];
      const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
      if (got <= 0) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      } else {
        texts[i]->append(buffer, static_cast<size_t>(got));
      }
    }
    if (!options.interruptAfter.empty() && !interrupted &&
        run.out.find(options.interruptAfter) != std::string::npos) {
      kill(pid, SIGINT);
      interrupted = true;
    }
  }
  if (open > 0) {
    kill(pid, SIGKILL);
    for (pollfd& fd : fds) {
      if (fd.fd >= 0) close(fd.fd);
    }
  }
  int status = 0;
  waitpid(pid, &status, 0);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return run;
}

}  // namespace tav::testing
