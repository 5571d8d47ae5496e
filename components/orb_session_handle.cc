#include "components/orb_session_handle.h"

#include <atomic>

#include "engine/base/orb_exception.h"

namespace orb {

namespace {

std::atomic<int64_t> g_last_number{0};
// Changed only under the global session lock; read from any thread.
std::atomic<TORBSessionComponentManager*> g_current{nullptr};

// A plain pointer, never destroyed at exit: the session list, destroyed
// later than any function-local static made after it, still finalises it.
TORBSessionComponentManager* g_engine_handle = nullptr;

void ForgetIfCurrent(TORBSessionComponentManager* handle) {
  TORBSessionComponentManager* expected = handle;
  g_current.compare_exchange_strong(expected, nullptr);
}

}  // namespace

TORBSessionComponentManager::TORBSessionComponentManager() : FNumber(++g_last_number) {}

void InitializeORBEngine() {
  if (g_engine_handle != nullptr) return;
  g_engine_handle = new TORBSessionComponentManager();
  g_current = g_engine_handle;
}

void FinalizeORBEngine() {
  if (g_engine_handle == nullptr) return;
  ForgetIfCurrent(g_engine_handle);
  delete g_engine_handle;
  g_engine_handle = nullptr;
}

TORBSessionComponentManager* ORBEngineHandle() { return g_engine_handle; }

TORBSessionComponentManager* ORBGetCurrentSession() {
  TORBSessionComponentManager* current = g_current;
  if (current == nullptr) RaiseORB(20007, "Database Engine is not initialized");
  return current;
}

void ORBSetCurrentSession(TORBSessionComponentManager* handle) { g_current = handle; }

std::unique_ptr<TORBSessionComponentManager> ORBStartSession() {
  return std::make_unique<TORBSessionComponentManager>();
}

void ORBCloseSession(std::unique_ptr<TORBSessionComponentManager> handle) {
  if (handle) ForgetIfCurrent(handle.get());
}

}  // namespace orb
