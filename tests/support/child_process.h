#pragma once

// A child process for tests that span processes: runs
// tests/children/<program>, reads its stdout line by line and holds its
// stdin open until Release (or Kill).

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

extern char** environ;

namespace orb::testing {

// Runs tests/children/<program> with `args`; its stdout is read line by
// line and its stdin is held open until Release (or Kill).
class ChildProcess {
 public:
  ChildProcess(const std::string& program_name, const std::vector<std::string>& args) {
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) {
      ADD_FAILURE() << "pipe2 failed";
      return;
    }
    std::string program = std::string(ORB_TEST_BIN_DIR) + "/" + program_name;
    std::vector<std::string> copy = args;
    std::vector<char*> argv{program.data()};
    for (auto& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    const int rc = posix_spawn(&FPid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    FToChild = in[1];
    FFromChild = out[0];
    if (rc != 0) {
      ADD_FAILURE() << "cannot start " << program << ": " << rc;
      FPid = -1;
    }
  }
  ~ChildProcess() {
    if (FPid > 0) Kill();
    if (FToChild >= 0) close(FToChild);
    if (FFromChild >= 0) close(FFromChild);
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Next output line ("" at the end of the output or after 30 s without one).
  std::string ReadLine() {
    std::string line;
    for (;;) {
      pollfd p{FFromChild, POLLIN, 0};
      if (poll(&p, 1, 30000) <= 0) return line;
      char c;
      if (read(FFromChild, &c, 1) != 1) return line;
      if (c == '\n') return line;
      line += c;
    }
  }

  // Lines up to and including "ready".
  std::vector<std::string> ReadUntilReady() {
    std::vector<std::string> lines;
    for (;;) {
      std::string line = ReadLine();
      if (line.empty()) {
        ADD_FAILURE() << "child gave no ready line";
        return lines;
      }
      lines.push_back(line);
      if (line == "ready") return lines;
    }
  }

  // Closes the child's stdin and returns its exit status (-1 if killed).
  int Release() {
    if (FToChild >= 0) close(FToChild);
    FToChild = -1;
    return Wait();
  }
  // Kills the child without letting it clean up.
  void Kill() {
    if (FPid > 0) kill(FPid, SIGKILL);
    Release();
  }

 private:
  int Wait() {
    if (FPid <= 0) return -1;
    int status = 0;
    while (waitpid(FPid, &status, 0) < 0 && errno == EINTR) {
    }
    FPid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  pid_t FPid = -1;
  int FToChild = -1;
  int FFromChild = -1;
};

}  // namespace orb::testing
