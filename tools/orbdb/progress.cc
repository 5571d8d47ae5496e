#include "tools/orbdb/progress.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace orbdb {
namespace {

constexpr int kBarWidth = 30;
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

}  // namespace

TProgress::TProgress(std::string label, int64_t total)
    : FLabel(std::move(label)), FTotal(total), FEnabled(isatty(STDERR_FILENO) == 1) {}

TProgress::~TProgress() {
  if (FDrawn) std::fputs("\r\033[K", stderr);
}

void TProgress::Update(int64_t done) {
  if (!FEnabled) return;
  const auto now = std::chrono::steady_clock::now();
  if (FDrawn && now - FLastDraw < kRedrawInterval) return;
  FLastDraw = now;
  Draw(done);
}

void TProgress::Draw(int64_t done) {
  std::string line = "\r" + FLabel + " ";
  if (FTotal > 0) {
    const int64_t shown = std::clamp<int64_t>(done, 0, FTotal);
    const int filled = static_cast<int>(shown * kBarWidth / FTotal);
    line += "[" + std::string(filled, '#') + std::string(kBarWidth - filled, ' ') + "] ";
    line += std::to_string(shown * 100 / FTotal) + "%";
  } else {
    line += std::to_string(done);
  }
  line += "\033[K";
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
  FDrawn = true;
}

}  // namespace orbdb
