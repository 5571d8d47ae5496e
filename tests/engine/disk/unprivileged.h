#pragma once

// Runs part of a test in a forked child that, when the suite runs as root,
// first drops to the unprivileged user "nobody" (65534), so that file
// permissions apply to it as they do to an ordinary user.

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <exception>

namespace orb::testing {

inline constexpr uid_t kNobody = 65534;

inline bool RunningAsRoot() { return geteuid() == 0; }

// Runs `body` in a child process and expects it to finish with every
// expectation met. Expectations inside `body` report in the child's output.
template <typename Fn>
void RunUnprivileged(Fn&& body) {
  std::fflush(stdout);
  std::fflush(stderr);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0) << "fork failed";
  if (pid == 0) {
    int status = 0;
    if (RunningAsRoot() && (setgroups(0, nullptr) != 0 || setresgid(kNobody, kNobody, kNobody) != 0 ||
                            setresuid(kNobody, kNobody, kNobody) != 0)) {
      std::fprintf(stderr, "cannot drop to an unprivileged user\n");
      status = 3;
    } else {
      try {
        body();
      } catch (const std::exception& e) {
        std::fprintf(stderr, "unexpected exception: %s\n", e.what());
        status = 2;
      }
      if (status == 0 && ::testing::Test::HasFailure()) status = 1;
    }
    std::fflush(stdout);
    std::fflush(stderr);
    _exit(status);
  }
  int wstatus = 0;
  ASSERT_EQ(waitpid(pid, &wstatus, 0), pid);
  ASSERT_TRUE(WIFEXITED(wstatus)) << "the unprivileged child did not exit normally";
  EXPECT_EQ(WEXITSTATUS(wstatus), 0) << "the unprivileged child failed (see its output above)";
}

}  // namespace orb::testing
