#pragma once

// A progress bar on standard error for long work, drawn only when standard
// error is a terminal (never into files or pipes), at most ten times a
// second, and erased when the work ends.

#include <chrono>
#include <cstdint>
#include <string>

namespace orbdb {

class TProgress {
 public:
  // `total` of 0 or less: unknown, only the count is shown.
  TProgress(std::string label, int64_t total);
  // Erases the bar.
  ~TProgress();
  TProgress(const TProgress&) = delete;
  TProgress& operator=(const TProgress&) = delete;

  void Update(int64_t done);

 private:
  void Draw(int64_t done);

  std::string FLabel;
  int64_t FTotal;
  bool FEnabled;
  bool FDrawn = false;
  std::chrono::steady_clock::time_point FLastDraw{};
};

}  // namespace orbdb
