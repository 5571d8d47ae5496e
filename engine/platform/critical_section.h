#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace orb {

// A re-entrant lock that records its owner and depth. A retry loop can
// release it fully while it sleeps (ReleaseAll) and take it back at the same
// depth afterwards (Reacquire).
//
// Fast paths: the owner re-enters and leaves inner levels by touching only
// FDepth; a free section is taken with one compare-exchange on FOwner; the
// condition variable is used only when a thread has to wait.
// Invariants:
// - FOwner equals a thread's id only while that thread holds the section, and
//   only that thread stores it or clears it; so a thread that reads its own id
//   there owns the section, whatever the other threads do.
// - FDepth is read and written only by the owner.
// - A waiter counts itself in FWaiters before it tries FOwner, and a leaving
//   owner clears FOwner before it reads FWaiters (all sequentially
//   consistent): either the waiter's try sees the section free or the owner
//   sees the waiter and signals it under FMutex, so no wake-up is lost.
class TCriticalSection {
 public:
  TCriticalSection() = default;
  TCriticalSection(const TCriticalSection&) = delete;
  TCriticalSection& operator=(const TCriticalSection&) = delete;

  void Enter();
  bool TryEnter();
  void Leave();

  // True when the calling thread holds the section.
  bool HeldByCurrentThread() const;
  // Depth of the calling thread's hold (0 when it does not hold it).
  int Depth() const;

  // Releases every level the calling thread holds and returns how many that
  // was (0 when it held none).
  int ReleaseAll();
  // Takes the section back `depth` times (no-op for 0).
  void Reacquire(int depth);

 private:
  bool TryTakeFree();
  // Clears the owner and wakes one waiter if there is any.
  void ReleaseOwner();

  std::atomic<std::thread::id> FOwner{};
  int FDepth = 0;
  std::atomic<int> FWaiters{0};
  std::mutex FMutex;
  std::condition_variable FCv;
};

// Scoped Enter/Leave.
class TCriticalSectionGuard {
 public:
  explicit TCriticalSectionGuard(TCriticalSection& cs) : FCs(cs) { FCs.Enter(); }
  ~TCriticalSectionGuard() { FCs.Leave(); }
  TCriticalSectionGuard(const TCriticalSectionGuard&) = delete;
  TCriticalSectionGuard& operator=(const TCriticalSectionGuard&) = delete;

 private:
  TCriticalSection& FCs;
};

// Scoped full release: leaves every level held by this thread and takes them
// back on destruction, e.g. around the sleep of a lock retry loop.
class TCriticalSectionRelease {
 public:
  explicit TCriticalSectionRelease(TCriticalSection& cs) : FCs(cs), FDepth(cs.ReleaseAll()) {}
  ~TCriticalSectionRelease() { FCs.Reacquire(FDepth); }
  TCriticalSectionRelease(const TCriticalSectionRelease&) = delete;
  TCriticalSectionRelease& operator=(const TCriticalSectionRelease&) = delete;

 private:
  TCriticalSection& FCs;
  int FDepth;
};

}  // namespace orb
