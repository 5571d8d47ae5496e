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
  bool StoreDefs() const { return FStoreDefs; }
  void SetStoreDefs(bool value) { FStoreDefs = value; }
  // The framework's index list: filled from the table when it opens, and
  // what CreateTable creates.
  TIndexDefs& IndexDefs() { return FIndexDefs; }
  // True when the database holds the table; false on any failure.
  bool Exists();

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
  void AddIndex(const std::string& name, const std::string& fields, TIndexOptions options);
  void DeleteIndex(const std::string& name);

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
  bool FStoreDefs = false;
  std::string FIndexName;
  bool FFieldsIndex = false;
  TIndexDefs FIndexDefs{this};
  TMasterDataLink FMasterLink{this};
};

}  // namespace orb
