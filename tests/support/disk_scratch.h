#pragma once

// Helpers for the disk tests: a scratch directory and checks of engine
// error codes.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/base/orb_exception.h"
#include "engine/platform/codepage.h"
#include "tests/support/raised.h"

namespace orb::testing {

class DiskScratch {
 public:
  DiskScratch() {
    std::string templ = (std::filesystem::temp_directory_path() / "orb_disk_XXXXXX").string();
    if (mkdtemp(templ.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
    FPath = templ;
  }
  ~DiskScratch() {
    std::error_code ec;
    std::filesystem::remove_all(FPath, ec);
  }
  std::string File(const std::string& name) const { return FPath + "/" + name; }
  std::u16string WFile(const std::string& name) const { return Utf8ToWide(File(name)); }

 private:
  std::string FPath;
};

inline std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline void WriteAll(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// The native code of the EORBException that `fn` raises, or 0.
template <typename Fn>
int32_t ErrorCodeOf(Fn&& fn) {
  return test::RaisedCode(std::forward<Fn>(fn));
}

template <typename Fn>
std::string ErrorMessageOf(Fn&& fn) {
  return test::RaisedMessage(std::forward<Fn>(fn));
}

}  // namespace orb::testing
