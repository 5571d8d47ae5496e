#include "engine/table/page_guard.h"

#include <cassert>
#include <utility>

#include "engine/table/page.h"
#include "engine/table/page_manager.h"

namespace orb {

TORBPageGuard::TORBPageGuard(TORBPageGuard&& other) noexcept
    : FManager(std::exchange(other.FManager, nullptr)), FPage(std::exchange(other.FPage, nullptr)) {}

TORBPageGuard& TORBPageGuard::operator=(TORBPageGuard&& other) noexcept {
  if (this != &other) {
    Release();
    FManager = std::exchange(other.FManager, nullptr);
    FPage = std::exchange(other.FPage, nullptr);
  }
  return *this;
}

int32_t TORBPageGuard::PageNo() const {
  assert(FPage != nullptr);
  return FPage->PageNo();
}

void TORBPageGuard::MarkDirty() {
  assert(FPage != nullptr);
  FPage->FIsDirty = true;
  ++FManager->FChangeCount;
}

void TORBPageGuard::Release() noexcept {
  if (FPage == nullptr) return;
  TORBPage* page = std::exchange(FPage, nullptr);
  std::exchange(FManager, nullptr)->ReleaseGuarded(page);
}

}  // namespace orb
