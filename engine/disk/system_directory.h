#pragma once

#include <cstdint>
#include <vector>

#include "engine/disk/internal_file.h"

namespace orb {

class TORBPageManager;

// Kinds of database-wide internal files.
enum TORBDBFileType : uint8_t {
  dbftUnknown = 0,
  dbftTablesList = 1,
  dbftActiveSessionsList = 2,
};

// One directory entry.
//
// Stored form (little-endian, packed), 5 bytes:
// | offset | size | type  | meaning                                        |
// |      0 |    1 | uint8 | FileID: TORBDBFileType of the file             |
// |      1 |    4 | int32 | FirstPageNo: first page of that file's chain   |
struct TORBSystemDirectoryListItem {
  static constexpr int32_t kSize = 5;

  TORBDBFileType FileID = dbftUnknown;
  int32_t FirstPageNo = -1;

  bool operator==(const TORBSystemDirectoryListItem&) const = default;
};

// The directory of database-wide internal files: a transacted internal
// file of page type 4 whose first page is always page 2. Its contents are
// the entries back to back, uncompressed: entry i at contents position 5i,
// StoredSize = UncompressedSize = 5 * count. A trailing partial entry is
// ignored on load. A new database holds two entries, in this order:
// (dbftActiveSessionsList, its first page), (dbftTablesList, its first
// page). Read and written by the system session.
class TORBSystemDirectory {
 public:
  static constexpr int32_t kSystemDirectoryPageNo = 2;

  explicit TORBSystemDirectory(TORBPageManager* page_manager);

  // Creates the empty directory file. 30392 unless it lands on page 2.
  void CreateDirectory();
  // Opens the file at page 2 and reads all entries.
  void LoadDirectory();
  // Writes all entries.
  void SaveDirectory();
  // Appends an entry (in memory).
  void CreateFile(TORBDBFileType file_type, int32_t first_page);
  // First page of the first entry of the type, or -1.
  int32_t GetFileFirstPageNo(TORBDBFileType file_type) const;

  const std::vector<TORBSystemDirectoryListItem>& FileList() const { return FFileList; }

 private:
  TORBPageManager* LPageManager;
  TORBInternalDBTransactedAccessFile FHandle;
  std::vector<TORBSystemDirectoryListItem> FFileList;
};

}  // namespace orb
