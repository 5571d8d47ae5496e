#include "components/orb_table.h"

#include <cstring>

#include "components/field.h"
#include "components/orb_database.h"
#include "engine/base/orb_exception.h"
#include "engine/base/stream.h"
#include "engine/platform/codepage.h"
#include "engine/platform/text_case.h"

namespace orb {

namespace {

constexpr std::string_view kSNoTableName = "Missing TableName property";
constexpr std::string_view kSIndexFieldMissing = "Cannot access index field '%s'";

std::string Trimmed(std::string_view text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  const size_t last = text.find_last_not_of(' ');
  return std::string(text.substr(first, last - first + 1));
}

}  // namespace

TORBTable::TORBTable(TComponent* owner) : TORBDataSet(owner) {
  FMasterLink.OnMasterChange = [this](TMasterDataLink&) { MasterChanged(); };
  FMasterLink.OnMasterDisable = [this](TMasterDataLink&) { MasterDisabled(); };
}

TORBTable::~TORBTable() {
  Destroying();
  FMasterLink.SetDataSource(nullptr);
}

void TORBTable::SetTableName(std::string name) {
  if (name == FTableName) return;
  CheckInactive();
  FTableName = std::move(name);
  DataEvent(dePropertyChange);
}

void TORBTable::SetExclusive(bool value) {
  CheckInactive();
  FExclusive = value;
}

void TORBTable::SetTemporary(bool value) {
  CheckInactive();
  FTemporary = value;
  if (value) SetDatabaseName("TEMP");
}

void TORBTable::SetDisableTempFiles(bool value) {
  CheckInactive();
  FDisableTempFiles = value;
}

void TORBTable::CheckTableName() const {
  if (Trimmed(FTableName).empty()) DatabaseError(std::string(kSNoTableName));
}

bool TORBTable::Exists() {
  if (DatabaseName().empty()) return false;
  try {
    const bool held = Database() != nullptr;
    if (!held) SetDBFlag(dbfTable, true);
    bool exists = false;
    try {
      exists = Database()->TableExists(FTableName);
    } catch (...) {
    }
    if (!held) SetDBFlag(dbfTable, false);
    return exists;
  } catch (...) {
    return false;
  }
}

std::unique_ptr<TORBLocalCursor> TORBTable::NewCursor(bool exclusive) const {
  auto cursor = std::make_unique<TORBLocalCursor>();
  cursor->FSession = Database()->Handle();
  cursor->FTableName = AnsiToWide(Trimmed(FTableName));
  cursor->FExclusive = exclusive;
  cursor->FReadOnly = ReadOnly() || Database()->ReadOnly();
  cursor->FInMemory = InMemory();
  cursor->FTemporary = FTemporary;
  // In-memory tables never spill; a database made on the table's behalf
  // has no setting of its own, so the table's counts there.
  cursor->FDisableTempFiles =
      InMemory() || (Database()->Temporary() ? FDisableTempFiles : Database()->DisableTempFiles());
  cursor->FIsRepairing = FRepairing;
  return cursor;
}

void TORBTable::RaiseInTransaction(int32_t code, const char* operation) const {
  if (Database()->InTransaction())
    RaiseORB(code, "Cannot perform '%s' operation on a database in a transaction", {Ansi(operation)});
}

template <typename Fn>
void TORBTable::WithTableCursor(TORBDBFlag reason, Fn&& fn) {
  SetDBFlag(reason, true);
  try {
    std::unique_ptr<TORBLocalCursor> cursor = NewCursor(true);
    cursor->FReadOnly = false;
    fn(*cursor);
  } catch (...) {
    SetDBFlag(reason, false);
    throw;
  }
  SetDBFlag(reason, false);
}

// --- opening ---

void TORBTable::CreateHandle() {
  CheckTableName();
  std::unique_ptr<TORBLocalCursor> cursor = NewCursor(FExclusive);
  // A missing table is never created here, whatever definitions are kept.
  cursor->OpenTableByFieldDefs(TORBFieldDefs(), TORBIndexDefs(), TORBConstraintDefs());
  SetReadOnlyState(cursor->FReadOnly);
  SetHandle(std::move(cursor));
  try {
    ReadIndexDefs();
    Handle()->SetIndexName(AnsiToWide(ResolveIndexName()));
  } catch (...) {
    DestroyHandle();
    throw;
  }
}

void TORBTable::InitFieldDefs() {
  if (Handle() != nullptr) return TORBDataSet::InitFieldDefs();
  SetDBFlag(dbfFieldList, true);
  try {
    CheckTableName();
    std::unique_ptr<TORBLocalCursor> cursor = NewCursor(FExclusive);
    cursor->OpenTableByFieldDefs(TORBFieldDefs(), TORBIndexDefs(), TORBConstraintDefs());
    SetHandle(std::move(cursor));
    TORBDataSet::InitFieldDefs();
    DestroyHandle();
  } catch (...) {
    DestroyHandle();
    SetDBFlag(dbfFieldList, false);
    throw;
  }
  SetDBFlag(dbfFieldList, false);
}

void TORBTable::ReadIndexDefs() {
  EngineToAdvIndexDefs(Handle()->GetIndexDefs(), AdvIndexDefs());
  AdvToHostIndexDefs(AdvIndexDefs(), FIndexDefs);
  FIndexDefs.SetUpdated(true);
}

std::string TORBTable::ResolveIndexName() const {
  if (FIndexName.empty()) return {};
  if (!FFieldsIndex) return FIndexName;
  return FIndexDefs.FindIndexForFields(FIndexName).Name();
}

void TORBTable::PrepareCursor() {
  if (FMasterLink.Active() && !FMasterLink.Fields().empty()) {
    SetLinkRange();
    SetCursorRange();
  }
}

// --- table management ---

void TORBTable::CreateTable() {
  CheckInactive();
  CheckTableName();
  WithTableCursor(dbfTable, [this](TORBLocalCursor& cursor) {
    // Definitions converted from the framework's are kept only once the
    // table exists, so that a refused creation takes corrected framework
    // definitions next time.
    TORBAdvFieldDefs& adv = AdvFieldDefs();
    const bool from_host = adv.Count() == 0;
    TORBAdvFieldDefs converted;
    if (from_host) {
      for (int i = 0; i < FieldDefs().Count(); ++i)
        if (FieldDefs()[i].DataType() == ftGuid) FieldDefs()[i].SetSize(38);
      HostToAdvFieldDefs(FieldDefs(), converted);
      CheckAdvFieldDefs(converted, FTableName);
    } else {
      AutoCorrectAdvFieldDefs(adv);
      CheckAdvFieldDefs(adv, FTableName);
      AdvToHostFieldDefs(adv, FieldDefs());
    }
    const TORBAdvFieldDefs& defs = from_host ? converted : adv;
    TORBAdvIndexDefs& adv_indexes = AdvIndexDefs();
    const bool indexes_from_host = adv_indexes.Count() == 0;
    TORBAdvIndexDefs converted_indexes;
    if (indexes_from_host)
      HostToAdvIndexDefs(FIndexDefs, converted_indexes);
    else
      AdvToHostIndexDefs(adv_indexes, FIndexDefs);
    TORBAdvIndexDefs& index_defs = indexes_from_host ? converted_indexes : adv_indexes;
    AutoCorrectAdvIndexDefs(index_defs, defs);
    TORBIndexDefs indexes;
    for (int32_t i = 0; i < index_defs.Count(); ++i) FillORBIndexDef(index_defs.Defs(i), &defs, *indexes.AddCreated());
    TORBFieldDefs fields;
    TORBConstraintDefs constraints;
    // Constraints are left out only for temporary tables, which this
    // component does not create.
    AdvToEngineFieldDefs(defs, indexes, /*temporary=*/false, fields, constraints);
    RaiseInTransaction(20182, "CreateTable");
    cursor.CreateTable(fields, indexes, constraints);
    if (from_host) adv.Assign(converted);
    if (indexes_from_host) adv_indexes.Assign(converted_indexes);
  });
}

void TORBTable::DeleteTable() {
  Close();
  CheckTableName();
  WithTableCursor(dbfTable, [this](TORBLocalCursor& cursor) {
    RaiseInTransaction(20183, "DeleteTable");
    cursor.DeleteTable();
  });
}

void TORBTable::EmptyTable() {
  CheckInactive();
  CheckTableName();
  WithTableCursor(dbfTable, [](TORBLocalCursor& cursor) { cursor.EmptyTable(); });
}

void TORBTable::RenameTable(const std::string& new_name) {
  CheckInactive();
  CheckTableName();
  WithTableCursor(dbfTable, [this, &new_name](TORBLocalCursor& cursor) {
    RaiseInTransaction(20181, "RenameTable");
    cursor.RenameTable(AnsiToWide(new_name));
  });
  FTableName = new_name;
}

template <typename Fn>
void TORBTable::WithExclusiveIndexCursor(const char* operation, int32_t transaction_code, Fn&& fn) {
  const auto locked = [&](TORBLocalCursor& cursor) {
    RaiseInTransaction(transaction_code, operation);
    if (!cursor.LockTable(ltX, FLockRetry.ExclusiveTries, FLockRetry.DelayMs, false))
      RaiseORB(20228, "Cannot access table '%s' in exclusive mode. Table is open by another user",
               {Ansi(FTableName)});
    try {
      fn(cursor);
    } catch (...) {
      cursor.UnlockTable(ltX, true);
      throw;
    }
    cursor.UnlockTable(ltX, true);
  };
  if (Active()) {
    CheckBrowseMode();
    UpdateCursorPos();
    SetDBFlag(dbfIndexList, true);
    try {
      locked(*Handle());
      ReadIndexDefs();
    } catch (...) {
      SetDBFlag(dbfIndexList, false);
      throw;
    }
    SetDBFlag(dbfIndexList, false);
    return;
  }
  CheckTableName();
  SetDBFlag(dbfIndexList, true);
  try {
    // Opened shared: another user's cursor on the table makes the
    // exclusive lock wait, not the open fail.
    std::unique_ptr<TORBLocalCursor> cursor = NewCursor(false);
    cursor->FReadOnly = false;
    cursor->OpenTableByFieldDefs(TORBFieldDefs(), TORBIndexDefs(), TORBConstraintDefs());
    locked(*cursor);
    cursor->CloseTable();
  } catch (...) {
    SetDBFlag(dbfIndexList, false);
    throw;
  }
  SetDBFlag(dbfIndexList, false);
  FIndexDefs.SetUpdated(false);
}

void TORBTable::AddIndex(const std::string& name, const std::string& fields, TIndexOptions options,
                         const std::string& desc_fields, const std::string& case_ins_fields) {
  TORBAdvIndexDef source;
  source.FName = name;
  source.FFields = fields;
  source.FOptions = options;
  source.FDescFields = desc_fields;
  source.FCaseInsFields = case_ins_fields;
  TORBIndexDef def;
  if (Trimmed(name).empty()) RaiseORB(20046, "Invalid index name '%s'", {Ansi(name)});
  if (SplitFieldNames(fields).empty()) RaiseORB(20047, "Cannot find index field '%s'", {Ansi(fields)});
  FillORBIndexDef(source, nullptr, def);
  WithExclusiveIndexCursor("AddIndex", 20175, [&](TORBLocalCursor& cursor) { cursor.AddIndex(def); });
}

void TORBTable::DeleteIndex(const std::string& name) {
  const bool active_index = !FIndexName.empty() && SameName(ResolveIndexName(), name);
  WithExclusiveIndexCursor("DeleteIndex", 20177,
                           [&](TORBLocalCursor& cursor) { cursor.DeleteIndex(AnsiToWide(name)); });
  if (active_index) ForgetActiveIndex();
}

void TORBTable::DeleteAllIndexes() {
  WithExclusiveIndexCursor("DeleteAllIndexes", 20178, [](TORBLocalCursor& cursor) { cursor.DeleteAllIndexes(); });
  if (!FIndexName.empty()) ForgetActiveIndex();
}

void TORBTable::ForgetActiveIndex() {
  // The cursor has let go of the index already.
  FIndexName.clear();
  FFieldsIndex = false;
  if (Active()) {
    UpdateIndexInfo();
    Resync(0);
  }
}

void TORBTable::RenameField(const std::string& old_name, const std::string& new_name) {
  CheckInactive();
  const bool exclusive = FExclusive;
  FExclusive = true;
  try {
    Open();
    RaiseInTransaction(20179, "RenameField");
    Handle()->RenameField(AnsiToWide(old_name), AnsiToWide(new_name));
    Close();
  } catch (...) {
    FExclusive = exclusive;
    Close();
    throw;
  }
  FExclusive = exclusive;
}

void TORBTable::ValidateAndRepairMostUpdatedAndRecordPageIndex() {
  CheckTableName();
  SetDBFlag(dbfRepair, true);
  FRepairing = true;
  try {
    std::unique_ptr<TORBLocalCursor> cursor = NewCursor(FExclusive);
    cursor->OpenTableByFieldDefs(TORBFieldDefs(), TORBIndexDefs(), TORBConstraintDefs());
    cursor->CloseTable();
  } catch (...) {
    FRepairing = false;
    SetDBFlag(dbfRepair, false);
    throw;
  }
  FRepairing = false;
  SetDBFlag(dbfRepair, false);
}

// --- open table ---

namespace {

std::vector<std::u16string> WideNames(const std::vector<std::string>& names) {
  std::vector<std::u16string> wide;
  wide.reserve(names.size());
  for (const std::string& name : names) wide.push_back(AnsiToWide(name));
  return wide;
}

}  // namespace

void TORBTable::ApplyDistinct(const std::vector<std::string>& field_names, const std::vector<std::string>& asc_desc,
                              const std::vector<std::string>& case_sensitivity) {
  TORBLocalCursor& cursor = CheckedHandle(10319);
  CheckBrowseMode();
  UpdateCursorPos();
  cursor.ApplyDistinct(WideNames(field_names), WideNames(asc_desc), WideNames(case_sensitivity));
  ReadIndexDefs();
  FIndexName = WideToAnsi(cursor.FIndexName);
  FFieldsIndex = false;
  UpdateIndexInfo();
  First();
}

void TORBTable::ApplyDistinct(TORBTable& source) {
  TORBLocalCursor& cursor = CheckedHandle(10319);
  TORBLocalCursor& other = source.CheckedHandle(10319);
  CheckBrowseMode();
  UpdateCursorPos();
  // The source's index may be one it made itself since this cursor read
  // the table's definitions.
  cursor.GetIndexDefs();
  cursor.SetIndexName(other.FIndexName);
  cursor.SetDistinctFieldCount(other.GetDistinctFieldCount());
  cursor.DisableRecordBitmap();
  ReadIndexDefs();
  FIndexName = WideToAnsi(other.FIndexName);
  FFieldsIndex = false;
  UpdateIndexInfo();
  First();
}

std::string TORBTable::FindOrCreateIndex(const std::vector<std::string>& field_names,
                                         const std::vector<std::string>& asc_desc,
                                         const std::vector<std::string>& case_sensitivity, bool& is_created) {
  TORBLocalCursor& cursor = CheckedHandle(10311);
  return WideToAnsi(
      cursor.FindOrCreateIndex(WideNames(field_names), WideNames(asc_desc), WideNames(case_sensitivity), is_created));
}

bool TORBTable::IndexExists(const std::vector<std::string>& field_names, const std::vector<std::string>& asc_desc,
                            const std::vector<std::string>& case_sensitivity) {
  TORBLocalCursor& cursor = CheckedHandle(10514);
  return cursor.IndexExists(WideNames(field_names), WideNames(asc_desc), WideNames(case_sensitivity));
}

int64_t TORBTable::LastAutoincValue(int32_t field_no) { return CheckedHandle(10299).LastAutoincValue(field_no); }

int64_t TORBTable::LastAutoincValue(const std::string& field_name) {
  CheckedHandle(10299);
  return LastAutoincValue(FieldByName(field_name).FieldNo() - 1);
}

bool TORBTable::IsRecordLocked() {
  TORBLocalCursor* cursor = Handle();
  if (cursor == nullptr || IsEmpty() || State() == dsInsert) return false;
  cursor->SetCurrentRecordBuffer(ActiveBuffer());
  return cursor->IsRecordLocked();
}

// --- the active index ---

void TORBTable::SetIndex(const std::string& value, bool fields_index) {
  if (Active()) CheckBrowseMode();
  if (value == FIndexName && fields_index == FFieldsIndex) return;
  const std::string old_name = FIndexName;
  const bool old_fields = FFieldsIndex;
  FIndexName = value;
  FFieldsIndex = fields_index;
  if (!Active()) return;
  try {
    SwitchToIndex(ResolveIndexName());
  } catch (...) {
    FIndexName = old_name;
    FFieldsIndex = old_fields;
    SwitchToIndex(ResolveIndexName());
    throw;
  }
  if (FMasterLink.Active() && !FMasterLink.Fields().empty()) {
    SetLinkRange();
    SetCursorRange();
    // The master's range decides what is visible now.
    First();
    return;
  }
  // The same record, now in the new index's order.
  Resync(0);
}

TField* TORBTable::IndexField(int index) const {
  if (index < 0 || index >= IndexFieldCount()) DatabaseError(std::string(kSFieldIndexError));
  const int32_t field_no = IndexFieldMap()[static_cast<size_t>(index)];
  for (int i = 0; i < Fields().Count(); ++i)
    if (Fields()[i].FieldNo() == field_no) return &Fields()[i];
  return nullptr;
}

TField& TORBTable::IndexFields(int index) const {
  TField* field = IndexField(index);
  if (field == nullptr) {
    const int32_t no = IndexFieldMap()[static_cast<size_t>(index)];
    DatabaseErrorFmt(kSIndexFieldMissing, {Ansi(no > 0 && no <= const_cast<TORBTable*>(this)->FieldDefs().Count()
                                                    ? const_cast<TORBTable*>(this)->FieldDefs()[no - 1].Name()
                                                    : std::to_string(no))});
  }
  return *field;
}

// --- keys ---

void TORBTable::StartKeyEdit(TORBKeyIndex index, bool clear) {
  CheckBrowseMode();
  FKeyBuffer = KeyBuffer(index);
  std::memcpy(KeyBuffer(kiSave), FKeyBuffer, static_cast<size_t>(Handle()->FKeyBufferSize));
  if (clear) InitKeyBuffer(FKeyBuffer);
  SetState(dsSetKey);
  SetModified(KeyModified(FKeyBuffer));
  DataEvent(deDataSetChange);
}

void TORBTable::Post() {
  TORBDataSet::Post();
  if (State() != dsSetKey) return;
  DataEvent(deCheckBrowseMode);
  SetKeyModified(FKeyBuffer, Modified());
  SetState(dsBrowse);
  DataEvent(deDataSetChange);
}

void TORBTable::Cancel() {
  TORBDataSet::Cancel();
  if (State() != dsSetKey) return;
  std::memcpy(FKeyBuffer, KeyBuffer(kiSave), static_cast<size_t>(Handle()->FKeyBufferSize));
  SetState(dsBrowse);
  DataEvent(deDataSetChange);
}

void TORBTable::CheckSetKeyState() const {
  if (State() != dsSetKey) DatabaseError(std::string(kSNotEditing));
}

bool TORBTable::KeyExclusive() const {
  CheckSetKeyState();
  return KeyExclusiveOf(FKeyBuffer);
}

void TORBTable::SetKeyExclusive(bool value) {
  CheckSetKeyState();
  SetKeyExclusiveOf(FKeyBuffer, value);
}

int32_t TORBTable::KeyFieldCount() const {
  CheckSetKeyState();
  return KeyFieldCountOf(FKeyBuffer);
}

void TORBTable::SetKeyFieldCount(int32_t value) {
  CheckSetKeyState();
  SetKeyFieldCountOf(FKeyBuffer, value);
}

void TORBTable::SetKeyFields(TORBKeyIndex index, const std::vector<TORBVariant>& values) {
  if (IndexFieldCount() == 0) DatabaseError(std::string(kSNoFieldIndexes));
  uint8_t* saved_key = FKeyBuffer;
  const TDataSetState saved = SetTempState(dsSetKey);
  FKeyBuffer = KeyBuffer(index);
  try {
    InitKeyBuffer(FKeyBuffer);
    for (size_t i = 0; i < values.size(); ++i) IndexFields(static_cast<int>(i)).SetAsVariant(values[i]);
    SetKeyFieldCountOf(FKeyBuffer, static_cast<int32_t>(values.size()));
    SetKeyModified(FKeyBuffer, Modified());
  } catch (...) {
    FKeyBuffer = saved_key;
    RestoreState(saved);
    throw;
  }
  FKeyBuffer = saved_key;
  RestoreState(saved);
}

bool TORBTable::SearchKey(TORBSearchCondition condition) {
  TORBLocalCursor& cursor = CheckedHandle(10282);
  uint8_t* key = KeyBuffer(kiLookup);
  int32_t count = KeyFieldCountOf(key);
  if (count <= 0 || count > IndexFieldCount()) count = IndexFieldCount();
  UpdateCursorPos();
  CursorPosChanged();
  const TORBCursorPosition position = cursor.SaveCursorPosition();
  uint8_t* scratch = Buffer(RecordCountInBuffers());
  cursor.SetCurrentRecordBuffer(scratch);
  bool found = false;
  // The index search of the cursor's table, within the cursor's view.
  uint8_t* saved_key = cursor.FKeyBuffer;
  cursor.FKeyBuffer = key;
  try {
    found = cursor.FindKey(condition, count, false);
  } catch (...) {
    cursor.FKeyBuffer = saved_key;
    cursor.RestoreCursorPosition(position);
    throw;
  }
  cursor.FKeyBuffer = saved_key;
  if (!found) cursor.RestoreCursorPosition(position);
  return found;
}

template <typename Fn>
void TORBTable::WithSharedLock(Fn&& fn) {
  TORBLocalCursor& cursor = CheckedHandle(10282);
  const bool locked = cursor.LockTable(ltS, FLockRetry.SharedTries, FLockRetry.DelayMs, false);
  try {
    fn();
  } catch (...) {
    if (locked) cursor.UnlockTable(ltS, true);
    throw;
  }
  if (locked) cursor.UnlockTable(ltS, true);
}

bool TORBTable::GotoKey() {
  CheckBrowseMode();
  DoBeforeScroll();
  if (!SearchKey(scEqual)) return false;
  WithSharedLock([this] { Resync(rmCenter); });
  DoAfterScroll();
  return true;
}

void TORBTable::GotoNearest() {
  CheckBrowseMode();
  DoBeforeScroll();
  const bool exclusive = KeyExclusiveOf(KeyBuffer(kiLookup));
  if (!SearchKey(exclusive ? scGreater : scGreaterEqual)) {
    WithSharedLock([this] { Last(); });
    return;
  }
  WithSharedLock([this] { Resync(rmCenter); });
  DoAfterScroll();
}

bool TORBTable::FindKey(const std::vector<TORBVariant>& values) {
  CheckBrowseMode();
  SetKeyFields(kiLookup, values);
  return GotoKey();
}

void TORBTable::FindNearest(const std::vector<TORBVariant>& values) {
  CheckBrowseMode();
  SetKeyFields(kiLookup, values);
  GotoNearest();
}

// --- ranges ---

bool TORBTable::SetCursorRange() {
  TORBLocalCursor& cursor = CheckedHandle(10287);
  const size_t size = static_cast<size_t>(cursor.FKeyBufferSize);
  for (TORBKeyIndex index : {kiRangeStart, kiRangeEnd, kiCurRangeStart, kiCurRangeEnd})
    cursor.ClearStringFieldsGarbage(KeyBuffer(index));
  if (std::memcmp(KeyBuffer(kiRangeStart), KeyBuffer(kiCurRangeStart), size) == 0 &&
      std::memcmp(KeyBuffer(kiRangeEnd), KeyBuffer(kiCurRangeEnd), size) == 0)
    return false;
  uint8_t* start = KeyBuffer(kiRangeStart);
  uint8_t* end = KeyBuffer(kiRangeEnd);
  const auto count_of = [this](const uint8_t* key) {
    const int32_t count = KeyFieldCountOf(key);
    return count == 0 ? IndexFieldCount() : count;
  };
  // The cursor keeps pointers to the bounds in force.
  std::memcpy(KeyBuffer(kiCurRangeStart), start, size);
  std::memcpy(KeyBuffer(kiCurRangeEnd), end, size);
  uint8_t* cur_start = KeyBuffer(kiCurRangeStart);
  uint8_t* cur_end = KeyBuffer(kiCurRangeEnd);
  cursor.ApplyRange(KeyModified(cur_start) ? cur_start : nullptr, KeyModified(cur_end) ? cur_end : nullptr,
                    count_of(cur_start), count_of(cur_end), KeyExclusiveOf(cur_start), KeyExclusiveOf(cur_end));
  return true;
}

void TORBTable::ApplyRange() {
  CheckBrowseMode();
  if (SetCursorRange()) WithSharedLock([this] { First(); });
}

void TORBTable::SetRange(const std::vector<TORBVariant>& start_values, const std::vector<TORBVariant>& end_values) {
  CheckBrowseMode();
  SetKeyFields(kiRangeStart, start_values);
  SetKeyFields(kiRangeEnd, end_values);
  ApplyRange();
}

void TORBTable::CancelRange() {
  CheckBrowseMode();
  UpdateCursorPos();
  if (!KeyModified(KeyBuffer(kiCurRangeStart)) && !KeyModified(KeyBuffer(kiCurRangeEnd))) return;
  InitKeyBuffer(KeyBuffer(kiCurRangeStart));
  InitKeyBuffer(KeyBuffer(kiCurRangeEnd));
  Handle()->ResetRange();
  // Back to the whole table, on the record that was current.
  WithSharedLock([this] { Resync(0); });
}

// --- master-detail ---

void TORBTable::SetMasterSource(TDataSource* source) {
  if (source != nullptr && IsLinkedTo(source)) DatabaseError(std::string(kSCircularDataLink));
  FMasterLink.SetDataSource(source);
}

void TORBTable::SetLinkRange() {
  const std::vector<TField*>& master = FMasterLink.Fields();
  uint8_t* saved_key = FKeyBuffer;
  const TDataSetState saved = SetTempState(dsSetKey);
  FKeyBuffer = KeyBuffer(kiRangeStart);
  try {
    InitKeyBuffer(FKeyBuffer);
    SetKeyModified(FKeyBuffer, true);
    for (size_t i = 0; i < master.size(); ++i) IndexFields(static_cast<int>(i)).SetAsVariant(master[i]->AsVariant());
    SetKeyFieldCountOf(FKeyBuffer, static_cast<int32_t>(master.size()));
  } catch (...) {
    FKeyBuffer = saved_key;
    RestoreState(saved);
    throw;
  }
  FKeyBuffer = saved_key;
  RestoreState(saved);
  std::memcpy(KeyBuffer(kiRangeEnd), KeyBuffer(kiRangeStart), static_cast<size_t>(Handle()->FKeyBufferSize));
}

void TORBTable::MasterChanged() {
  if (!Active() || FMasterLink.Fields().empty()) return;
  CheckBrowseMode();
  SetLinkRange();
  ApplyRange();
}

void TORBTable::MasterDisabled() {
  if (Active()) CancelRange();
}

void TORBTable::DoOnNewRecord() {
  if (FMasterLink.Active() && !FMasterLink.Fields().empty()) {
    const std::vector<TField*>& master = FMasterLink.Fields();
    for (size_t i = 0; i < master.size() && static_cast<int>(i) < IndexFieldCount(); ++i)
      if (TField* field = IndexField(static_cast<int>(i))) field->SetAsVariant(master[i]->AsVariant());
  }
  TORBDataSet::DoOnNewRecord();
  SetDefaultBlobFieldsValues();
}

void TORBTable::SetDefaultBlobFieldsValues() {
  TORBLocalCursor* cursor = Handle();
  if (cursor == nullptr) return;
  for (int i = 0; i < Fields().Count(); ++i) {
    TField& field = Fields()[i];
    const int32_t no = field.FieldNo() - 1;
    if (field.Calculated() || no < 0 || no >= cursor->VisibleFieldCount()) continue;
    const TORBFieldDef* def = cursor->FFieldDefs.GetDef(cursor->PhysicalFieldNo(no));
    if ((def->FBaseFieldType != bftBlob && def->FBaseFieldType != bftClob) || def->FDefaultValue.IsNull()) continue;
    std::string text;
    bool evaluated = false;
    if (def->FDefaultValueExpr) {
      try {
        TORBVariant value(def->FBaseFieldType);
        def->FDefaultValueExpr->Evaluate(value);
        text = value.IsNull() ? std::string() : value.AsAnsiString();
        evaluated = true;
      } catch (const EORBException&) {
        // The stored default stands in for an expression that fails.
      }
    }
    if (!evaluated) text = def->FDefaultValue.AsAnsiString();
    if (text.empty()) continue;
    std::unique_ptr<TStream> stream = CreateBlobStream(field, bmWrite);
    if (stream != nullptr) stream->Write(text.data(), static_cast<int64_t>(text.size()));
  }
}

}  // namespace orb
