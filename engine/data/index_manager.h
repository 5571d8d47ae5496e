#pragma once

// The indexes of one table: their definitions, the open index objects,
// temporary indexes, and the upkeep of every index when records change.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/base/index_defs.h"
#include "engine/data/navigation_info.h"

namespace orb {

class TORBCursorInterface;
class TORBIndex;
class TORBPageManager;
class TORBTableData;
class TStream;
struct TORBIndexPositionCache;

inline constexpr int32_t kErrIndexNotFound = 20018;

// Called under the table data's lock.
class TORBBaseIndexManager {
 public:
  // `temporary_page_manager` (borrowed, may be null) stores temporary
  // indexes.
  TORBBaseIndexManager(TORBTableData* table_data, TORBPageManager* temporary_page_manager);
  // Closes all open indexes.
  virtual ~TORBBaseIndexManager();
  TORBBaseIndexManager(const TORBBaseIndexManager&) = delete;
  TORBBaseIndexManager& operator=(const TORBBaseIndexManager&) = delete;

  virtual void LoadMetadata(TStream& stream);
  virtual void SaveMetadata(TStream& stream) const;
  // Replaces the definitions by a copy of `index_defs`.
  virtual void CreateIndexDefs(const TORBIndexDefs& index_defs);
  // The index object for a definition: the table data's, else for a
  // B-tree definition the B-tree record index.
  virtual std::unique_ptr<TORBIndex> CreateIndexObject(const TORBIndexDef& index_def);

  TORBIndexDefs& IndexDefs() { return FIndexDefs; }
  const TORBIndexDefs& IndexDefs() const { return FIndexDefs; }
  TORBTableData* TableData() const { return FTableData; }
  // The temporary page manager for a temporary index, else the table's.
  TORBPageManager* GetPageManager(const TORBIndex& index) const;

  // Builds every defined index.
  void CreateIndexesByIndexDefs(TORBCursorInterface* cursor);
  // Appends a copy of the definition with a new object ID and builds the
  // index; on failure no definition stays behind. Returns the ID.
  int32_t CreateIndex(TORBCursorInterface* cursor, const TORBIndexDef& index_def);
  // A new temporary index of the cursor's session over the lists.
  int32_t CreateTemporaryIndex(TORBCursorInterface* cursor, const std::vector<std::u16string>& field_names,
                               const std::vector<std::u16string>& asc_desc_list,
                               const std::vector<std::u16string>& case_sensitivity_list);
  int32_t FindIndex(TORBCursorInterface* cursor, const std::vector<std::u16string>& field_names,
                    const std::vector<std::u16string>& asc_desc_list,
                    const std::vector<std::u16string>& case_sensitivity_list) const;
  bool IsIndexExists(TORBCursorInterface* cursor, const std::vector<std::u16string>& field_names,
                     const std::vector<std::u16string>& asc_desc_list,
                     const std::vector<std::u16string>& case_sensitivity_list) const {
    return FindIndex(cursor, field_names, asc_desc_list, case_sensitivity_list) != -1;
  }
  int32_t FindOrCreateIndex(TORBCursorInterface* cursor, const std::vector<std::u16string>& field_names,
                            const std::vector<std::u16string>& asc_desc_list,
                            const std::vector<std::u16string>& case_sensitivity_list, bool& is_created);

  // The open index (opened and cached on first use); 20018 for an unknown
  // ID.
  TORBIndex* OpenIndex(int32_t index_id);
  void CloseIndex(int32_t index_id);
  void CloseAllIndexes();
  void DropIndex(int32_t session_id, int32_t index_id);
  void DropAllIndexes(int32_t session_id);
  // Drops the temporary indexes of the session.
  void DropTemporaryIndexes(int32_t session_id);
  void EmptyIndex(int32_t session_id, int32_t index_id);
  void EmptyAllIndexes(int32_t session_id);

  // Navigation through the index in navigation_info.IndexID: from a record
  // that no longer exists it continues at the nearest key.
  void GetRecordBuffer(int32_t session_id, TORBNavigationInfo& navigation_info, TORBIndexPositionCache* cache,
                       int32_t table_state);

  // Upkeep of every index for the cursor's current record. Each either
  // completes for all indexes or, when one index fails, undoes the indexes
  // already changed and re-raises.
  void InsertRecord(TORBCursorInterface* cursor);
  void UpdateRecord(TORBCursorInterface* cursor, bool before_new_record_is_stored);
  // False when the record was already gone (no index was touched).
  bool DeleteRecord(TORBCursorInterface* cursor);
  // Undo of a completed InsertRecord, UpdateRecord(before) and DeleteRecord
  // for every index; failures of single indexes are swallowed (the caller
  // is already failing).
  void UndoInsertRecord(TORBCursorInterface* cursor) noexcept;
  void UndoUpdateRecord(TORBCursorInterface* cursor, bool before_new_record_is_stored) noexcept;
  void UndoDeleteRecord(TORBCursorInterface* cursor) noexcept;

  // Rebuilds every temporary index whose state differs from the record
  // manager's; not re-entrant (returns at once while running).
  void SynchronizeTemporaryIndexes(TORBCursorInterface* cursor, bool& is_changed);
  // Index columns naming the field (in any letter case) take the new name.
  void RenameField(const std::u16string& field_name, const std::u16string& new_field_name);

 protected:
  // Copies the open index's definition (root page) back into the list.
  void StoreBuiltDef(TORBIndexDef& def, const TORBIndex& index);

  TORBTableData* FTableData;
  TORBIndexDefs FIndexDefs;
  std::vector<std::unique_ptr<TORBIndex>> FOpenIndexList;
  TORBPageManager* FPageManager;
  TORBPageManager* FTemporaryPageManager;
  bool FSynchronizingTemporaryIndexes = false;
};

}  // namespace orb
