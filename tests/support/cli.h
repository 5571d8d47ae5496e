#pragma once

// Runs the orbdb tool as a child process for command-line tests.

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
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

// Runs orbdb with `args` (no shell involved), capturing stdout and stderr.
inline CliResult RunOrbdb(const std::vector<std::string>& args) {
  char out_path[] = "/tmp/orbdb_out_XXXXXX";
  char err_path[] = "/tmp/orbdb_err_XXXXXX";
  const int out_fd = mkstemp(out_path);
  const int err_fd = mkstemp(err_path);
  CliResult r;
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out_fd, 1);
    dup2(err_fd, 2);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(ORB_ORBDB_PATH));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(ORB_ORBDB_PATH, argv.data());
    _exit(127);
  }
  int st = 0;
  waitpid(pid, &st, 0);
  close(out_fd);
  close(err_fd);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  r.out = ReadWholeFile(out_path);
  r.err = ReadWholeFile(err_path);
  unlink(out_path);
  unlink(err_path);
  return r;
}

}  // namespace orb::test
