#include "components/orb_session_list.h"

#include "components/orb_session.h"
#include <memory>

#include "engine/base/orb_exception.h"
#include "engine/platform/codepage.h"
#include "engine/platform/text_case.h"
#include "engine/session/database_registry.h"
#include "engine/table/memory_manager.h"

namespace orb {

TORBSessionList& TORBSessionList::Instance() {
  // What the sessions still use when the list destroys them at exit is
  // made first, so that it is destroyed after the list.
  static const bool engine_ready = [] {
    TORBDatabaseRegistry::Instance();
    MemoryManager();
    return true;
  }();
  (void)engine_ready;
  static TORBSessionList list;
  return list;
}

TORBSession* ORBDefaultSession() { return ORBSessions().DefaultSession(); }

TORBSessionList::TORBSessionList() {
  // Adds itself to this list and becomes the default session.
  new TORBSession(*this, TORBSession::TDefaultTag{});
}

TORBSessionList::~TORBSessionList() {
  try {
    CloseAll();
  } catch (...) {
    // Destructors never raise.
  }
}

int TORBSessionList::Count() const {
  std::lock_guard<std::recursive_mutex> guard(FListLock);
  return static_cast<int>(FSessions.size());
}

TORBSession* TORBSessionList::Sessions(int index) const {
  std::lock_guard<std::recursive_mutex> guard(FListLock);
  return FSessions.at(index);
}

TORBSession* TORBSessionList::FindSession(std::string_view name) const {
  if (name.empty()) return FDefaultSession;
  std::lock_guard<std::recursive_mutex> guard(FListLock);
  for (TORBSession* session : FSessions)
    if (SameName(Utf8ToAnsi(session->SessionName()), Utf8ToAnsi(name))) return session;
  return nullptr;
}

TORBSession* TORBSessionList::GetSessionByName(std::string_view name) const {
  TORBSession* session = FindSession(name);
  if (session == nullptr) RaiseORB(20002, "Invalid session name '%s'", {name});
  return session;
}

TORBSession* TORBSessionList::OpenSession(std::string_view name) {
  TCriticalSectionGuard lock(FSessionLock);
  TORBSession* session = FindSession(name);
  if (session == nullptr) {
    auto made = std::make_unique<TORBSession>();
    made->SetSessionName(std::string(name));
    session = made.release();
  }
  session->SetActive(true);
  return session;
}

std::vector<std::string> TORBSessionList::GetSessionNames() const {
  std::lock_guard<std::recursive_mutex> guard(FListLock);
  std::vector<std::string> names;
  for (const TORBSession* session : FSessions) names.push_back(session->SessionName());
  return names;
}

TORBSession* TORBSessionList::CurrentSession() const {
  TORBSessionComponentManager* current = nullptr;
  try {
    current = ORBGetCurrentSession();
  } catch (const EORBException&) {
    return nullptr;
  }
  std::lock_guard<std::recursive_mutex> guard(FListLock);
  for (TORBSession* session : FSessions)
    if (session->Handle() == current) return session;
  return nullptr;
}

void TORBSessionList::SetCurrentSession(TORBSession* session) {
  if (session != nullptr) session->MakeCurrent();
}

void TORBSessionList::CloseAll() {
  TCriticalSectionGuard lock(FSessionLock);
  for (;;) {
    TORBSession* last = nullptr;
    {
      std::lock_guard<std::recursive_mutex> guard(FListLock);
      if (FSessions.empty()) break;
      last = FSessions.back();
    }
    delete last;  // leaves the list
  }
}

int32_t TORBSessionList::TakeSessionNumber() {
  std::lock_guard<std::recursive_mutex> guard(FListLock);
  for (size_t i = 0; i < FSessionNumbers.size(); ++i) {
    if (!FSessionNumbers[i]) {
      FSessionNumbers[i] = true;
      return static_cast<int32_t>(i);
    }
  }
  FSessionNumbers.push_back(true);
  return static_cast<int32_t>(FSessionNumbers.size() - 1);
}

void TORBSessionList::ReturnSessionNumber(int32_t number) {
  std::lock_guard<std::recursive_mutex> guard(FListLock);
  if (number >= 0 && static_cast<size_t>(number) < FSessionNumbers.size()) FSessionNumbers[number] = false;
}

void TORBSessionList::AddSession(TORBSession* session) {
  std::lock_guard<std::recursive_mutex> guard(FListLock);
  if (FSessions.empty() && FDefaultSession == nullptr) {
    FDefaultSession = session;
    session->FDefault = true;
  }
  FSessions.push_back(session);
}

void TORBSessionList::RemoveSession(TORBSession* session) {
  std::lock_guard<std::recursive_mutex> guard(FListLock);
  std::erase(FSessions, session);
  if (FDefaultSession == session) FDefaultSession = nullptr;
}

}  // namespace orb
