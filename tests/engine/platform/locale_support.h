#pragma once

// Switches the C locale of the test process to a real one, such as
// "de_DE" (',' as decimal separator) or "tr_TR" (dotted and dotless i),
// building it with localedef into a private directory when the system has
// not installed it. Restores the "C" locale when it goes out of scope.

#include <stdlib.h>
#include <unistd.h>

#include <clocale>
#include <filesystem>
#include <map>
#include <string>

namespace orb::testing {

// Locales built by this test process, removed when it ends.
struct BuiltLocales {
  BuiltLocales()
      : root((std::filesystem::temp_directory_path() / ("FOrbLocales" + std::to_string(getpid()))).string()) {}
  ~BuiltLocales() {
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
  }
  std::string root;
  std::map<std::string, bool> results;
};

class ScopedCLocale {
 public:
  explicit ScopedCLocale(const std::string& language) {
    const std::string name = language + ".UTF-8";
    if (setlocale(LC_ALL, name.c_str()) != nullptr) {
      FActive = true;
      return;
    }
    // Each locale gets a directory of its own: the C library remembers a
    // failed lookup per search path, so the path must be new after a build.
    static BuiltLocales built;
    const std::string dir = built.root + "/" + language;
    if (!built.results.count(language)) {
      std::filesystem::create_directories(dir);
      std::string cmd = "localedef -i " + language + " -f UTF-8 " + dir + "/" + name + " >/dev/null 2>&1";
      built.results[language] = system(cmd.c_str()) == 0;
    }
    if (!built.results[language]) return;
    setenv("LOCPATH", dir.c_str(), 1);
    FActive = setlocale(LC_ALL, name.c_str()) != nullptr;
  }
  ~ScopedCLocale() { setlocale(LC_ALL, "C"); }
  ScopedCLocale(const ScopedCLocale&) = delete;
  ScopedCLocale& operator=(const ScopedCLocale&) = delete;

  // False when the locale could neither be found nor built.
  bool active() const { return FActive; }

 private:
  bool FActive = false;
};

}  // namespace orb::testing
