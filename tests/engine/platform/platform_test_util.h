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
    path_ = templ;
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
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
    int rc = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    to_child_ = in[1];
    from_child_ = out[0];
    if (rc != 0) {
      ADD_FAILURE() << "cannot start " << program << ": " << rc;
      pid_ = -1;
    }
  }
  ~LockChild() {
    if (pid_ > 0) Kill();
    if (from_child_ >= 0) close(from_child_);
  }
  LockChild(const LockChild&) = delete;
  LockChild& operator=(const LockChild&) = delete;

  // Next output line ("" on end of output or after 20 s without one).
  std::string ReadLine() {
    std::string line;
    for (;;) {
      pollfd p{from_child_, POLLIN, 0};
      if (poll(&p, 1, 20000) <= 0) return line;
      char c;
      if (read(from_child_, &c, 1) != 1) return line;
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
    if (to_child_ >= 0) close(to_child_);
    to_child_ = -1;
    Wait();
  }

  // Kills the child without letting it clean up and waits for it.
  void Kill() {
    if (pid_ > 0) kill(pid_, SIGKILL);
    if (to_child_ >= 0) close(to_child_);
    to_child_ = -1;
    Wait();
  }

 private:
  void Wait() {
    if (pid_ <= 0) return;
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
  }

  pid_t pid_ = -1;
  int to_child_ = -1;
  int from_child_ = -1;
};

}  // namespace orb::testing
