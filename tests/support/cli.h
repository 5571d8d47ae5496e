#pragma once

// Runs the orbdb tool as a child process for command-line tests.

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace orb::test {

struct CliResult {
  int status = -1;  // exit status; -1 when killed by a signal
  std::string out;
  std::string err;
};

inline std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// How the child's standard input and output are set up.
struct CliStdio {
  // Fed through a pipe as standard input when set; else stdin is inherited.
  std::optional<std::string> input;
  // When set, standard output is this file opened for appending (and
  // CliResult::out stays empty).
  std::string append_output_to;
};

// Runs orbdb with `args` (no shell involved), capturing stdout and stderr.
inline CliResult RunOrbdb(const std::vector<std::string>& args, const CliStdio& stdio = {}) {
  char out_path[] = "/tmp/orbdb_out_XXXXXX";
  char err_path[] = "/tmp/orbdb_err_XXXXXX";
  const int out_fd = stdio.append_output_to.empty()
                         ? mkstemp(out_path)
                         : open(stdio.append_output_to.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  const int err_fd = mkstemp(err_path);
  int in_pipe[2] = {-1, -1};
  if (stdio.input && pipe2(in_pipe, O_CLOEXEC) != 0) return {};
  CliResult r;
  const pid_t pid = fork();
  if (pid == 0) {
    if (stdio.input) dup2(in_pipe[0], 0);
    dup2(out_fd, 1);
    dup2(err_fd, 2);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(ORB_ORBDB_PATH));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(ORB_ORBDB_PATH, argv.data());
    _exit(127);
  }
  if (stdio.input) {
    // A child that stops reading early must not kill the test with SIGPIPE.
    close(in_pipe[0]);
    void (*previous)(int) = signal(SIGPIPE, SIG_IGN);
    for (size_t done = 0; done < stdio.input->size();) {
      const ssize_t n = write(in_pipe[1], stdio.input->data() + done, stdio.input->size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    close(in_pipe[1]);
    signal(SIGPIPE, previous);
  }
  int st = 0;
  waitpid(pid, &st, 0);
  close(out_fd);
  close(err_fd);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  if (stdio.append_output_to.empty()) {
    r.out = ReadWholeFile(out_path);
    unlink(out_path);
  }
  r.err = ReadWholeFile(err_path);
  unlink(err_path);
  return r;
}

}  // namespace orb::test
