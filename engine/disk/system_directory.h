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

// One directory entry, 5 bytes packed: uint8 file type, int32 first page.
struct TORBSystemDirectoryListItem {
  static constexpr int32_t kSize = 5;

  TORBDBFileType FileID = dbftUnknown;
  int32_t FirstPageNo = -1;

  bool operator==(const TORBSystemDirectoryListItem&) const = default;
};

// The directory of database-wide internal files: a transacted internal
// file whose first page is always page 2, holding an array of entries,
// uncompressed. Read and written by the system session.
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
