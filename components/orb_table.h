#pragma once

// TORBTable: the dataset of one table. It opens the table's cursor on its
// database's engine session, keeps the field and index definitions it
// creates tables from, manages tables and indexes, and offers keyed search,
// ranges and master-detail linking over the active index.
//
// Keys and ranges use the key buffers of TORBDataSet: kiLookup for
// searches, kiRangeStart / kiRangeEnd for the range being set,
// kiCurRangeStart / kiCurRangeEnd for the range in force, kiSave to undo a
// key edit. Key values are set in the set-key state (SetKey, EditKey,
// SetRangeStart, …, then the index fields, then Post) or in one step
// (FindKey, SetRange).

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "components/data_source.h"
#include "components/index_defs.h"
#include "components/orb_dataset.h"

namespace orb {

class TORBTable : public TORBDataSet {
 public:
  explicit TORBTable(TComponent* owner = nullptr);
  ~TORBTable() override;

  const std::string& TableName() const { return FTableName; }
  // REQUIRES: closed (when the name changes).
  void SetTableName(std::string name);
  bool Exclusive() const { return FExclusive; }
  void SetExclusive(bool value);
  // The table lives in the temporary database: true also sets
  // DatabaseName "TEMP". REQUIRES: closed.
  bool Temporary() const { return FTemporary; }
  void SetTemporary(bool value);
  // Temporary tables of this table's cursor stay in memory (used when the
  // table's database is a temporary one; otherwise the database's setting
  // counts). REQUIRES: closed.
  bool DisableTempFiles() const { return FDisableTempFiles; }
  void SetDisableTempFiles(bool value);

  // How long table-lock attempts go on: the exclusive lock of AddIndex,
  // DeleteIndex and DeleteAllIndexes (then 20228), and the shared lock
  // that keyed moves and ranges take when they can (they go on without
  // it). Attempts are DelayMs apart.
  struct TLockRetry {
    int32_t ExclusiveTries = 50;
    int32_t SharedTries = 900;
    int32_t DelayMs = 100;
  };
  const TLockRetry& LockRetry() const { return FLockRetry; }
  void SetLockRetry(const TLockRetry& retry) { FLockRetry = retry; }
  bool StoreDefs() const { return FStoreDefs; }
  void SetStoreDefs(bool value) { FStoreDefs = value; }
  // The framework's index list: filled from the table when it opens, and
  // what CreateTable creates.
  TIndexDefs& IndexDefs() { return FIndexDefs; }
  // True when the database holds the table; false on any failure.
  bool Exists();
  // On a closed table: reads the table's field definitions (all three
  // forms) through a cursor opened for the purpose.
  void InitFieldDefs() override;

  // The active index by name, or by its fields ("a;b"); each reads empty
  // while the other is in use.
  std::string IndexName() const { return FFieldsIndex ? std::string() : FIndexName; }
  void SetIndexName(const std::string& name) { SetIndex(name, false); }
  std::string IndexFieldNames() const { return FFieldsIndex ? FIndexName : std::string(); }
  void SetIndexFieldNames(const std::string& names) { SetIndex(names, true); }
  // The field of index column `index` ("Field index out of range").
  TField& IndexFields(int index) const;

  // --- Table management ---

  // Creates the table (an existing table of that name is replaced) from
  // AdvFieldDefs and AdvIndexDefs, or from FieldDefs and IndexDefs when
  // those are empty, with a not-null constraint per required field, a
  // check per field with limits and a key constraint per primary or unique
  // index. REQUIRES: closed. 20182 inside a transaction.
  void CreateTable();
  // Closes first. 20183 inside a transaction.
  void DeleteTable();
  // REQUIRES: closed.
  void EmptyTable();
  // REQUIRES: closed. 20181 inside a transaction.
  void RenameTable(const std::string& new_name);
  // `fields` "a;b"; ixUnique, ixPrimary, ixDescending, ixCaseInsensitive.
  // `desc_fields` and `case_ins_fields` (same form) name the descending
  // and the case-insensitive columns; when empty, ixDescending and
  // ixCaseInsensitive apply to every column. Needs the exclusive table
  // lock (20228 when another user has the table). 20175 inside a
  // transaction.
  void AddIndex(const std::string& name, const std::string& fields, TIndexOptions options,
                const std::string& desc_fields = {}, const std::string& case_ins_fields = {});
  // Exclusive lock as for AddIndex. 20177 inside a transaction.
  void DeleteIndex(const std::string& name);
  // Exclusive lock as for AddIndex. 20178 inside a transaction.
  void DeleteAllIndexes();
  // Opens the table exclusively for the rename and closes it again.
  // REQUIRES: closed. 20179 inside a transaction.
  void RenameField(const std::string& old_name, const std::string& new_name);
  // Opens the table for repair: its record page index and newest-state
  // record are checked and rebuilt where damaged.
  void ValidateAndRepairMostUpdatedAndRecordPageIndex();

  // --- Open table (10311 / 10514 without cursor where noted) ---

