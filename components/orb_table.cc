#include "components/orb_table.h"

#include <cstring>

#include "components/field.h"
#include "components/orb_database.h"
#include "engine/base/orb_exception.h"
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
  SetHandle(std::move(cursor));
  try {
    ReadIndexDefs();
    Handle()->SetIndexName(AnsiToWide(ResolveIndexName()));
  } catch (...) {
    DestroyHandle();
    throw;
  }
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

void TORBTable::AddIndex(const std::string& name, const std::string& fields, TIndexOptions options) {
  TORBAdvIndexDef source;
  source.FName = name;
  source.FFields = fields;
  source.FOptions = options;
  TORBIndexDef def;
  if (Trimmed(name).empty()) RaiseORB(20046, "Invalid index name '%s'", {Ansi(name)});
  if (SplitFieldNames(fields).empty()) RaiseORB(20047, "Cannot find index field '%s'", {Ansi(fields)});
  FillORBIndexDef(source, nullptr, def);
  const auto add = [&](TORBLocalCursor& cursor) {
    RaiseInTransaction(20175, "AddIndex");
    if (!cursor.LockTable(ltX, 50, 100, false))
      RaiseORB(20228, "Cannot access table '%s' in exclusive mode. Table is open by another user",
               {Ansi(FTableName)});
    try {
      cursor.AddIndex(def);
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
      add(*Handle());
      ReadIndexDefs();
    } catch (...) {
      SetDBFlag(dbfIndexList, false);
      throw;
    }
    SetDBFlag(dbfIndexList, false);
    return;
  }
  CheckTableName();
  WithTableCursor(dbfIndexList, [&](TORBLocalCursor& cursor) {
    cursor.OpenTableByFieldDefs(TORBFieldDefs(), TORBIndexDefs(), TORBConstraintDefs());
    add(cursor);
    cursor.CloseTable();
  });
  FIndexDefs.SetUpdated(false);
}

void TORBTable::DeleteIndex(const std::string& name) {
  if (Active()) {
    CheckBrowseMode();
    UpdateCursorPos();
    RaiseInTransaction(20177, "DeleteIndex");
    Handle()->DeleteIndex(AnsiToWide(name));
    ReadIndexDefs();
    return;
  }
  CheckTableName();
  WithTableCursor(dbfIndexList, [&](TORBLocalCursor& cursor) {
    RaiseInTransaction(20177, "DeleteIndex");
    cursor.OpenTableByFieldDefs(TORBFieldDefs(), TORBIndexDefs(), TORBConstraintDefs());
    cursor.DeleteIndex(AnsiToWide(name));
    cursor.CloseTable();
  });
  FIndexDefs.SetUpdated(false);
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
  }
  First();
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

bool TORBTable::GotoKey() {
  CheckBrowseMode();
  DoBeforeScroll();
  if (!SearchKey(scEqual)) return false;
  Resync(rmCenter);
  DoAfterScroll();
  return true;
}

void TORBTable::GotoNearest() {
  CheckBrowseMode();
  DoBeforeScroll();
  const bool exclusive = KeyExclusiveOf(KeyBuffer(kiLookup));
  if (!SearchKey(exclusive ? scGreater : scGreaterEqual)) {
    Last();
    return;
  }
  Resync(rmCenter);
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
  if (SetCursorRange()) First();
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
  First();
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
}

}  // namespace orb
