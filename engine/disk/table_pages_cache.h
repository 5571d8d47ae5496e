#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace orb {

class TORBPage;

// What one session knows about one table in the current lock period.
class TORBDTPCTableInfo {
 public:
  explicit TORBDTPCTableInfo(int32_t table_id) : TableID(table_id) {}

  // A lock of the kind was taken (S: ltS, else ltRW). The first lock of a
  // period forgets what was loaded before it.
  void Locked(bool s_lock);
  // A lock of the kind was released; the last one ends the period.
  void Unlocked(bool s_lock);
  // Only the first load of a lock period is remembered.
  void SetMostUpdatedLoaded(int32_t table_state);
  // No other process can commit changes to the table meanwhile.
  bool IsLockedFromModification() const { return TableSLockCount + TableRWLockCount > 0; }

  int32_t TableID;
  int32_t TableSLockCount = 0;
  int32_t TableRWLockCount = 0;
  bool IsMostUpdatedLoaded = false;
  int32_t TableState = -1;

 private:
  void ForgetLoadedState();
};

// The tables one session locks, loads and works with.
class TORBDTPCSessionInfo {
 public:
  // The table's info, created on first use.
  TORBDTPCTableInfo& GetTableInfo(int32_t table_id);
  // The table's info, or null when the session never used the table.
  const TORBDTPCTableInfo* FindTableInfo(int32_t table_id) const;

  void BeginWorkWithTable(int32_t table_id) { FWorkTableIDs.push_back(table_id); }
  // Removes the first occurrence of the table.
  void EndWorkWithTable(int32_t table_id);
  // Table worked with most recently, or -1 when none.
  int32_t CurrentWorkTable() const { return FWorkTableIDs.empty() ? -1 : FWorkTableIDs.back(); }

 private:
  std::vector<std::unique_ptr<TORBDTPCTableInfo>> FTableInfo;
  std::vector<int32_t> FWorkTableIDs;
};

// Decides when a cached page must be checked against the database file.
//
// While a session holds ltS or ltRW on a table, no other process can commit
// changes to that table, and the table state the session loaded in that
// lock period identifies the table's contents. A page that the session
// validated under that state (of that same table) is current without
// reading its stamp from the file. The page records the table id next to
// the state: states of different tables are unrelated counters, so a page
// that another table reused may carry an equal state and must not pass.
//
// Session ids run from -2 (system session) up. All calls come under the
// database's critical section.
class TORBDiskTablePagesCacheManager {
 public:
  void TableIsSLocked(int32_t session, int32_t table_id);
  void TableIsSUnlocked(int32_t session, int32_t table_id);
  void TableIsRWLocked(int32_t session, int32_t table_id);
  void TableIsRWUnlocked(int32_t session, int32_t table_id);

  bool GetIsMostUpdatedLoaded(int32_t session, int32_t table_id) const;
  void SetIsMostUpdatedLoaded(int32_t session, int32_t table_id, int32_t table_state);

  void BeginWorkWithTable(int32_t session, int32_t table_id);
  void EndWorkWithTable(int32_t session, int32_t table_id);

  // The state of the table the session works with now: true when the
  // session holds it locked from modification and has loaded its state.
  bool GetWorkTableState(int32_t session, int32_t& table_state) const;
  bool GetWorkTableState(int32_t session, int32_t& table_id, int32_t& table_state) const;

  // Hooks of the disk page manager. Single-user: every cached page is
  // current. Multi-user: current when the page was validated by the session
  // under the current state of the current work table.
  bool IsSafeNotToSyncPage(bool multi_user, int32_t session, const TORBPage& page) const;
  // Multi-user: records the current work table and its state on the page.
  void UpdatePageTableState(bool multi_user, int32_t session, TORBPage& page) const;

 private:
  // Raises 20186 for a session id below -2.
  TORBDTPCSessionInfo& GetSessionInfo(int32_t session);
  const TORBDTPCSessionInfo* FindSessionInfo(int32_t session) const;

  std::vector<std::unique_ptr<TORBDTPCSessionInfo>> FSessionInfo;
};

}  // namespace orb
