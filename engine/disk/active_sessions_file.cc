#include "engine/disk/active_sessions_file.h"

#include <algorithm>

#include "engine/base/error_codes.h"
#include "engine/base/orb_exception.h"
#include "engine/disk/disk_page_manager.h"
#include "engine/table/page_header.h"

namespace orb {

namespace {

constexpr const char* kCannotUnlockSessionsFile = "Cannot unlock sessions file";

}  // namespace

// The sessions file's file lock, tried on construction. Release reports a
// failing unlock with its code; a hold still taken when the scope ends is
// released quietly.
class TORBActiveSessionsFile::FileLockHold {
 public:
  explicit FileLockHold(TORBActiveSessionsFile& file) : FFile(file) {
    FHeld = TryUsingTimeOut([this] { return FFile.FHandle.LockFile(); }, FFile.FFileLockTries,
                            FFile.FFileLockDelayMs);
  }
  ~FileLockHold() {
    if (!FHeld) return;
    try {
      FFile.FHandle.UnlockFile();
    } catch (...) {
    }
  }
  FileLockHold(const FileLockHold&) = delete;
  FileLockHold& operator=(const FileLockHold&) = delete;

  // Releases the lock if it was taken; `error_code` when that fails.
  void Release(int32_t error_code) {
    if (!FHeld) return;
    FHeld = false;
    if (!FFile.FHandle.UnlockFile()) RaiseORB(error_code, kCannotUnlockSessionsFile);
  }

 private:
  TORBActiveSessionsFile& FFile;
  bool FHeld = false;
};

TORBActiveSessionsFile::TORBActiveSessionsFile(TORBDiskPageManager* page_manager)
    : LPageManager(page_manager), FHandle(page_manager, kPageTypeActiveSessionList) {}

int32_t TORBActiveSessionsFile::CreateFile(int32_t max_session_count) {
  if (max_session_count <= 0) RaiseORB(kErrMaxSessionCount, "Invalid maximum number of sessions %d", {max_session_count});
  TORBInternalDBDirectAccessFile file(LPageManager, kPageTypeActiveSessionList);
  file.CreateFile(max_session_count);
  return file.GetStartPageNo();
}

void TORBActiveSessionsFile::OpenFile(int32_t first_page) {
  CloseFile();
  FHandle.OpenFile(first_page);
  if (!FHandle.IsOpen()) return;
  const int32_t stored = FHandle.GetSize();
  const int32_t count = std::min(stored, FHandle.GetFileSize());
  if (count <= 0) {
    FHandle.CloseFile();
    RaiseORB(kErrSessionsFileSize,
             "Invalid active sessions file. Probably database is corrupted and needs repair. StartPageNo=%d, Size=%d",
             {first_page, stored});
  }
  FMaxSessionCount = count;
}

void TORBActiveSessionsFile::CloseFile() {
  FHandle.CloseFile();
  FMaxSessionCount = 0;
  FSingleUser = false;
}

void TORBActiveSessionsFile::CheckOpen(const char* operation) const {
  if (!FHandle.IsOpen()) {
    RaiseORB(20156, "Cannot perform this operation (%s) on closed internal file", {operation});
  }
}

void TORBActiveSessionsFile::CheckSlot(int32_t slot) const {
  if (slot < 0 || slot >= FMaxSessionCount) {
    RaiseORB(kErrSessionSlot, "Invalid session slot %d. Maximum number of sessions is %d", {slot, FMaxSessionCount});
  }
}

int32_t TORBActiveSessionsFile::MultiUserConnect() {
  CheckOpen("MultiUserConnect");
  if (!LPageManager->GetMultiUser()) return 0;
  FileLockHold hold(*this);
  int32_t slot = -1;
  for (int32_t s = 0; s < FMaxSessionCount && slot < 0; ++s) {
    if (FHandle.LockByte(s)) slot = s;
  }
  if (slot < 0) {
    hold.Release(20093);
    RaiseORB(20094,
             "Cannot connect session. Maximum connections quantity exceeded or database is open in single-user mode");
  }
  try {
    hold.Release(20093);
  } catch (...) {
    // The caller never learns the slot: it must not stay taken.
    FHandle.UnlockByte(slot);
    throw;
  }
  return slot;
}

void TORBActiveSessionsFile::MultiUserDisconnect(int32_t session) {
  CheckOpen("MultiUserDisconnect");
  if (!LPageManager->GetMultiUser()) return;
  CheckSlot(session);
  FileLockHold hold(*this);
  if (!FHandle.UnlockByte(session)) RaiseORB(20095, "Cannot disconnect session");
  hold.Release(20096);
}

bool TORBActiveSessionsFile::LockAllSlots() {
  int32_t taken = 0;
  try {
    while (taken < FMaxSessionCount && FHandle.LockByte(taken)) ++taken;
  } catch (...) {
    for (int32_t s = 0; s < taken; ++s) FHandle.UnlockByte(s);
    throw;
  }
  if (taken == FMaxSessionCount) return true;
  for (int32_t s = 0; s < taken; ++s) FHandle.UnlockByte(s);
  return false;
}

bool TORBActiveSessionsFile::UnlockAllSlots() {
  bool ok = true;
  for (int32_t s = 0; s < FMaxSessionCount; ++s) {
    if (!FHandle.UnlockByte(s)) ok = false;
  }
  return ok;
}

bool TORBActiveSessionsFile::SingleUserConnect() {
  CheckOpen("SingleUserConnect");
  if (FSingleUser) return true;
  FileLockHold hold(*this);
  const bool connected = LockAllSlots();
  try {
    hold.Release(20240);
  } catch (...) {
    if (connected) UnlockAllSlots();
    throw;
  }
  FSingleUser = connected;
  return connected;
}

void TORBActiveSessionsFile::SingleUserDisconnect() {
  CheckOpen("SingleUserDisconnect");
  if (!FSingleUser) return;
  FileLockHold hold(*this);
  FSingleUser = false;
  UnlockAllSlots();
  hold.Release(20241);
}

int32_t TORBActiveSessionsFile::GetDBFileConnectionsCount() {
  CheckOpen("GetDBFileConnectionsCount");
  FileLockHold hold(*this);
  int32_t count = 0;
  // One probe of the whole file answers the common case of an idle file.
  if (FHandle.IsRegionLocked(0, FMaxSessionCount)) {
    for (int32_t s = 0; s < FMaxSessionCount; ++s) {
      if (FHandle.IsByteLocked(s)) ++count;
    }
  }
  hold.Release(30484);
  return count;
}

bool TORBActiveSessionsFile::IsSlotActive(int32_t slot) {
  CheckOpen("IsSlotActive");
  CheckSlot(slot);
  return FHandle.IsByteLocked(slot);
}

std::vector<int32_t> TORBActiveSessionsFile::GetActiveSlots() {
  CheckOpen("GetActiveSlots");
  std::vector<int32_t> slots;
  for (int32_t s = 0; s < FMaxSessionCount; ++s) {
    if (FHandle.IsByteLocked(s)) slots.push_back(s);
  }
  return slots;
}

}  // namespace orb
