#include "engine/platform/critical_section.h"

namespace orb {

void TCriticalSection::Enter() {
  const auto self = std::this_thread::get_id();
  std::unique_lock<std::mutex> lock(FMutex);
  if (FDepth > 0 && FOwner == self) {
    ++FDepth;
    return;
  }
  FCv.wait(lock, [this] { return FDepth == 0; });
  FOwner = self;
  FDepth = 1;
}

bool TCriticalSection::TryEnter() {
  const auto self = std::this_thread::get_id();
  std::lock_guard<std::mutex> lock(FMutex);
  if (FDepth > 0 && FOwner != self) return false;
  FOwner = self;
  ++FDepth;
  return true;
}

void TCriticalSection::Leave() {
  std::lock_guard<std::mutex> lock(FMutex);
  if (FDepth == 0 || FOwner != std::this_thread::get_id()) return;
  if (--FDepth == 0) {
    FOwner = std::thread::id();
    FCv.notify_one();
  }
}

bool TCriticalSection::HeldByCurrentThread() const {
  std::lock_guard<std::mutex> lock(FMutex);
  return FDepth > 0 && FOwner == std::this_thread::get_id();
}

int TCriticalSection::Depth() const {
  std::lock_guard<std::mutex> lock(FMutex);
  return FDepth > 0 && FOwner == std::this_thread::get_id() ? FDepth : 0;
}

int TCriticalSection::ReleaseAll() {
  std::lock_guard<std::mutex> lock(FMutex);
  if (FDepth == 0 || FOwner != std::this_thread::get_id()) return 0;
  const int held = FDepth;
  FDepth = 0;
  FOwner = std::thread::id();
  FCv.notify_one();
  return held;
}

void TCriticalSection::Reacquire(int depth) {
  if (depth <= 0) return;
  Enter();
  std::lock_guard<std::mutex> lock(FMutex);
  FDepth += depth - 1;
}

}  // namespace orb
