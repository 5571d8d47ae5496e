#pragma once

// The line protocol of the child programs (tests/children/): a child says
// one line at a time on standard output and, where it holds something for
// the parent, keeps it until the parent closes its standard input.

#include <unistd.h>

#include <string>

namespace orb::test {

// Writes `line` and a newline to standard output in one write; a child
// whose parent stopped listening ends with status 3.
inline void Say(const std::string& line) {
  const std::string out = line + "\n";
  if (write(STDOUT_FILENO, out.data(), out.size()) < 0) _exit(3);
}

// Returns once the parent has closed the child's standard input.
inline void WaitForStdinClose() {
  char c;
  while (read(STDIN_FILENO, &c, 1) > 0) {
  }
}

}  // namespace orb::test
