#pragma once

#include <cstdint>

namespace orb {

class TORBPage;
class TORBPageManager;

// Holds one use of a page obtained from TORBPageManager::GetPageGuard or
// AddPageGuard and puts it back when it goes out of scope, also when an
// exception unwinds through it. Movable, not copyable: a moved-from guard
// holds nothing and puts nothing back.
//
// REQUIRES: the guard does not outlive its manager, and it is released on
// the thread and under the lock its page was obtained under.
class TORBPageGuard {
 public:
  TORBPageGuard() = default;
  ~TORBPageGuard() { Release(); }
  TORBPageGuard(TORBPageGuard&& other) noexcept;
  // Puts back the page held so far, then takes over `other`'s.
  TORBPageGuard& operator=(TORBPageGuard&& other) noexcept;
  TORBPageGuard(const TORBPageGuard&) = delete;
  TORBPageGuard& operator=(const TORBPageGuard&) = delete;

  explicit operator bool() const { return FPage != nullptr; }
  // REQUIRES: the guard holds a page.
  TORBPage* operator->() const { return FPage; }
  TORBPage& operator*() const { return *FPage; }
  TORBPage* Get() const { return FPage; }
  int32_t PageNo() const;

  // Records that the buffer now differs from the stored page: when put
  // back the page becomes private to its session until it applies or
  // cancels. REQUIRES: the guard holds a page.
  void MarkDirty();
  // Puts the page back now; the guard then holds nothing. No-op on an
  // empty guard.
  void Release() noexcept;

 private:
  friend class TORBPageManager;
  TORBPageGuard(TORBPageManager* manager, TORBPage* page) noexcept : FManager(manager), FPage(page) {}

  TORBPageManager* FManager = nullptr;
  TORBPage* FPage = nullptr;
};

}  // namespace orb
