#pragma once

// TORBSessionList: the process-wide list of session components. It exists
// from its first use to the end of the process (ORBSessions), after the
// database registry (made first, so it outlives the list), and starts with
// the default session, named "Default". It owns the global session lock,
// which serialises opening and creating databases, activating sessions,
// session numbering and changes of the database lists; the list itself has
// a lock of its own. Lock order: the global session lock, then the list's
// lock, then the engine's registry lock.

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "engine/platform/critical_section.h"

namespace orb {

class TORBSession;

class TORBSessionList {
 public:
  // The list of the process (made with the default session on first use).
  static TORBSessionList& Instance();

  TORBSessionList();
  // Destroys every session (CloseAll).
  ~TORBSessionList();
  TORBSessionList(const TORBSessionList&) = delete;
  TORBSessionList& operator=(const TORBSessionList&) = delete;

  // The global session lock (re-entrant).
  TCriticalSection& SessionLock() { return FSessionLock; }

  int Count() const;
  // REQUIRES: 0 <= index < Count().
  TORBSession* Sessions(int index) const;
  TORBSession* DefaultSession() const { return FDefaultSession; }
  // Empty name: the default session; else the first session of that name
  // (without regard to case), or null.
  TORBSession* FindSession(std::string_view name) const;
  // As FindSession; 20002 "Invalid session name '%s'" when there is none.
  TORBSession* GetSessionByName(std::string_view name) const;
  // The session of that name, made (owned by nobody) when missing, active.
  TORBSession* OpenSession(std::string_view name);
  std::vector<std::string> GetSessionNames() const;
  // The session whose handle is current, or null.
  TORBSession* CurrentSession() const;
  // Makes the session's handle current (activating it when inactive).
  void SetCurrentSession(TORBSession* session);
  // Destroys every session, the last first (the default one included).
  void CloseAll();

  // Session numbers for automatic session names: the lowest free one, and
  // giving one back. REQUIRES: the global session lock.
  int32_t TakeSessionNumber();
  void ReturnSessionNumber(int32_t number);

  // Called by sessions as they are made and destroyed.
  void AddSession(TORBSession* session);
  void RemoveSession(TORBSession* session);

 private:
  TCriticalSection FSessionLock;
  mutable std::recursive_mutex FListLock;
  std::vector<TORBSession*> FSessions;
  std::vector<bool> FSessionNumbers;
  TORBSession* FDefaultSession = nullptr;
};

// The process's session list and its default session.
inline TORBSessionList& ORBSessions() { return TORBSessionList::Instance(); }
TORBSession* ORBDefaultSession();

}  // namespace orb
