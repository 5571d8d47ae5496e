#pragma once

#include <cstdint>

#include "engine/base/page_item_id.h"
#include "engine/disk/internal_file.h"
#include "engine/disk/lock_type.h"

namespace orb {

class TORBDiskPageManager;

// A table's locks file: the lock bytes through which the sessions of every
// process take table and row locks on the table, and the row each session
// has locked. A direct-access internal file of page type 7 (internal_file.h)
// whose contents are 12 * M bytes, M being the maximum number of sessions.
//
// Stored form, first page of the chain (D = page size - 40, K = the
// contents bytes on the first page, min(12 * M, D - 10)):
// | offset | size | type  | meaning                                       |
// |      0 |   40 | bytes | page header, PageType 7; byte 0 is the file   |
// |        |      |       | lock (LockFile)                               |
// |     40 |    1 | uint8 | internal file header: HeaderLength 10         |
// |     41 |    4 | int32 | StoredSize: 12 * M                            |
// |     45 |    4 | int32 | UncompressedSize: 0                           |
// |     49 |    1 | uint8 | Algorithm: 0                                  |
// |     50 |    K | bytes | contents positions 0 .. K - 1 (below)         |
// Every further page: the 40-byte page header, then the next D contents
// bytes. Position p lies in chain page (p + 10) div D at page offset
// (p + 10) mod D + 40.
//
// Contents:
// | position       | size | meaning                                     |
// | t * M + s,     |    1 | lock byte: locked while session s holds a   |
// | t = 0 .. 4     |      | physical table lock of type t (ltIS, ltS,   |
// |                |      | ltSIRW, ltXIRW, ltRW)                       |
// | 5 * M + s      |    1 | row lock byte (type ltU): locked while      |
// |                |      | session s holds a row lock on the table     |
// | 6 * M + 6 * s  |    6 | TORBPageItemID of the row session s locked: |
// |                |      | PageNo int32, then PageItemNo uint16,       |
// |                |      | little-endian; meaningful only while its    |
// |                |      | row lock byte is locked                     |
// Lock bytes are written as 0 and never read. ltX has no byte: it is the
// file lock itself (byte 0 of the first page's page header, LockFile),
// which every process also takes briefly around each change of the
// table's lock bytes.
//
// When opened, M is (the stored size, but not more than the usable size)
// div 12; a file too small for one session raises kErrLocksFileSize. A
// session id not below M raises 20200.
class TORBTableLocksFile {
 public:
  static constexpr int32_t kBytesPerSession = 12;

  explicit TORBTableLocksFile(TORBDiskPageManager* page_manager);
  TORBTableLocksFile(const TORBTableLocksFile&) = delete;
  TORBTableLocksFile& operator=(const TORBTableLocksFile&) = delete;

  // Creates a file for `max_session_count` sessions through the system
  // session (it reaches the database when that session applies its
  // changes) and returns its first page; the object stays closed.
  // kErrMaxSessionCount unless 12 * M is a positive int32.
  int32_t CreateFile(int32_t max_session_count);
  // kErrLocksFileSize when the file is too small for one session.
  void OpenFile(int32_t first_page);
  void CloseFile();
  // Schedules the open file's pages for removal by the system session.
  void DeleteFile();
  bool IsOpen() const { return FHandle.IsOpen(); }
  // 10483 when closed.
  int32_t GetStartPageNo() const;
  int32_t GetMaxSessionCount() const { return FMaxSessionCount; }

  bool LockFile() { return FHandle.LockFile(); }
  bool UnlockFile() { return FHandle.UnlockFile(); }
  // Whether any session holds the file lock (ltX, or a change of the lock
  // bytes under way). A probe that cannot be answered reports "locked".
  bool IsFileLocked();

  int32_t GetTableLockByteNo(int32_t session, TORBLockType type) const { return type * FMaxSessionCount + session; }
  int32_t GetRecordLockByteNo(int32_t session) const { return ltU * FMaxSessionCount + session; }
  int32_t GetRecordLockRecordIDByteNo(int32_t session) const {
    return 6 * FMaxSessionCount + kPageItemIDSize * session;
  }

  // Locks the type's byte of the session; false when it cannot (ltX has no
  // byte: always false).
  bool LockTable(int32_t session, TORBLockType type);
  bool UnlockTable(int32_t session, TORBLockType type);
  // Whether another session holds the type's byte. With `own_byte_free`
  // (the caller knows the session's own byte is not locked) the whole row
  // is probed at once, else the slots below and above the session apart.
  // ltX: false.
  bool IsTableLockedByAnyOtherSession(int32_t session, TORBLockType type, bool own_byte_free = false);
  // Whether no other session holds a type incompatible with `type`; with
  // `allow_xirw_after_sirw` an ltXIRW request passes others' ltSIRW. Bit t
  // of `own_free_mask` says the session's own byte of type t is not locked
  // (see IsTableLockedByAnyOtherSession).
  bool IsTableLockAllowed(int32_t session, TORBLockType type, bool allow_xirw_after_sirw,
                          uint32_t own_free_mask = 0);

  // Locks the session's row lock byte and, once it is held, stores the row
  // id. An error while storing the id unlocks the byte again.
  bool LockRecord(int32_t session, const TORBPageItemID& record_id);
  // Unlocks the row lock byte; the stored id stays.
  bool UnlockRecord(int32_t session);
  // Whether another session holds a row lock on `record_id`: the stored
  // ids are read at once, and only the sessions whose id matches are
  // probed.
  bool IsRecordLockedByAnyOtherSession(int32_t session, const TORBPageItemID& record_id);
  // The id stored for the session (meaningful while its row byte is locked).
  TORBPageItemID ReadRecordID(int32_t session);

 private:
  void CheckOpen(int32_t code) const;
  void CheckSession(int32_t session) const;

  TORBDiskPageManager* LPageManager;
  TORBInternalDBDirectAccessFile FHandle;
  int32_t FMaxSessionCount = 0;
};

}  // namespace orb
