#include "engine/disk/rollback_journal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "engine/base/crc32.h"
#include "engine/base/error_codes.h"
#include "engine/base/orb_exception.h"
#include "engine/platform/byte_order.h"
#include "engine/platform/random.h"

namespace orb {
namespace {

void RaiseJournal(const std::string& path, const PlatformStatus& s) {
  RaiseORB(kErrJournalWrite, "Cannot write the rollback journal '%s'. Error code: %d. ErrorMessage: %s",
           {path, s.Code(), s.Text()});
}

uint32_t RecordCRC(uint32_t nonce, int32_t page_no, const uint8_t* image, size_t size) {
  uint8_t head[8];
  StoreU32LE(head, nonce);
  StoreI32LE(head + 4, page_no);
  return CRC32(CRC32(0, head, sizeof head), image, size);
}

// Flushes the folder holding `path`, so that a created or removed name in
// it survives a power loss.
PlatformStatus FlushFolderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return PlatformStatus::FromErrno(errno);
  PlatformStatus s;
  if (::fsync(fd) != 0) s = PlatformStatus::FromErrno(errno);
  ::close(fd);
  return s;
}

}  // namespace

bool TORBRollbackJournal::ReadHot(const std::string& database_path, int32_t page_size, TContents* contents) {
  const std::string path = PathFor(database_path);
  if (!TPlatformFile::Exists(path)) return false;
  TPlatformFile file;
  PlatformStatus s = file.Open(path, FileAccess::kRead, FileShare::kDenyNone, FileDisposition::kOpenExisting);
  if (s.Code() == ENOENT) return false;
  if (!s.Ok()) {
    RaiseORB(kErrJournalRead, "Cannot read the rollback journal '%s'. Error code: %d. ErrorMessage: %s",
             {path, s.Code(), s.Text()});
  }
  uint8_t header[kHeaderSize];
  size_t got = 0;
  s = file.ReadAt(0, header, sizeof header, &got);
  if (!s.Ok() || got != sizeof header) return false;
  if (std::memcmp(header, kSignature, sizeof kSignature) != 0) return false;
  if (CRC32(0, header, kHeaderSize - 4) != LoadU32LE(header + kHeaderSize - 4)) return false;
  if (page_size == 0) page_size = static_cast<int32_t>(LoadU32LE(header + 12));
  if (page_size <= 0 || static_cast<int32_t>(LoadU32LE(header + 12)) != page_size) return false;
  if (contents == nullptr) return true;
  const uint32_t nonce = LoadU32LE(header + 8);
  contents->FileSize = LoadI64LE(header + 16);
  std::memcpy(contents->DBHeader, header + 24, kDBHeaderSize);
  contents->Records.clear();
  std::vector<uint8_t> record(kRecordHeaderSize + static_cast<size_t>(page_size));
  for (int64_t at = kHeaderSize;; at += static_cast<int64_t>(record.size())) {
    got = 0;
    s = file.ReadAt(at, record.data(), record.size(), &got);
    if (!s.Ok() || got != record.size()) break;
    const int32_t page_no = LoadI32LE(record.data());
    const uint8_t* image = record.data() + kRecordHeaderSize;
    if (page_no < 0 || RecordCRC(nonce, page_no, image, page_size) != LoadU32LE(record.data() + 4)) break;
    contents->Records.push_back({page_no, std::vector<uint8_t>(image, image + page_size)});
  }
  return true;
}

void TORBRollbackJournal::Remove(const std::string& database_path, bool flush) {
  const std::string path = PathFor(database_path);
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) RaiseJournal(path, PlatformStatus::FromErrno(errno));
  if (flush) {
    PlatformStatus s = FlushFolderOf(path);
    if (!s.Ok()) RaiseJournal(path, s);
  }
}

