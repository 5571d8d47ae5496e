#include "engine/platform/critical_section.h"

namespace orb {

bool TCriticalSection::TryTakeFree() {
  std::thread::id none{};
  if (!FOwner.compare_exchange_strong(none, std::this_thread::get_id())) return false;
  FDepth = 1;
  return true;
}

void TCriticalSection::ReleaseOwner() {
  FDepth = 0;
  FOwner.store(std::thread::id());
  if (FWaiters.load() > 0) {
    // Taking the mutex orders this signal after a waiter's failed try.
    std::lock_guard<std::mutex> lock(FMutex);
    FCv.notify_one();
  }
}

void TCriticalSection::Enter() {
  if (FOwner.load() == std::this_thread::get_id()) {
    ++FDepth;
    return;
  }
  if (TryTakeFree()) return;
  std::unique_lock<std::mutex> lock(FMutex);
  FWaiters.fetch_add(1);
  while (!TryTakeFree()) FCv.wait(lock);
  FWaiters.fetch_sub(1);
}

bool TCriticalSection::TryEnter() {
  if (FOwner.load() == std::this_thread::get_id()) {
    ++FDepth;
    return true;
  }
  return TryTakeFree();
}

void TCriticalSection::Leave() {
  if (FOwner.load() != std::this_thread::get_id()) return;
  if (--FDepth == 0) ReleaseOwner();
}

bool TCriticalSection::HeldByCurrentThread() const { return FOwner.load() == std::this_thread::get_id(); }

int TCriticalSection::Depth() const { return HeldByCurrentThread() ? FDepth : 0; }

int TCriticalSection::ReleaseAll() {
  if (!HeldByCurrentThread()) return 0;
  const int held = FDepth;
  ReleaseOwner();
  return held;
}

void TCriticalSection::Reacquire(int depth) {
  if (depth <= 0) return;
  Enter();
  FDepth += depth - 1;
}

}  // namespace orb
