#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/disk/internal_file.h"

namespace orb {

class TORBPageManager;

// One table of the database.
//
// Stored form (little-endian, packed), 272 bytes:
// | offset | size | type  | meaning                                        |
// |      0 |    1 | uint8 | name length L, at most 255                     |
// |      1 |  255 | bytes | TableName: L bytes in the 8-bit code page,     |
// |        |      |       | then zero bytes (not significant on load)      |
// |    256 |    4 | int32 | TableID: the table's object id                 |
// |    260 |    4 | int32 | MetaDataFilePageNo: first page of the table's  |
// |        |      |       | metadata file (page type 8)                    |
// |    264 |    4 | int32 | MostUpdatedFilePageNo: first page of the       |
// |        |      |       | most-updated file (page type 9)                |
// |    268 |    4 | int32 | LocksFilePageNo: first page of the table's     |
// |        |      |       | locks file (page type 7)                       |
struct TORBTableListItem {
  static constexpr int32_t kSize = 272;
  static constexpr int32_t kMaxNameLength = 255;

  std::string TableName;  // code page bytes
  int32_t TableID = 0;
  int32_t MetaDataFilePageNo = -1;
  int32_t MostUpdatedFilePageNo = -1;
  int32_t LocksFilePageNo = -1;

  bool operator==(const TORBTableListItem&) const = default;
};

// The tables of a database in the order they were added: a transacted
// internal file of page type 6 holding the entries back to back,
// uncompressed (entry i at contents position 272i; a trailing partial
// entry is ignored on load), read and written by the system session. A
// removed entry closes the gap. Names match when equal after upper-casing
// the ASCII letters only; the first match wins.
class TORBTableListFile {
 public:
  explicit TORBTableListFile(TORBPageManager* page_manager);

  // Creates an empty table list file and returns its first page; the
  // object stays closed.
  int32_t CreateFile();
  // 30393 when a file is open already.
  void OpenFile(int32_t first_page);
  void CloseFile();
  bool IsOpen() const { return FHandle != nullptr; }

  void Load();
  void Save();

  // 30395 when the name exists, 30394 for a name longer than 255 bytes.
  void AddTable(int32_t table_id, std::string_view name, int32_t metadata_page, int32_t most_updated_page,
                int32_t locks_page);
  // 30396 when absent.
  void OpenTable(std::string_view name, int32_t& table_id, int32_t& metadata_page, int32_t& most_updated_page,
                 int32_t& locks_page) const;
  // 30405 when absent; later entries move up.
  void RemoveTable(std::string_view name);
  // 30397 when absent, 30394 for a new name longer than 255 bytes.
  void RenameTable(std::string_view name, std::string_view new_name);
  bool TableExists(std::string_view name) const { return GetTableIndex(name) != -1; }
  int32_t GetTableIndex(std::string_view name) const;
  // Reloads the file and lists the names in entry order.
  void GetTablesList(std::vector<std::string>& list);

  const std::vector<TORBTableListItem>& Tables() const { return FTableList; }

  // Whether two stored names denote the same table.
  static bool SameTableName(std::string_view a, std::string_view b);

 private:
  void CheckOpened() const;

  TORBPageManager* LPageManager;
  std::unique_ptr<TORBInternalDBTransactedAccessFile> FHandle;
  std::vector<TORBTableListItem> FTableList;
};

}  // namespace orb
