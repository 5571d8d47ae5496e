#pragma once

// The handle of a session component: an opaque token that engine sessions
// carry (TORBBaseSession::FSessionComponentManager) so that a database
// handle can be checked to belong to the session it is handed to. The
// default session uses one engine-wide handle, made by InitializeORBEngine
// and freed by FinalizeORBEngine; every other active session has its own
// (ORBStartSession / ORBCloseSession). One handle is current engine-wide
// (not per thread); whoever works with a session makes its handle current
// under the global session lock (TORBSession::LockSession).

#include <cstdint>
#include <memory>

namespace orb {

class TORBSessionComponentManager {
 public:
  TORBSessionComponentManager();
  TORBSessionComponentManager(const TORBSessionComponentManager&) = delete;
  TORBSessionComponentManager& operator=(const TORBSessionComponentManager&) = delete;

  // Distinct for every handle made in the process (from 1).
  int64_t Number() const { return FNumber; }

 private:
  int64_t FNumber;
};

// Makes the engine-wide handle once and makes it current; later calls do
// nothing.
void InitializeORBEngine();
// Frees the engine-wide handle (the current handle is cleared when it was
// that one).
void FinalizeORBEngine();
// The engine-wide handle, or null before InitializeORBEngine.
TORBSessionComponentManager* ORBEngineHandle();
// The current handle; 20007 "Database Engine is not initialized" when none.
TORBSessionComponentManager* ORBGetCurrentSession();
void ORBSetCurrentSession(TORBSessionComponentManager* handle);
// A new handle of its own for a session other than the default one.
std::unique_ptr<TORBSessionComponentManager> ORBStartSession();
// Frees a handle from ORBStartSession; the current handle is cleared when
// it was that one.
void ORBCloseSession(std::unique_ptr<TORBSessionComponentManager> handle);

}  // namespace orb
