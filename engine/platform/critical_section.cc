#include "engine/platform/critical_section.h"

namespace orb {

void TCriticalSection::Enter() {
  const auto self = std::this_thread::get_id();
  std::unique_lock<std::mutex> lock(mutex_);
  if (depth_ > 0 && owner_ == self) {
    ++depth_;
    return;
  }
  cv_.wait(lock, [this] { return depth_ == 0; });
  owner_ = self;
  depth_ = 1;
}

bool TCriticalSection::TryEnter() {
  const auto self = std::this_thread::get_id();
  std::lock_guard<std::mutex> lock(mutex_);
  if (depth_ > 0 && owner_ != self) return false;
  owner_ = self;
  ++depth_;
  return true;
}

void TCriticalSection::Leave() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (depth_ == 0 || owner_ != std::this_thread::get_id()) return;
  if (--depth_ == 0) {
    owner_ = std::thread::id();
    cv_.notify_one();
  }
}

bool TCriticalSection::HeldByCurrentThread() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return depth_ > 0 && owner_ == std::this_thread::get_id();
}

int TCriticalSection::Depth() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return depth_ > 0 && owner_ == std::this_thread::get_id() ? depth_ : 0;
}

int TCriticalSection::ReleaseAll() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (depth_ == 0 || owner_ != std::this_thread::get_id()) return 0;
  const int held = depth_;
  depth_ = 0;
  owner_ = std::thread::id();
  cv_.notify_one();
  return held;
}

void TCriticalSection::Reacquire(int depth) {
  if (depth <= 0) return;
  Enter();
  std::lock_guard<std::mutex> lock(mutex_);
  depth_ += depth - 1;
}

}  // namespace orb
