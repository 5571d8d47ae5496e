#pragma once

// The record index: a B-tree (page type 12) whose leaf entries pair a key
// built from a record's index columns (TORBRecordKeyRef) with the record's
// ID (6 bytes, TORBPageItemID). Declared and temporary indexes alike.

#include <cstdint>
#include <memory>

#include "engine/data/index.h"
#include "engine/data/record_key_ref.h"
#include "engine/table/key_path.h"

namespace orb {

class TORBPageManager;
class TORBBTreePage;

// A place in the tree: a key path.
class TORBBTreeIndexPosition : public TORBIndexPosition {
 public:
  void Assign(const TORBIndexPosition& source) override;
  TORBKeyPath Path;
};

// The state of one range scan.
class TORBBTreeSearchInfo : public TORBIndexSearchInfo {
 public:
  bool GoForward = true;
  // The scan has started.
  bool IsFilled = false;
  // The last entry in range in scan direction, when HasEndKeyPath.
  bool HasEndKeyPath = false;
  TORBKeyPath EndKeyPath;
  TORBKeyPath CurrentKeyPath;
};

class TORBBTreeRecordIndex : public TORBIndex {
 public:
  TORBBTreeRecordIndex(const TORBIndexDef& index_def, TORBBaseIndexManager* index_manager);
  ~TORBBTreeRecordIndex() override;

  // A new root; with a cursor the table's records are loaded bottom-up
  // (keys sorted first). Entries that cannot fit three to a page raise
  // 30650 before any page is taken; a unique index over records with equal
  // keys raises 30741 and leaves no page behind.
  void CreateIndex(TORBCursorInterface* cursor, const TORBIndexDef& index_def) override;
  void DropIndex(int32_t session_id) override;
  void EmptyIndex(int32_t session_id) override;
  void OpenIndex(const TORBIndexDef& index_def) override;
  void RebuildTemporaryIndex(TORBCursorInterface* cursor) override;

  void GetRecordBuffer(int32_t session_id, TORBNavigationInfo& navigation_info, TORBIndexPositionCache* cache,
                       int32_t table_state) override;
  void GetClosestRecordBuffer(int32_t session_id, TORBNavigationInfo& navigation_info,
                              TORBIndexPositionCache* cache, int32_t table_state) override;

  std::unique_ptr<TORBIndexPosition> CreateIndexPosition() override;
  bool GetIndexPosition(int32_t session_id, const TORBPageItemID& record_id, const uint8_t* record_buffer,
                        TORBIndexPosition& position) override;
  int CompareRecordPositionsInIndex(const TORBIndexPosition& position1, const TORBIndexPosition& position2) override;
  int64_t GetRecNoByRecordID(int32_t session_id, const TORBPageItemID& record_id,
                             const uint8_t* record_buffer) override;
  TORBPageItemID GetRecordIDByRecNo(int32_t session_id, int64_t rec_no) override;
  void ApplyDistinctToRecordBitmap(int32_t session_id, TORBRecordBitmap* bitmap,
                                   int32_t distinct_field_count) override;

  std::unique_ptr<TORBIndexSearchInfo> CreateSearchInfo() override;
  bool FindRecord(int32_t session_id, bool restart, bool go_forward, const TORBScanCondition* start_condition,
                  const TORBScanCondition* end_condition, uint8_t* record_buffer, TORBPageItemID& record_id,
                  TORBIndexSearchInfo* search_info) override;
  int CompareRecordBuffersByIndex(const uint8_t* record_buffer1, const uint8_t* record_buffer2,
                                  int32_t field_count) override;
  int CompareConditions(const TORBScanCondition& condition1, const TORBScanCondition& condition2) override;
  int64_t GetApproxRangeRecordCount(int32_t session_id, int64_t table_record_count,
                                    const TORBScanCondition* condition1,
                                    const TORBScanCondition* condition2) override;

  bool CanInsertRecord(int32_t session_id, const uint8_t* record_buffer) override;
  bool CanUpdateRecord(int32_t session_id, const uint8_t* old_record_buffer,
                       const uint8_t* new_record_buffer) override;
  // A unique or primary index refuses a key it holds already (30740),
  // before changing anything.
  void InsertRecord(TORBCursorInterface* cursor) override;
  void DeleteRecord(TORBCursorInterface* cursor) override;
  void UpdateRecord(TORBCursorInterface* cursor, bool before_new_record_is_stored) override;

  int64_t GetMaxEntriesPerPage() override;
  void GetRecordIDByIndexPosition(int32_t session_id, const TORBIndexPosition& position,
                                  TORBPageItemID& record_id) override;
  int64_t GetBitNoByIndexPosition(const TORBIndexPosition& position) override;
  void GetIndexPositionByBitNo(int64_t bit_no, TORBIndexPosition& position) override;

  // Tree checks (20028 at the first violation) and shape.
  void CheckIntegrity(int32_t session_id);
  int32_t GetDepth(int32_t session_id);
  TORBRecordKeyRef& KeyRef() { return *FKeyRef; }
  // Insertions that went straight to the remembered leaf, since creation.
  int64_t LeafHintInserts() const { return FLeafHintInserts; }

 private:
  TORBPageManager* PageManager() const;
  // The root page held, or `invalid_page_code` ("Invalid page number")
  // without one.
  TORBBTreePage GetRoot(int32_t session_id, int32_t invalid_page_code);
  bool IsUnique() const { return FIndexDef.FUnique || FIndexDef.FPrimary; }
  void BuildKeyRef();
  // Fills the new empty tree from the table's records.
  void LoadRecords(int32_t session_id);
  // Reads the record of the leaf entry at `path` into the navigation info
  // and fills the cache.
  void ReadAtPath(int32_t session_id, const TORBKeyPath& path, TORBNavigationInfo& navigation_info,
                  TORBIndexPositionCache* cache, int32_t table_state);
  // Key of a scan condition searched with FindByCondition (compare state
  // set by the caller's saver).
  bool FindByScanCondition(int32_t session_id, TORBBTreePage& root, const TORBScanCondition& condition, bool first,
                           TORBKeyPath& path);

  // The leaf the last insertion by descent went to: a leaf of the tree
  // rooted at RootPageNo, private to Session when PageManager's apply
  // count was ApplyCount (see TORBBTreePage::InsertAtLeafHint).
  struct TLeafHint {
    const TORBPageManager* PageManager = nullptr;
    int32_t Session = -1;
    int32_t RootPageNo = -1;
    int32_t LeafPageNo = -1;
    uint64_t ApplyCount = 0;
  };

  std::unique_ptr<TORBRecordKeyRef> FKeyRef;
  TLeafHint FLeafHint;
  int64_t FLeafHintInserts = 0;
};

}  // namespace orb
