#pragma once

// Helpers for the platform tests: a scratch directory and a child process
// running tests/children/orb_lock_child.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace orb::testing {

// A fresh directory under the system temp dir, removed with its contents.
class ScratchDir {
 public:
  ScratchDir() {
    std::string templ = (std::filesystem::temp_directory_path() / "orb_platform_XXXXXX").string();
    if (mkdtemp(templ.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
    FPath = templ;
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(FPath, ec);
  }
  std::string File(const std::string& name) const { return FPath + "/" + name; }
  const std::string& path() const { return FPath; }

 private:
  std::string FPath;
};

// Runs orb_lock_child with `args`; its stdout is read line by line and its
// stdin is held open until Release (or Kill).
class LockChild {
 public:
  explicit LockChild(const std::vector<std::string>& args) {
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) {
      ADD_FAILURE() << "pipe2 failed";
      return;
    }
    std::string program = std::string(ORB_TEST_BIN_DIR) + "/orb_lock_child";
    std::vector<char*> argv;
    argv.push_back(program.data());
    std::vector<std::string> copy = args;
    for (auto& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    int rc = posix_spawn(&FPid, program.c_str(), &actions, nullptr, argv.data(), environ);
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
  ~LockChild() {
    if (FPid > 0) Kill();
    if (FFromChild >= 0) close(FFromChild);
  }
  LockChild(const LockChild&) = delete;
  LockChild& operator=(const LockChild&) = delete;

  // Next output line ("" on end of output or after 20 s without one).
  std::string ReadLine() {
    std::string line;
    for (;;) {
      pollfd p{FFromChild, POLLIN, 0};
      if (poll(&p, 1, 20000) <= 0) return line;
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

  // Lets the child exit normally and waits for it.
  void Release() {
    if (FToChild >= 0) close(FToChild);
    FToChild = -1;
    Wait();
  }

  // Kills the child without letting it clean up and waits for it.
  void Kill() {
    if (FPid > 0) kill(FPid, SIGKILL);
    if (FToChild >= 0) close(FToChild);
    FToChild = -1;
    Wait();
  }

 private:
  void Wait() {
    if (FPid <= 0) return;
    int status = 0;
    while (waitpid(FPid, &status, 0) < 0 && errno == EINTR) {
    }
    FPid = -1;
  }

  pid_t FPid = -1;
  int FToChild = -1;
  int FFromChild = -1;
};

}  // namespace orb::testing
