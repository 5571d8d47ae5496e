#pragma once

#include <cstdint>
#include <vector>

#include "engine/disk/internal_file.h"

namespace orb {

class TORBDiskPageManager;

// The active sessions file: one lock byte per session slot, shared by every
// process that has the database open. A slot is taken while its byte is
// locked; the byte values mean nothing. A direct-access internal file of
// page type 5 (internal_file.h) whose contents are M bytes, M being the
// maximum number of sessions of all processes together.
//
// Stored form, first page of the chain (D = page size - 40, K = the slot
// bytes on the first page, min(M, D - 10)):
// | offset | size | type  | meaning                                       |
// |      0 |   40 | bytes | page header, PageType 5; byte 0 is the file   |
// |        |      |       | lock (LockFile)                               |
// |     40 |    1 | uint8 | internal file header: HeaderLength 10         |
// |     41 |    4 | int32 | StoredSize: M                                 |
// |     45 |    4 | int32 | UncompressedSize: 0                           |
// |     49 |    1 | uint8 | Algorithm: 0                                  |
// |     50 |    K | bytes | slot bytes 0 .. K - 1: slot s is taken while  |
// |        |      |       | its byte is locked; written as 0, never read  |
// Every further page: the 40-byte page header, then the next D slot bytes.
// Slot s lies at contents position s (see internal_file.h for the page and
// offset of a position).
//
// When opened, M is the stored size, but not more than the file's usable
// size (a lone first page is usable whole, D - 10 bytes). A file that
// leaves no slot raises kErrSessionsFileSize.
//
// The file lock serialises connects and disconnects between processes. It
// is tried up to 4500 times 20 ms apart (SetFileLockRetries); a connect
// goes ahead without it when it cannot be had, and only a lock actually
// taken is released. No call leaves a slot byte locked that the caller
// does not get to know about: a connect that fails after locking its slot
// unlocks it again, and a single-user connect that cannot lock every slot
// releases the ones it took.
class TORBActiveSessionsFile {
 public:
  static constexpr int32_t kFileLockTries = 4500;
  static constexpr int32_t kFileLockDelayMs = 20;

  explicit TORBActiveSessionsFile(TORBDiskPageManager* page_manager);
  TORBActiveSessionsFile(const TORBActiveSessionsFile&) = delete;
  TORBActiveSessionsFile& operator=(const TORBActiveSessionsFile&) = delete;

  // Creates a file of `max_session_count` slots through the system session
  // (it reaches the database when that session applies its changes) and
  // returns its first page; the object stays closed. kErrMaxSessionCount
  // unless the count is positive.
  int32_t CreateFile(int32_t max_session_count);
  // kErrSessionsFileSize when the file has no slot.
  void OpenFile(int32_t first_page);
  void CloseFile();
  bool IsOpen() const { return FHandle.IsOpen(); }
  int32_t GetStartPageNo() const { return FHandle.GetStartPageNo(); }
  // M: the number of slots.
  int32_t GetMaxSessionCount() const { return FMaxSessionCount; }

  // Takes the lowest free slot and returns it as the session id; 0 without
  // taking anything when the database is not open for several users.
  // 20094 when every slot is taken (or a single-user process holds them).
  int32_t MultiUserConnect();
  // Frees the slot (20095 when it cannot be unlocked). Nothing happens
  // when the database is not open for several users.
  void MultiUserDisconnect(int32_t session);
  // Takes every slot, or none: false when any slot is taken by anyone.
  bool SingleUserConnect();
  // Frees every slot a SingleUserConnect took.
  void SingleUserDisconnect();
  bool IsSingleUserConnected() const { return FSingleUser; }

  // Slots that are taken, by any process (this one included).
  int32_t GetDBFileConnectionsCount();
  bool IsSlotActive(int32_t slot);
  std::vector<int32_t> GetActiveSlots();

  void SetFileLockRetries(int32_t tries, int32_t delay_ms) {
    FFileLockTries = tries;
    FFileLockDelayMs = delay_ms;
  }

 private:
  class FileLockHold;

  void CheckOpen(const char* operation) const;
  void CheckSlot(int32_t slot) const;
  // Locks slot 0, 1, ... M - 1; on a refusal or an error releases the
  // slots it took.
  bool LockAllSlots();
  // Unlocks every slot; false when any unlock failed.
  bool UnlockAllSlots();

  TORBDiskPageManager* LPageManager;
  TORBInternalDBDirectAccessFile FHandle;
  int32_t FMaxSessionCount = 0;
  bool FSingleUser = false;
  int32_t FFileLockTries = kFileLockTries;
  int32_t FFileLockDelayMs = kFileLockDelayMs;
};

}  // namespace orb