  // Shows one record per distinct value of `field_names` through an index
  // over them (found or made): `asc_desc` holds "ASC" or "DESC" and
  // `case_sensitivity` "CASE" or "NO_CASE", one per field. The index
  // becomes IndexName.
  void ApplyDistinct(const std::vector<std::string>& field_names, const std::vector<std::string>& asc_desc,
                     const std::vector<std::string>& case_sensitivity);
  // Takes over `source`'s active index and distinct field count.
  void ApplyDistinct(TORBTable& source);
  // The name of an index over the fields (made, temporary, when none
  // fits); 10311.
  std::string FindOrCreateIndex(const std::vector<std::string>& field_names, const std::vector<std::string>& asc_desc,
                                const std::vector<std::string>& case_sensitivity, bool& is_created);
  // 10514.
  bool IndexExists(const std::vector<std::string>& field_names, const std::vector<std::string>& asc_desc,
                   const std::vector<std::string>& case_sensitivity);
  // The cursor's last auto-increment value of the field (visible number,
  // 0-based, or name).
  int64_t LastAutoincValue(int32_t field_no);
  int64_t LastAutoincValue(const std::string& field_name);
  // Whether another session holds the lock of the current record; false
  // without cursor.
  bool IsRecordLocked();

  // --- Keys ---

  void Post() override;
  void Cancel() override;
  void SetKey() { StartKeyEdit(kiLookup, true); }
  void EditKey() { StartKeyEdit(kiLookup, false); }
  bool GotoKey();
  void GotoNearest();
  bool FindKey(const std::vector<TORBVariant>& values);
  void FindNearest(const std::vector<TORBVariant>& values);
  // Only in set-key state ("Dataset not in edit or insert mode").
  bool KeyExclusive() const;
  void SetKeyExclusive(bool value);
  int32_t KeyFieldCount() const;
  void SetKeyFieldCount(int32_t value);

  // --- Ranges ---

  void SetRangeStart() { StartKeyEdit(kiRangeStart, true); }
  void SetRangeEnd() { StartKeyEdit(kiRangeEnd, true); }
  void EditRangeStart() { StartKeyEdit(kiRangeStart, false); }
  void EditRangeEnd() { StartKeyEdit(kiRangeEnd, false); }
  void ApplyRange();
  void SetRange(const std::vector<TORBVariant>& start_values, const std::vector<TORBVariant>& end_values);
  void CancelRange();

  // --- Master-detail ---

  // The detail shows the records whose first index fields equal the
  // master's MasterFields. A source leading back here is refused
  // ("Circular datalinks are not allowed").
  TDataSource* MasterSource() const { return FMasterLink.DataSource(); }
  void SetMasterSource(TDataSource* source);
  const std::string& MasterFields() const { return FMasterLink.FieldNames(); }
  void SetMasterFields(std::string names) { FMasterLink.SetFieldNames(std::move(names)); }
  TDataSource* GetDataSource() const override { return FMasterLink.DataSource(); }

 protected:
  void CreateHandle() override;
  void PrepareCursor() override;
  void DoOnNewRecord() override;

 private:
  // A cursor on the database's engine session for this table, not open.
  std::unique_ptr<TORBLocalCursor> NewCursor(bool exclusive) const;
  // Runs `fn` on the open cursor (browse mode, position saved) or on one
  // opened for the purpose, holding the database for index work, under
  // the exclusive table lock.
  template <typename Fn>
  void WithExclusiveIndexCursor(const char* operation, int32_t transaction_code, Fn&& fn);
  // Runs `fn` holding the shared table lock when it can be had.
  template <typename Fn>
  void WithSharedLock(Fn&& fn);
  // The active index is gone: none is active now.
  void ForgetActiveIndex();
  // Writes the defaults of memo and BLOB fields into a new record.
  void SetDefaultBlobFieldsValues();
  void CheckTableName() const;
  // kSNotEditing unless the table is in dsSetKey.
  void CheckSetKeyState() const;
  // Runs `fn` with a closed cursor on the table while the database is
  // held for table management.
  template <typename Fn>
  void WithTableCursor(TORBDBFlag reason, Fn&& fn);
  void RaiseInTransaction(int32_t code, const char* operation) const;
  // The index name for IndexName / IndexFieldNames (empty for none).
  std::string ResolveIndexName() const;
  void SetIndex(const std::string& value, bool fields_index);
  void ReadIndexDefs();
  void StartKeyEdit(TORBKeyIndex index, bool clear);
  void SetKeyFields(TORBKeyIndex index, const std::vector<TORBVariant>& values);
  TField* IndexField(int index) const;
  bool SearchKey(TORBSearchCondition condition);
  // Gives the cursor the edited range; true when it differs from the one
  // in force.
  bool SetCursorRange();
  void SetLinkRange();
  void MasterChanged();
  void MasterDisabled();

  std::string FTableName;
  bool FExclusive = false;
  bool FTemporary = false;
  bool FDisableTempFiles = false;
  bool FRepairing = false;
  TLockRetry FLockRetry;
  bool FStoreDefs = false;
  std::string FIndexName;
  bool FFieldsIndex = false;
  TIndexDefs FIndexDefs{this};
  TMasterDataLink FMasterLink{this};
};

}  // namespace orb
