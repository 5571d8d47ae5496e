#include "components/orb_dataset.h"

#include <algorithm>
#include <cstring>

#include "components/host_date_time.h"
#include "components/orb_blob_stream.h"
#include "components/orb_database.h"
#include "components/orb_session.h"
#include "components/orb_session_list.h"
#include "engine/base/orb_exception.h"
#include "engine/platform/codepage.h"
#include "engine/platform/text_case.h"

namespace orb {

namespace {

constexpr std::string_view kSDatabaseNameBlank = "DatabaseName property is blank";

TORBPageItemID DecodeBookmark(const uint8_t* bookmark) {
  TORBPageItemID id;
  id.PageNo = static_cast<int32_t>(static_cast<uint32_t>(bookmark[0]) | static_cast<uint32_t>(bookmark[1]) << 8 |
                                   static_cast<uint32_t>(bookmark[2]) << 16 | static_cast<uint32_t>(bookmark[3]) << 24);
  id.PageItemNo = static_cast<uint16_t>(bookmark[4] | bookmark[5] << 8);
  return id;
}

bool IsDateTimeForm(TFieldType type) { return type == ftDateTime || type == ftTimeStamp; }

}  // namespace

TORBDataSet::TORBDataSet(TComponent* owner) : TDataSet(owner) {}

TORBDataSet::~TORBDataSet() {
  Destroying();
  FreeEditRecordBuffer();
  try {
    DestroyHandle();
  } catch (...) {
  }
  if (FDatabase != nullptr) {
    try {
      FDatabase->DetachDataSet(this);
      FDatabaseSession->CloseDatabase(FDatabase);
    } catch (...) {
    }
  }
}

// --- properties ---

void TORBDataSet::SetDatabaseName(std::string name) {
  CheckInactive();
  if (FDatabase != nullptr) DatabaseError(std::string(kSDatabaseOpen));
  FInMemory = SameName(name, "MEMORY");
  FDatabaseName = std::move(name);
}

void TORBDataSet::SetSessionName(std::string name) {
  CheckInactive();
  FSessionName = std::move(name);
}

void TORBDataSet::SetInMemory(bool value) {
  CheckInactive();
  FInMemory = value;
  if (value) SetDatabaseName("MEMORY");
}

void TORBDataSet::SetReadOnly(bool value) {
  CheckInactive();
  FReadOnly = value;
}

TORBSession* TORBDataSet::GetDBSession() const {
  if (FDatabase != nullptr && FDatabase->Session() != nullptr) return FDatabase->Session();
  if (!FSessionName.empty())
    if (TORBSession* session = ORBSessions().FindSession(FSessionName)) return session;
  return ORBSessions().DefaultSession();
}

TORBLocalCursor& TORBDataSet::CheckedHandle(int32_t code) const {
  if (!FHandle) RaiseORB(code, kMsgNilPointer);
  return *FHandle;
}

// --- holding the database ---

void TORBDataSet::SetDBFlag(TORBDBFlag flag, bool value) {
  const uint32_t bit = 1u << flag;
  if (value) {
    const bool first = FDBFlags == 0;
    FDBFlags |= bit;
    if (!first) return;
    try {
      MoveDatabaseToNamedSession();
      TORBSession* session = GetDBSession();
      FDatabase = session->OpenDatabase(FDatabaseName);
      FDatabaseSession = session;
      FDatabase->AttachDataSet(this);
    } catch (...) {
      FDBFlags &= ~bit;
      FDatabase = nullptr;
      throw;
    }
    return;
  }
  if ((FDBFlags & bit) == 0) return;
  FDBFlags &= ~bit;
  if (FDBFlags != 0 || FDatabase == nullptr) return;
  TORBDatabase* database = FDatabase;
  FDatabase = nullptr;
  database->DetachDataSet(this);
  FDatabaseSession->CloseDatabase(database);
}

// --- opening and closing ---

void TORBDataSet::SetActive(bool value) {
  if (!value && Active() && (State() == dsEdit || State() == dsInsert)) {
    // Pending changes are dropped and what the cursor holds for them (a
    // record lock, cached BLOB data) is released.
    try {
      UpdateCursorPos();
      InternalCancel();
    } catch (...) {
      if (!(ComponentState() & csDestroying)) throw;
    }
  }
  TDataSet::SetActive(value);
}

void TORBDataSet::OpenCursor(bool info_query) {
  if (FDatabaseName.empty()) DatabaseError(std::string(kSDatabaseNameBlank));
  SetDBFlag(dbfOpened, true);
  if (!FHandle) CreateHandle();
  if (!FHandle) RaiseORB(20001, "Error creating table handle");
  TDataSet::OpenCursor(info_query);
}

void TORBDataSet::CloseCursor() {
  try {
    TDataSet::CloseCursor();
  } catch (...) {
    DestroyHandle();
    SetDBFlag(dbfOpened, false);
    throw;
  }
  DestroyHandle();
  SetDBFlag(dbfOpened, false);
}

void TORBDataSet::MoveDatabaseToNamedSession() {
  if (FSessionName.empty()) return;
  TORBSession* named = ORBSessions().FindSession(FSessionName);
  TORBSession* fallback = ORBSessions().DefaultSession();
  if (named == nullptr || named == fallback || fallback == nullptr) return;
  // The named session has one of that name already (it would refuse a
  // second).
  if (named->FindDatabase(FDatabaseName) != nullptr) return;
  TORBDatabase* database = fallback->FindDatabase(FDatabaseName);
  // A database made for some dataset of the default session, or one in
  // use there, stays where it is.
  if (database == nullptr || database->Temporary() || database->Connected() || database->Owner() != Owner()) return;
  database->SetSessionName(named->SessionName());
}

void TORBDataSet::DestroyHandle() {
  if (!FHandle || FKeepHandle) return;
  std::unique_ptr<TORBLocalCursor> handle = std::move(FHandle);
  handle->CloseTable();
}

void TORBDataSet::InternalOpen() {
  TORBLocalCursor& cursor = CheckedHandle(20001);
  SetBookmarkSize(kBookmarkSize + 1);
  InitFieldDefs();
  UpdateIndexInfo();
  FreeEditRecordBuffer();
  if (DefaultFields()) CreateFields();
  BindFields(true);
  cursor.FDataset = this;
  const int32_t needed = cursor.FCalculatedFieldsOffset + CalcFieldsSize();
  if (cursor.FRecordBufferSize < needed) cursor.FRecordBufferSize = needed;
  if (Filtered())
    ActivateFilters();
  else
    DeactivateFilters();
  AllocKeyBuffers();
  cursor.ResetRange();
  PrepareCursor();
}

void TORBDataSet::InternalClose() {
  FreeEditRecordBuffer();
  FreeKeyBuffers();
  BindFields(false);
  if (DefaultFields()) DestroyFields();
  // What was read from the table goes with it: a later CreateTable builds
  // from the definitions given then, not from the old table's.
  FAdvFieldDefs.Clear();
  FAdvIndexDefs.Clear();
  FIndexFieldMap.clear();
  FIndexFieldCount = 0;
  FKeySize = 0;
}

void TORBDataSet::InternalInitFieldDefs() {
  // Closed: the definitions at hand (stored ones) stay.
  if (!FHandle) return;
  FieldDefs().Clear();
  FHandle->InternalInitFieldDefs();
  EngineToHostFieldDefs(FHandle->FVisibleFieldDefs, FHandle->FConstraintDefs, FieldDefs());
  EngineToAdvFieldDefs(FHandle->FVisibleFieldDefs, FHandle->FConstraintDefs, FAdvFieldDefs);
}

void TORBDataSet::UpdateIndexInfo() {
  FIndexFieldMap.clear();
  FIndexFieldCount = 0;
  FKeySize = 0;
  if (!FHandle || FHandle->FIndexName.empty()) return;
  auto* def = static_cast<TORBIndexDef*>(FHandle->FIndexDefs.GetDefByName(FHandle->FIndexName));
  if (def == nullptr) RaiseORB(10325, "Cannot find index %s", {WideToAnsi(FHandle->FIndexName)});
  FIndexFieldCount = def->GetColumnCount();
  for (int32_t i = 0; i < FIndexFieldCount; ++i) {
    const std::u16string& name = def->GetIndexColumn(i)->GetFieldName();
    const int32_t no = FHandle->FVisibleFieldDefs.GetDefNumberByName(name);
    FIndexFieldMap.push_back(no + 1);
    if (no >= 0) FKeySize += FHandle->FVisibleFieldDefs.GetDef(no)->FMemoryDataSize;
  }
}

void TORBDataSet::SwitchToIndex(const std::string& name) {
  TORBLocalCursor& cursor = CheckedHandle(10326);
  for (uint8_t* key : FKeyBuffers)
    if (key != nullptr) InitKeyBuffer(key);
  cursor.ResetRange();
  UpdateCursorPos();
  cursor.SetIndexName(AnsiToWide(name));
  UpdateIndexInfo();
}

// --- buffers ---

uint8_t* TORBDataSet::AllocRecordBuffer() { return CheckedHandle(10052).AllocateRecordBuffer(); }

void TORBDataSet::FreeRecordBuffer(uint8_t*& buffer) { CheckedHandle(10053).FreeRecordBuffer(buffer); }

int TORBDataSet::GetRecordSize() const { return CheckedHandle(10055).FRecordSize - (kBookmarkSize + 1); }

uint8_t* TORBDataSet::CalcSlot(uint8_t* record, const TField& field) const {
  return record + FHandle->FCalculatedFieldsOffset + field.Offset();
}

void TORBDataSet::ClearCalcFields(uint8_t* buffer) {
  TORBLocalCursor& cursor = CheckedHandle(10039);
  if (buffer == nullptr) RaiseORB(10040, kMsgNilPointer);
  std::memset(buffer + cursor.FCalculatedFieldsOffset, 0, static_cast<size_t>(CalcFieldsSize()));
}

void TORBDataSet::GetBookmarkData(const uint8_t* buffer, uint8_t* data) const {
  TORBLocalCursor& cursor = CheckedHandle(10034);
  if (buffer == nullptr || data == nullptr) RaiseORB(buffer == nullptr ? 10035 : 10036, kMsgNilPointer);
  std::memcpy(data, buffer + cursor.FBookmarkOffset, kBookmarkSize);
}

void TORBDataSet::SetBookmarkData(uint8_t* buffer, const uint8_t* data) {
  TORBLocalCursor& cursor = CheckedHandle(10058);
  if (buffer == nullptr) RaiseORB(10061, kMsgNilPointer);
  if (data != nullptr) std::memcpy(buffer + cursor.FBookmarkOffset, data, kBookmarkSize);
}

TBookmarkFlag TORBDataSet::GetBookmarkFlag(const uint8_t* buffer) const {
  TORBLocalCursor& cursor = CheckedHandle(10059);
  if (buffer == nullptr) RaiseORB(10060, kMsgNilPointer);
  const uint8_t flag = cursor.GetBookmarkFlag(buffer);
  return flag >= 1 && flag <= 3 ? static_cast<TBookmarkFlag>(flag) : bfCurrent;
}

void TORBDataSet::SetBookmarkFlag(uint8_t* buffer, TBookmarkFlag flag) {
  CheckedHandle(10057).SetBookmarkFlag(buffer, flag);
}

void TORBDataSet::FreeEditRecordBuffer() {
  // The cursor must never keep a pointer to the copy once it is gone.
  if (FHandle && FHandle->GetEditRecordBuffer() == FEditRecordBuffer.get()) FHandle->SetEditRecordBuffer(nullptr);
  FEditRecordBuffer.reset();
}

void TORBDataSet::AllocKeyBuffers() {
  TORBLocalCursor& cursor = CheckedHandle(10050);
  for (uint8_t*& key : FKeyBuffers) {
    if (key == nullptr) key = cursor.AllocateKeyRecordBuffer();
    InitKeyBuffer(key);
  }
  FKeyBuffer = FKeyBuffers[kiLookup];
}

void TORBDataSet::FreeKeyBuffers() {
  for (uint8_t*& key : FKeyBuffers) {
    if (key == nullptr) continue;
    if (FHandle)
      FHandle->FreeKeyRecordBuffer(key);
    key = nullptr;
  }
  FKeyBuffer = nullptr;
}

void TORBDataSet::InitKeyBuffer(uint8_t* buffer) { CheckedHandle(10051).InternalInitKeyBuffer(buffer); }

bool TORBDataSet::KeyModified(const uint8_t* buffer) const { return buffer[FHandle->FKeyOffset] != 0; }
void TORBDataSet::SetKeyModified(uint8_t* buffer, bool value) const { buffer[FHandle->FKeyOffset] = value ? 1 : 0; }
bool TORBDataSet::KeyExclusiveOf(const uint8_t* buffer) const { return buffer[FHandle->FKeyOffset + 1] != 0; }
void TORBDataSet::SetKeyExclusiveOf(uint8_t* buffer, bool value) const {
  buffer[FHandle->FKeyOffset + 1] = value ? 1 : 0;
}
int32_t TORBDataSet::KeyFieldCountOf(const uint8_t* buffer) const {
  const uint8_t* p = buffer + FHandle->FKeyOffset + 2;
  return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                              static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24);
}
void TORBDataSet::SetKeyFieldCountOf(uint8_t* buffer, int32_t value) const {
  uint8_t* p = buffer + FHandle->FKeyOffset + 2;
  const auto v = static_cast<uint32_t>(value);
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

// --- navigation ---

TGetResult TORBDataSet::GetRecord(uint8_t* buffer, TGetMode mode, bool do_check) {
  TORBLocalCursor& cursor = CheckedHandle(10041);
  const TORBGetRecordMode cursor_mode = mode == gmNext ? grmNext : mode == gmPrior ? grmPrior : grmCurrent;
  cursor.SetCurrentRecordBuffer(buffer);
  const TORBGetRecordResult read = cursor.GetRecordBuffer(cursor_mode);
  const TGetResult result = read == grrOK ? grOK : read == grrBOF ? grBOF : read == grrEOF ? grEOF : grError;
  if (result == grOK) {
    cursor.SetBookmark(buffer, cursor.GetCurrentRecordID());
    cursor.SetBookmarkFlag(buffer, bfCurrent);
    ClearCalcFields(buffer);
    GetCalcFields(buffer);
  } else if (do_check && result == grError) {
    RaiseORB(10026, "Cannot retrieve record");
  }
  return result;
}

void TORBDataSet::InternalFirst() { CheckedHandle(10044).InternalFirst(); }
void TORBDataSet::InternalLast() { CheckedHandle(10045).InternalLast(); }

void TORBDataSet::InternalGotoBookmark(const uint8_t* bookmark) {
  TORBLocalCursor& cursor = CheckedHandle(10037);
  if (bookmark == nullptr) RaiseORB(10038, kMsgNilPointer);
  cursor.SetCurrentRecordID(DecodeBookmark(bookmark));
  cursor.SetFirstPosition(false);
  cursor.SetLastPosition(false);
}

void TORBDataSet::InternalSetToRecord(uint8_t* buffer) {
  TORBLocalCursor& cursor = CheckedHandle(10046);
  if (buffer == nullptr) RaiseORB(10047, kMsgNilPointer);
  InternalGotoBookmark(buffer + cursor.FBookmarkOffset);
}

int TORBDataSet::GetRecordCount() const {
  if (!Active()) return 0;
  return static_cast<int>(CheckedHandle(10056).GetRecordCount());
}

int TORBDataSet::GetRecNo() const {
  if (State() == dsInsert) return -1;
  TORBLocalCursor& cursor = CheckedHandle(10043);
  const uint8_t* buffer = State() == dsCalcFields ? CalcBuffer() : (IsEmpty() ? nullptr : ActiveBuffer());
  if (buffer == nullptr) return -1;
  const TORBCursorPosition position = cursor.SaveCursorPosition();
  cursor.SetCurrentRecordID(cursor.GetBookmark(buffer));
  cursor.SetFirstPosition(false);
  cursor.SetLastPosition(false);
  int64_t rec_no = -1;
  try {
    rec_no = cursor.GetRecNo();
  } catch (...) {
    cursor.RestoreCursorPosition(position);
    throw;
  }
  cursor.RestoreCursorPosition(position);
  return static_cast<int>(rec_no);
}

void TORBDataSet::SetRecNoValue(int value) {
  CheckBrowseMode();
  TORBLocalCursor& cursor = CheckedHandle(10042);
  DoBeforeScroll();
  cursor.SetRecNo(value);
  Resync(rmCenter);
  DoAfterScroll();
}

bool TORBDataSet::BookmarkValid(const TBookmark& bookmark) {
  if (!FHandle || bookmark.size() < static_cast<size_t>(kBookmarkSize)) return false;
  TORBLocalCursor& cursor = *FHandle;
  const TORBCursorPosition position = cursor.SaveCursorPosition();
  uint8_t* saved_buffer = cursor.GetCurrentRecordBuffer();
  uint8_t* scratch = cursor.AllocateRecordBuffer();
  TORBGetRecordResult read = grrError;
  try {
    cursor.SetCurrentRecordBuffer(scratch);
    cursor.SetCurrentRecordID(DecodeBookmark(bookmark.data()));
    cursor.SetFirstPosition(false);
    cursor.SetLastPosition(false);
    read = cursor.GetRecordBuffer(grmCurrent);
  } catch (...) {
  }
  cursor.FreeRecordBuffer(scratch);
  cursor.RestoreCursorPosition(position);
  cursor.SetCurrentRecordBuffer(saved_buffer);
  return read == grrOK;
}

int TORBDataSet::CompareBookmarks(const TBookmark& b1, const TBookmark& b2) {
  if (b1.empty() && b2.empty()) return 0;
  if (b1.empty()) return 1;
  if (b2.empty()) return -1;
  return CheckedHandle(10063).CompareRecordsOrder(DecodeBookmark(b1.data()), DecodeBookmark(b2.data()));
}

bool TORBDataSet::GetCurrentRecord(uint8_t* buffer) {
  if (!FHandle || IsEmpty() || GetBookmarkFlag(ActiveBuffer()) != bfCurrent) return false;
  UpdateCursorPos();
  FHandle->SetCurrentRecordBuffer(buffer);
  return FHandle->GetRecordBuffer(grmCurrent) == grrOK;
}

// --- field data ---

uint8_t* TORBDataSet::FieldRecordBuffer() const {
  switch (State()) {
    case dsSetKey:
      return FKeyBuffer;
    case dsOldValue:
      return FEditRecordBuffer ? FEditRecordBuffer.get() : (IsEmpty() ? nullptr : ActiveBuffer());
    case dsNewValue:
      return ActiveBuffer();
    default:
      return StateRecordBuffer();
  }
}

bool TORBDataSet::GetFieldData(const TField& field, void* buffer) {
  uint8_t* record = FieldRecordBuffer();
  if (record == nullptr || !FHandle) return false;
  if (field.Calculated()) {
    const uint8_t* slot = CalcSlot(record, field);
    if (slot[0] == 0) return false;
    if (buffer != nullptr) std::memcpy(buffer, slot + 1, static_cast<size_t>(field.DataSize()));
    return true;
  }
  if (field.FieldNo() <= 0) return false;
  if (buffer != nullptr && IsDateTimeForm(field.DataType())) {
    TORBDateTime moment;
    if (!FHandle->GetFieldData(field.FieldNo() - 1, &moment, record)) return false;
    const int64_t msecs = MomentToMSecs(moment);
    std::memcpy(buffer, &msecs, sizeof msecs);
    return true;
  }
  return FHandle->GetFieldData(field.FieldNo() - 1, buffer, record);
}

void TORBDataSet::SetFieldData(TField& field, const void* buffer) {
  const TDataSetState state = State();
  if (state != dsEdit && state != dsInsert && state != dsSetKey && state != dsCalcFields && state != dsFilter &&
      state != dsNewValue && state != dsInternalCalc)
    RaiseORB(10007, std::string(kSNotEditing));
  uint8_t* record = FieldRecordBuffer();
  if (record == nullptr || !FHandle) RaiseORB(10007, std::string(kSNotEditing));
  if (state == dsSetKey && (field.Calculated() || (FIndexFieldCount > 0 && !GetIsIndexField(field))))
    RaiseORB(20019, "Field %s is not in the current index", {Ansi(field.DisplayName())});
  if (field.Calculated()) {
    uint8_t* slot = CalcSlot(record, field);
    slot[0] = buffer != nullptr ? 1 : 0;
    if (buffer != nullptr) std::memcpy(slot + 1, buffer, static_cast<size_t>(field.DataSize()));
  } else {
    field.Validate(buffer);
    if (buffer != nullptr && IsDateTimeForm(field.DataType())) {
      int64_t msecs;
      std::memcpy(&msecs, buffer, sizeof msecs);
      const TORBDateTime moment = MSecsToMoment(msecs);
      FHandle->SetFieldData(field.FieldNo() - 1, &moment, record);
    } else {
      FHandle->SetFieldData(field.FieldNo() - 1, buffer, record);
    }
  }
  if (state != dsCalcFields && state != dsFilter && state != dsNewValue) DataEvent(deFieldChange, &field);
}

bool TORBDataSet::GetIsIndexField(const TField& field) const {
  return std::find(FIndexFieldMap.begin(), FIndexFieldMap.end(), field.FieldNo()) != FIndexFieldMap.end();
}

bool TORBDataSet::GetCanModify() const { return TDataSet::GetCanModify() && !FReadOnly; }

// --- editing ---

void TORBDataSet::InitRecord(uint8_t* buffer) {
  TDataSet::InitRecord(buffer);
  TORBLocalCursor& cursor = CheckedHandle(10054);
  cursor.SetBookmark(buffer, TORBPageItemID{-1, 0xFFFF});
  cursor.SetBookmarkFlag(buffer, bfInserted);
}

void TORBDataSet::InternalInitRecord(uint8_t* buffer) { CheckedHandle(10054).InternalInitRecord(buffer, true); }

void TORBDataSet::InternalEdit() {
  if (FReadOnly) return;
  TORBLocalCursor& cursor = CheckedHandle(10065);
  uint8_t* active = ActiveBuffer();
  if (active == nullptr) RaiseORB(10067, kMsgNilPointer);
  FreeEditRecordBuffer();
  FEditRecordBuffer = std::make_unique<uint8_t[]>(static_cast<size_t>(cursor.FRecordBufferSize));
  std::memcpy(FEditRecordBuffer.get(), active, static_cast<size_t>(cursor.FRecordBufferSize));
  cursor.SetCurrentRecordBuffer(active);
  cursor.SetEditRecordBuffer(FEditRecordBuffer.get());
  cursor.InternalEdit();
  try {
    Check(cursor.FErrorCode, cursor.FErrorMessage);
  } catch (...) {
    FreeEditRecordBuffer();
    throw;
  }
}

void TORBDataSet::InternalInsert() {
  if (FReadOnly) return;
  CheckedHandle(10064).InternalInsert();
}

void TORBDataSet::InternalCancel() {
  TORBLocalCursor& cursor = CheckedHandle(10066);
  FreeEditRecordBuffer();
  cursor.SetCurrentRecordBuffer(ActiveBuffer());
  cursor.InternalCancel(State() == dsInsert);
  Check(cursor.FErrorCode, cursor.FErrorMessage);
}

void TORBDataSet::InternalPost() {
  TDataSet::InternalPost();
  if (!Active()) RaiseORB(10029, "Dataset is not opened");
  if (State() != dsInsert && State() != dsEdit) RaiseORB(10030, "Dataset is not in insert or edit mode");
  if (FReadOnly) RaiseORB(10032, "Dataset is in read only mode");
  TORBLocalCursor& cursor = CheckedHandle(10048);
  const bool inserting = State() == dsInsert;
  cursor.SetCurrentRecordBuffer(ActiveBuffer());
  if (!inserting) cursor.SetEditRecordBuffer(FEditRecordBuffer.get());
  cursor.InternalPost(inserting);
  if (!inserting && cursor.FErrorCode == 0) FreeEditRecordBuffer();
  // A failed post keeps the copy for the next attempt; the cursor gets it
  // again then.
  if (cursor.GetEditRecordBuffer() != nullptr && cursor.GetEditRecordBuffer() != FEditRecordBuffer.get())
    cursor.SetEditRecordBuffer(nullptr);
  Check(cursor.FErrorCode, cursor.FErrorMessage);
}

void TORBDataSet::InternalAddRecord(uint8_t* buffer, bool /*append*/) {
  if (!Active()) RaiseORB(10075, "Dataset is not opened");
  if (State() != dsInsert) RaiseORB(10076, "Dataset is not in insert or edit mode");
  if (FReadOnly) RaiseORB(10077, "Dataset is in read only mode");
  TORBLocalCursor& cursor = CheckedHandle(10078);
  cursor.SetCurrentRecordBuffer(buffer);
  cursor.InternalPost(true);
  Check(cursor.FErrorCode, cursor.FErrorMessage);
}

void TORBDataSet::InternalDelete() {
  if (!Active()) RaiseORB(10068, "Dataset is not opened");
  if (FReadOnly) RaiseORB(10069, "Dataset is in read only mode");
  TORBLocalCursor& cursor = CheckedHandle(10070);
  uint8_t* active = ActiveBuffer();
  if (active == nullptr) RaiseORB(10071, kMsgNilPointer);
  cursor.SetCurrentRecordBuffer(active);
  cursor.InternalDelete();
  Check(cursor.FErrorCode, cursor.FErrorMessage);
}

void TORBDataSet::InternalRefresh() {
  // The filter event's answers may have changed: the cursor asks again.
  if (Active() && FHandle && Filtered() && OnFilterRecord())
    FHandle->SetRecordFilter(&TORBDataSet::FilterCallback, this);
}

// --- BLOB streams ---

std::unique_ptr<TStream> TORBDataSet::CreateBlobStream(TField& field, TBlobStreamMode mode) {
  if (mode != bmRead && FReadOnly) RaiseORB(10107, "Dataset is in read only mode");
  auto stream = std::make_unique<TORBBLOBStream>(*this, field, mode);
  if (!stream->HasCursorStream() && !FRefreshing && State() == dsBrowse && GetFieldData(field, nullptr)) {
    // The record could not be read again (changed by another session).
    FRefreshing = true;
    try {
      Refresh();
    } catch (...) {
      FRefreshing = false;
      throw;
    }
    FRefreshing = false;
  }
  return stream;
}

void TORBDataSet::CloseCursorStream(TORBLocalBLOBStream* stream) {
  if (!FHandle) return;
  FHandle->InternalCloseBLOB(stream);
}

// --- filters ---

bool TORBDataSet::FilterCallback(const uint8_t* record_buffer, void* owner) {
  auto* data_set = static_cast<TORBDataSet*>(owner);
  return data_set->DoFilterRecord(const_cast<uint8_t*>(record_buffer));
}

void TORBDataSet::ActivateFilters() {
  TORBLocalCursor& cursor = CheckedHandle(10266);
  if (!Filter().empty())
    cursor.ActivateFilters(AnsiToWide(Filter()), (FilterOptions() & foCaseInsensitive) != 0,
                           (FilterOptions() & foNoPartialCompare) == 0);
  else
    cursor.DeactivateFilters();
  if (OnFilterRecord())
    cursor.SetRecordFilter(&TORBDataSet::FilterCallback, this);
  else
    cursor.SetRecordFilter(nullptr, nullptr);
}

void TORBDataSet::DeactivateFilters() {
  TORBLocalCursor& cursor = CheckedHandle(10267);
  cursor.DeactivateFilters();
  // An unfiltered view shows every record, whatever the event would say.
  cursor.SetRecordFilter(nullptr, nullptr);
}

void TORBDataSet::SetFilteredValue(bool value) {
  if (Active()) {
    CheckBrowseMode();
    if (value != Filtered()) {
      if (value)
        ActivateFilters();
      else
        DeactivateFilters();
    }
  }
  TDataSet::SetFilteredValue(value);
}

void TORBDataSet::ChangeFilter(const std::function<void()>& change) {
  if (!Active() || !Filtered()) return change();
  CheckBrowseMode();
  DisableControls();
  try {
    change();
    ActivateFilters();
    First();
  } catch (...) {
    EnableControls();
    throw;
  }
  EnableControls();
}

void TORBDataSet::SetFilterText(std::string text) {
  ChangeFilter([&] { TDataSet::SetFilterText(std::move(text)); });
}

void TORBDataSet::SetFilterOptions(TFilterOptions options) {
  ChangeFilter([&] { TDataSet::SetFilterOptions(options); });
}

void TORBDataSet::SetOnFilterRecord(TFilterRecordEvent event) {
  ChangeFilter([&] { TDataSet::SetOnFilterRecord(std::move(event)); });
}

// --- searching ---

bool TORBDataSet::FindRecord(bool restart, bool go_forward) {
  CheckBrowseMode();
  DoBeforeScroll();
  SetFound(false);
  UpdateCursorPos();
  CursorPosChanged();
  TGetResult result = grError;
  uint8_t* scratch = Buffer(RecordCountInBuffers());
  try {
    // The filters take part in the search whether or not Filtered is set.
    ActivateFilters();
    if (restart) {
      if (go_forward)
        InternalFirst();
      else
        InternalLast();
    }
    result = GetRecord(scratch, go_forward ? gmNext : gmPrior, true);
  } catch (...) {
    if (!Filtered()) DeactivateFilters();
    throw;
  }
  if (!Filtered()) DeactivateFilters();
  if (result != grOK) return false;
  Resync(rmExact | rmCenter);
  SetFound(true);
  DoAfterScroll();
  return true;
}

bool TORBDataSet::Locate(std::string_view key_fields, const std::vector<TORBVariant>& key_values,
                         TLocateOptions options) {
  if (!FHandle) RaiseORB(10271, "Cannot perform LOCATE on a closed dataset");
  CheckBrowseMode();
  DoBeforeScroll();
  UpdateCursorPos();
  CursorPosChanged();
  uint8_t* scratch = Buffer(RecordCountInBuffers());
  const TDataSetState saved = SetTempState(dsFilter);
  SetFilterBuffer(scratch);
  bool found = false;
  try {
    FHandle->SetCurrentRecordBuffer(scratch);
    found = FHandle->Locate(AnsiToWide(key_fields), key_values, (options & loCaseInsensitive) != 0,
                            (options & loPartialKey) != 0);
  } catch (...) {
    RestoreState(saved);
    throw;
  }
  RestoreState(saved);
  if (!found) return false;
  Resync(rmExact | rmCenter);
  DoAfterScroll();
  return true;
}

std::vector<TORBVariant> TORBDataSet::Lookup(std::string_view key_fields, const std::vector<TORBVariant>& key_values,
                                             std::string_view result_fields) {
  if (!FHandle) RaiseORB(10271, "Cannot perform LOCATE on a closed dataset");
  CheckBrowseMode();
  UpdateCursorPos();
  CursorPosChanged();
  uint8_t* scratch = Buffer(RecordCountInBuffers());
  const TDataSetState saved = SetTempState(dsFilter);
  SetFilterBuffer(scratch);
  std::vector<TORBVariant> values;
  try {
    FHandle->SetCurrentRecordBuffer(scratch);
    if (FHandle->Locate(AnsiToWide(key_fields), key_values, false, false) &&
        FHandle->GetRecordBuffer(grmCurrent) == grrOK) {
      // Calculated and lookup result fields are worked out for the found
      // record, not read from whatever the buffer held before.
      ClearCalcFields(scratch);
      GetCalcFields(scratch);
      for (const std::string& name : SplitFieldNames(result_fields)) values.push_back(FieldByName(name).AsVariant());
    }
  } catch (...) {
    RestoreState(saved);
    CursorPosChanged();
    throw;
  }
  RestoreState(saved);
  CursorPosChanged();
  return values;
}

// --- for the SQL engine and record copying ---

std::vector<std::string> TORBDataSet::GetDatabaseNameList() const { return GetDBSession()->GetDatabaseNames(); }

bool TORBDataSet::IsIndexApplied() const { return CheckedHandle(10381).IsIndexApplied(); }

bool TORBDataSet::IsDistinctApplied() const { return CheckedHandle(10326).GetDistinctFieldCount() > 0; }

void TORBDataSet::ApplyProjection(const std::vector<std::string>& field_names,
                                  const std::vector<std::string>& aliases) {
  TORBLocalCursor& cursor = CheckedHandle(10320);
  std::vector<std::u16string> names;
  std::vector<std::u16string> wide_aliases;
  for (const std::string& name : field_names) names.push_back(AnsiToWide(name));
  for (const std::string& alias : aliases) wide_aliases.push_back(AnsiToWide(alias));
  cursor.ApplyProjection(names, wide_aliases);
  // The dataset reopens on the same cursor (and keeps its database
  // meanwhile) so that its fields are those of the projected list.
  SetDBFlag(dbfFieldList, true);
  FKeepHandle = true;
  cursor.FSettingProjection = true;
  const auto finish = [&] {
    FKeepHandle = false;
    if (FHandle) FHandle->FSettingProjection = false;
    SetDBFlag(dbfFieldList, false);
  };
  try {
    Close();
    cursor.SetFirstPosition(true);
    cursor.SetLastPosition(false);
    try {
      Open();
    } catch (...) {
      Close();
      cursor.FSettingProjection = false;
      Open();
      throw;
    }
  } catch (...) {
    finish();
    throw;
  }
  finish();
  cursor.FSession = FDatabase != nullptr ? FDatabase->Handle() : cursor.FSession;
}

void TORBDataSet::SetSQLFilter(TORBExpression* expression) { CheckedHandle(10300).SetSQLFilter(expression); }

TField* TORBDataSet::BlobFieldOf(int32_t field_no, bool direct) const {
  const TORBLocalCursor& cursor = *FHandle;
  int32_t visible = field_no;
  if (direct) {
    visible = -1;
    for (int32_t i = 0; i < cursor.VisibleFieldCount(); ++i)
      if (cursor.PhysicalFieldNo(i) == field_no) visible = i;
  }
  if (visible < 0 || visible >= cursor.VisibleFieldCount()) return nullptr;
  if (!IsBLOBFieldType(cursor.FVisibleFieldDefs.GetDef(visible)->FBaseFieldType)) return nullptr;
  for (int i = 0; i < Fields().Count(); ++i)
    if (!Fields()[i].Calculated() && Fields()[i].FieldNo() == visible + 1) return &Fields()[i];
  return nullptr;
}

void TORBDataSet::GetFieldValue(TORBVariant& value, int32_t field_no, bool direct) {
  TORBLocalCursor& cursor = CheckedHandle(10315);
  if (TField* field = BlobFieldOf(field_no, direct)) {
    const TORBBaseFieldType type = cursor.FVisibleFieldDefs.GetDef(field->FieldNo() - 1)->FBaseFieldType;
    if (!GetFieldData(*field, nullptr)) {
      value = TORBVariant(type);
      return;
    }
    std::unique_ptr<TStream> stream = CreateBlobStream(*field, bmRead);
    std::string bytes;
    char chunk[16384];
    for (int64_t got; stream != nullptr && (got = stream->Read(chunk, sizeof chunk)) > 0;)
      bytes.append(chunk, static_cast<size_t>(got));
    value.SetData(bytes.data(), static_cast<int32_t>(bytes.size()), type, true);
    return;
  }
  uint8_t* saved = cursor.GetCurrentRecordBuffer();
  cursor.SetCurrentRecordBuffer(FieldRecordBuffer());
  try {
    cursor.GetFieldValue(value, field_no, direct);
  } catch (...) {
    cursor.SetCurrentRecordBuffer(saved);
    throw;
  }
  cursor.SetCurrentRecordBuffer(saved);
}

void TORBDataSet::SetFieldValue(const TORBVariant& value, int32_t field_no, bool direct) {
  TORBLocalCursor& cursor = CheckedHandle(10316);
  if (TField* field = BlobFieldOf(field_no, direct); field != nullptr && !value.IsNull()) {
    std::unique_ptr<TStream> stream = CreateBlobStream(*field, bmWrite);
    if (stream == nullptr) return;
    if (value.IsStringDataType()) {
      // The characters, without the terminator the value keeps.
      const TORBBaseFieldType type = cursor.FVisibleFieldDefs.GetDef(field->FieldNo() - 1)->FBaseFieldType;
      if (type == bftWideClob) {
        const std::u16string text = value.AsWideString();
        stream->Write(text.data(), static_cast<int64_t>(text.size() * sizeof(char16_t)));
      } else {
        const std::string text = value.AsAnsiString();
        stream->Write(text.data(), static_cast<int64_t>(text.size()));
      }
    } else if (value.DataSize() > 0) {
      stream->Write(value.Data(), value.DataSize());
    }
    return;
  }
  uint8_t* record = FieldRecordBuffer();
  if (record == nullptr) RaiseORB(10316, kMsgNilPointer);
  cursor.SetFieldValue(value, field_no, direct, record);
}

void TORBDataSet::CopyFieldValue(int32_t source_field_no, bool direct, int32_t dest_field_no, TORBDataSet* dest) {
  TORBLocalCursor& cursor = CheckedHandle(10500);
  if (dest == nullptr) RaiseORB(10503, kMsgNilPointer);
  TORBLocalCursor& dest_cursor = dest->CheckedHandle(10504);
  uint8_t* saved = cursor.GetCurrentRecordBuffer();
  uint8_t* dest_saved = dest_cursor.GetCurrentRecordBuffer();
  cursor.SetCurrentRecordBuffer(FieldRecordBuffer());
  dest_cursor.SetCurrentRecordBuffer(dest->FieldRecordBuffer());
  try {
    cursor.CopyFieldValue(source_field_no, direct, dest_field_no, dest_cursor);
  } catch (...) {
    cursor.SetCurrentRecordBuffer(saved);
    dest_cursor.SetCurrentRecordBuffer(dest_saved);
    throw;
  }
  cursor.SetCurrentRecordBuffer(saved);
  dest_cursor.SetCurrentRecordBuffer(dest_saved);
}

// --- provider operations ---

int TORBDataSet::PSExecuteStatement(const std::string& /*sql*/, TParams* /*params*/) {
  RaiseORB(kErrProviderNotSupported, "Provider operation '%s' is not supported: %s",
           {"PSExecuteStatement", "statements need the query component"});
}

void TORBDataSet::PSStartTransaction() {
  SetDBFlag(dbfProvider, true);
  try {
    FDatabase->StartTransaction();
  } catch (...) {
    SetDBFlag(dbfProvider, false);
    throw;
  }
}

void TORBDataSet::PSEndTransaction(bool commit) {
  if (FDatabase == nullptr) DatabaseError(std::string(kSDatabaseClosed));
  try {
    if (commit)
      FDatabase->Commit(true);
    else
      FDatabase->Rollback();
  } catch (...) {
    SetDBFlag(dbfProvider, false);
    throw;
  }
  SetDBFlag(dbfProvider, false);
}

bool TORBDataSet::PSInTransaction() const { return FHandle != nullptr && FHandle->SessionInTransaction(); }

void TORBDataSet::PSReset() {
  TDataSet::PSReset();
  if (!Active()) return;
  Close();
  Open();
}

bool TORBDataSet::PSUpdateRecord(TUpdateKind kind, TDataSet& delta) {
  if (!OnUpdateRecord) return false;
  TUpdateAction action = uaFail;
  OnUpdateRecord(delta, kind, action);
  return action == uaApplied;
}

}  // namespace orb
