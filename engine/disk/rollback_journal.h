#pragma once

// The rollback journal of a database file: `<file>-journal` beside it.
//
// A commit writes the stored image of every committed page it is about to
// overwrite into the journal, after a header that holds the database header
// and the file size as they were before the commit. Removing or emptying
// the journal is the commit point: a journal that still checks out when a
// database is opened (a "hot" journal) belongs to a commit that did not
// finish, and writing its images back returns the file to the state before
// that commit. See the commit notes in disk_page_manager.h.
//
// Journal header, kHeaderSize bytes (little-endian):
// | offset | size | field                                          |
// |      0 |    8 | kSignature "ORBJRNL" and a format byte 1        |
// |      8 |    4 | nonce, random per commit                       |
// |     12 |    4 | page size of the database                      |
// |     16 |    8 | size of the database file before the commit    |
// |     24 |   76 | database header before the commit (stored form) |
// |    100 |    4 | CRC32 of bytes 0 to 99                         |
//
// Then one record per page, kRecordHeaderSize + page size bytes:
// | offset | size      | field                                        |
// |      0 |         4 | page number                                  |
// |      4 |         4 | CRC32 of the nonce, the page number and the  |
// |        |           | image                                        |
// |      8 | page size | the page's stored bytes (encrypted when the  |
// |        |           | database is)                                 |
//
// Records are read in order up to the first one that does not check out
// (the end of a journal cut short by a crash): its page was not yet
// overwritten, since a record is complete before its page is written.

#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

#include "engine/disk/disk_header.h"
#include "engine/platform/file.h"

namespace orb {

class TORBRollbackJournal {
 public:
  static constexpr char kSignature[8] = {'O', 'R', 'B', 'J', 'R', 'N', 'L', 1};
  static constexpr size_t kHeaderSize = 104;
  static constexpr size_t kRecordHeaderSize = 8;

  // One page image of a journal read back.
  struct TRecord {
    int32_t PageNo = 0;
    std::vector<uint8_t> Image;
  };
  // What a hot journal says about the file before the unfinished commit.
  struct TContents {
    int64_t FileSize = 0;
    uint8_t DBHeader[kDBHeaderSize] = {};
    std::vector<TRecord> Records;
  };

  static std::string PathFor(const std::string& database_path) { return database_path + "-journal"; }

  // True when the journal of `database_path` exists with a header that
  // checks out for `page_size` (any page size when 0); with `contents` its
  // records are read too.
  // Reading errors other than a missing file raise 30647.
  static bool ReadHot(const std::string& database_path, int32_t page_size, TContents* contents);
  // Removes the journal file (a missing one is fine) and, with `flush`,
  // flushes the folder so that the removal survives a power loss. 30646 on
  // failure.
  static void Remove(const std::string& database_path, bool flush);

  TORBRollbackJournal() = default;
  TORBRollbackJournal(const TORBRollbackJournal&) = delete;
  TORBRollbackJournal& operator=(const TORBRollbackJournal&) = delete;

  // Starts the journal of one commit: creates (or reuses) the file and
  // writes its header. 30646 on failure.
  void Begin(const std::string& database_path, int32_t page_size, int64_t file_size,
             const uint8_t (&db_header)[kDBHeaderSize]);
  bool IsActive() const { return FActive; }
  // Whether the page's image is in the journal (or pending).
  bool Holds(int32_t page_no) const { return FPages.count(page_no) != 0; }
  // Queues the image of one page; Write puts it into the file.
  void Add(int32_t page_no, const uint8_t* image);
  // Writes the queued records; with `flush` the journal is then flushed
  // (fdatasync), so that no page it covers is overwritten before its old
  // image is durable. 30646 on failure.
  void Write(bool flush);
  // The commit point: the journal is emptied and its file stays open for
  // the next commit. With `flush` that step is made durable. 30646 on
  // failure.
  void Commit(bool flush);
  // Ends the journal of a commit that failed: the file stays as written
  // (hot) and the handle is closed.
  void Abandon();
  // Closes the handle. With `remove_if_empty` (no other process can be
  // using the journal) an empty journal file is removed too; a shared
  // file's empty journal stays, since another process's commit may have
  // started on it.
  void Close(bool remove_if_empty);

 private:
  // True when FFile is still the file at the journal's path: a recovery
  // by another process removes the journal file, and a later one is
  // another file.
  bool HandleIsAtPath(const std::string& path) const;

  std::string FDatabasePath;
  TPlatformFile FFile;
  // Device and inode of FFile when it was opened.
  uint64_t FDevice = 0;
  uint64_t FInode = 0;
  bool FActive = false;
  uint32_t FNonce = 0;
  int32_t FPageSize = 0;
  int64_t FWritten = 0;
  std::vector<uint8_t> FPending;
  std::unordered_set<int32_t> FPages;
};

}  // namespace orb
