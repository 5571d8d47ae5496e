#pragma once

// Helpers for the platform tests: a scratch directory and a child process
// running tests/children/orb_lock_child.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/child_process.h"

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

// orb_lock_child with `args`.
class LockChild : public ChildProcess {
 public:
  explicit LockChild(const std::vector<std::string>& args) : ChildProcess("orb_lock_child", args) {}
};

}  // namespace orb::testing