void TORBRollbackJournal::Begin(const std::string& database_path, int32_t page_size, int64_t file_size,
                                const uint8_t (&db_header)[kDBHeaderSize]) {
  const std::string path = PathFor(database_path);
  if (FFile.IsOpen() && (FDatabasePath != database_path || !HandleIsAtPath(path))) FFile.Close();
  FDatabasePath = database_path;
  if (!FFile.IsOpen()) {
    PlatformStatus s =
        FFile.Open(path, FileAccess::kReadWrite, FileShare::kDenyNone, FileDisposition::kCreateAlways);
    if (!s.Ok()) RaiseJournal(path, s);
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
      const PlatformStatus failed = PlatformStatus::FromErrno(errno);
      FFile.Close();
      RaiseJournal(path, failed);
    }
    FDevice = static_cast<uint64_t>(st.st_dev);
    FInode = static_cast<uint64_t>(st.st_ino);
  }
  FNonce = static_cast<uint32_t>(RandomInt(INT32_MAX)) ^ (static_cast<uint32_t>(RandomInt(0xFFFF)) << 16);
  FPageSize = page_size;
  FPages.clear();
  FPending.assign(kHeaderSize, 0);
  std::memcpy(FPending.data(), kSignature, sizeof kSignature);
  StoreU32LE(FPending.data() + 8, FNonce);
  StoreU32LE(FPending.data() + 12, static_cast<uint32_t>(page_size));
  StoreI64LE(FPending.data() + 16, file_size);
  std::memcpy(FPending.data() + 24, db_header, kDBHeaderSize);
  StoreU32LE(FPending.data() + kHeaderSize - 4, CRC32(0, FPending.data(), kHeaderSize - 4));
  FWritten = 0;
  FActive = true;
}

void TORBRollbackJournal::Add(int32_t page_no, const uint8_t* image) {
  if (!FPages.insert(page_no).second) return;
  const size_t at = FPending.size();
  FPending.resize(at + kRecordHeaderSize + static_cast<size_t>(FPageSize));
  StoreI32LE(FPending.data() + at, page_no);
  StoreU32LE(FPending.data() + at + 4, RecordCRC(FNonce, page_no, image, static_cast<size_t>(FPageSize)));
  std::memcpy(FPending.data() + at + kRecordHeaderSize, image, static_cast<size_t>(FPageSize));
}

void TORBRollbackJournal::Write(bool flush) {
  if (FPending.empty()) return;
  PlatformStatus s = FFile.WriteAt(FWritten, FPending.data(), FPending.size());
  if (s.Ok()) {
    FWritten += static_cast<int64_t>(FPending.size());
    FPending.clear();
    if (flush) s = FFile.Flush();
  }
  if (!s.Ok()) RaiseJournal(FFile.Path(), s);
}

bool TORBRollbackJournal::HandleIsAtPath(const std::string& path) const {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && static_cast<uint64_t>(st.st_dev) == FDevice &&
         static_cast<uint64_t>(st.st_ino) == FInode;
}

void TORBRollbackJournal::Commit(bool flush) {
  FActive = false;
  FPending.clear();
  FPages.clear();
  // Emptying the file in place costs no folder change (creating and
  // removing a file for every commit cost more than the commit's writes).
  PlatformStatus s = FFile.SetSize(0);
  if (s.Ok() && flush) s = FFile.Flush();
  if (!s.Ok()) RaiseJournal(FFile.Path(), s);
}

void TORBRollbackJournal::Abandon() {
  FActive = false;
  FPending.clear();
  FPages.clear();
  FFile.Close();
}

void TORBRollbackJournal::Close(bool remove_if_empty) {
  if (!FFile.IsOpen()) return;
  int64_t size = -1;
  const bool empty = remove_if_empty && FFile.Size(&size).Ok() && size == 0 && !FActive &&
                     HandleIsAtPath(PathFor(FDatabasePath));
  FFile.Close();
  if (empty) ::unlink(PathFor(FDatabasePath).c_str());
  FActive = false;
}

}  // namespace orb
