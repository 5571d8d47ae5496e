#include "components/dataset.h"

#include <algorithm>

#include "components/data_source.h"

namespace orb {

TDataSet::TDataSet(TComponent* owner) : TComponent(owner), FFields(this), FFieldDefs(this) {}

TDataSet::~TDataSet() {
  // Virtual calls no longer reach the subclass here: a dataset still open
  // now (the subclass did not call Destroying) is only marked closed.
  FState = dsInactive;
  const std::vector<TDataSource*> sources = FDataSources;
  FDataSources.clear();
  for (TDataSource* source : sources) source->DataSetDestroyed();
}

void TDataSet::Destroying() {
  if (ComponentState() & csDestroying) return;
  TComponent::Destroying();
  try {
    if (Active()) SetActive(false);
  } catch (...) {
  }
}

void TDataSet::Fire(const TDataSetNotifyEvent& event, TDataSet& data_set) {
  if (event) event(data_set);
}

// --- opening and closing ---

void TDataSet::SetActive(bool value) {
  if (value == Active()) return;
  if (value) {
    Fire(BeforeOpen, *this);
    try {
      OpenCursor(false);
    } catch (...) {
      try {
        OpenCursorComplete();
      } catch (...) {
      }
      throw;
    }
    OpenCursorComplete();
  } else {
    if (!(ComponentState() & csDestroying)) Fire(BeforeClose, *this);
    SetState(dsInactive);
    CloseCursor();
    if (!(ComponentState() & csDestroying)) Fire(AfterClose, *this);
  }
}

void TDataSet::OpenCursor(bool info_query) {
  if (info_query)
    InternalInitFieldDefs();
  else
    DoInternalOpen();
}

void TDataSet::DoInternalOpen() {
  FDefaultFields = FieldCount() == 0;
  ClearBuffers();
  InternalOpen();
  FInternalOpenComplete = true;
  UpdateBufferCount();
  FBOF = true;
}

void TDataSet::OpenCursorComplete() {
  if (FInternalOpenComplete) {
    SetState(dsBrowse);
    Fire(AfterOpen, *this);
    if (!IsEmpty()) DoAfterScroll();
  } else {
    SetState(dsInactive);
    CloseCursor();
  }
}

void TDataSet::CloseCursor() {
  FInternalOpenComplete = false;
  ClearBuffers();
  SetBufListSize(0);
  FBufferCount = 0;
  InternalClose();
  FDefaultFields = false;
}

void TDataSet::InitFieldDefs() {
  InternalInitFieldDefs();
  FFieldDefs.SetUpdated(true);
}

void TDataSet::CheckActive() const {
  if (FState == dsInactive) DatabaseError(std::string(kSDataSetClosed));
}

void TDataSet::CheckInactive() const {
  if (FState != dsInactive) DatabaseError(std::string(kSDataSetOpen));
}

void TDataSet::CheckCanModify() const {
  if (!CanModify()) DatabaseError(std::string(kSDataSetReadOnly));
}

// --- fields ---

void TDataSet::CreateFields() {
  for (int i = 0; i < FFieldDefs.Count(); ++i) {
    std::unique_ptr<TField> field = FFieldDefs[i].CreateField();
    if (field) FFields.Add(std::move(field));
  }
}

void TDataSet::BindFields(bool binding) {
  FCalcFieldsSize = 0;
  for (int i = 0; i < FFields.Count(); ++i) {
    TField& field = FFields[i];
    field.FFieldNo = 0;
    if (!binding) continue;
    if (field.Calculated() || field.FieldKind() == fkInternalCalc) {
      if (field.IsBlob()) DatabaseErrorFmt(kSCalcFieldNotPersistent, {Ansi(field.DisplayName())});
      if (field.Lookup() && (!field.LookupDataSet() || field.KeyFields().empty() ||
                             field.LookupKeyFields().empty() || field.LookupResultField().empty()))
        DatabaseErrorFmt(kSLookupInfoError, {Ansi(field.DisplayName())});
      field.FOffset = FCalcFieldsSize;
      FCalcFieldsSize += field.DataSize() + 1;
      continue;
    }
    const TFieldDef* def = FFieldDefs.Find(field.FieldName());
    if (!def) DatabaseErrorFmt(kSFieldNotFound, {Ansi(field.FieldName())});
    if (def->DataType() != field.DataType() && !(def->DataType() == ftAutoInc && field.DataType() == ftInteger)) {
      const auto type_name = [](TFieldType t) { return std::to_string(static_cast<int>(t)); };
      DatabaseErrorFmt(kSFieldTypeMismatch,
                       {Ansi(field.DisplayName()), type_name(field.DataType()), type_name(def->DataType())});
    }
    field.FFieldNo = def->FieldNo();
  }
}

void TDataSet::DestroyFields() { FFields.Clear(); }

std::vector<TField*> TDataSet::FieldsByNames(std::string_view names) const {
  std::vector<TField*> fields;
  for (const std::string& name : SplitFieldNames(names)) fields.push_back(&FieldByName(name));
  return fields;
}

// --- buffers ---

uint8_t* TDataSet::ActiveBuffer() const {
  return FActiveRecord < static_cast<int>(FBuffers.size()) ? FBuffers[FActiveRecord] : nullptr;
}

uint8_t* TDataSet::StateRecordBuffer() const {
  switch (FState) {
    case dsBrowse:
      return IsEmpty() ? nullptr : ActiveBuffer();
    case dsEdit:
    case dsInsert:
      return ActiveBuffer();
    case dsCalcFields:
    case dsInternalCalc:
      return FCalcBuffer;
    case dsFilter:
      return FFilterBuffer;
    default:
      return nullptr;
  }
}

void TDataSet::SetBufListSize(int value) {
  while (static_cast<int>(FBuffers.size()) < value) {
    FBuffers.push_back(nullptr);
    FBuffers.back() = AllocRecordBuffer();
  }
  while (static_cast<int>(FBuffers.size()) > value) {
    uint8_t* buffer = FBuffers.back();
    FBuffers.pop_back();
    if (buffer) FreeRecordBuffer(buffer);
  }
}

void TDataSet::ClearBuffers() {
  FRecordCount = 0;
  FActiveRecord = 0;
  FCurrentRecord = -1;
  FBOF = true;
  FEOF = true;
}

void TDataSet::ActivateBuffers() {
  FRecordCount = 1;
  FActiveRecord = 0;
  FCurrentRecord = 0;
  FBOF = false;
  FEOF = false;
}

void TDataSet::MoveBuffer(int cur_index, int new_index) {
  if (cur_index == new_index) return;
  auto begin = FBuffers.begin();
  if (new_index < cur_index)
    std::rotate(begin + new_index, begin + cur_index, begin + cur_index + 1);
  else
    std::rotate(begin + cur_index, begin + cur_index + 1, begin + new_index + 1);
}

void TDataSet::UpdateBufferCount() {
  if (!IsCursorOpen() || !FInternalOpenComplete) return;
  int count = 1;
  for (TDataSource* source : FDataSources)
    for (TDataLink* link : source->FDataLinks) count = std::max(count, link->BufferCount());
  SetBufferCount(count);
}

void TDataSet::SetBufferCount(int value) {
  if (value < 1) value = 1;
  if (value == FBufferCount) return;
  if (value < FBufferCount && FRecordCount > 0) {
    // Keep the active record: drop records before it first, then after it.
    if (FActiveRecord >= value) {
      const int shift = FActiveRecord - value + 1;
      for (int i = 0; i < shift; ++i) MoveBuffer(0, static_cast<int>(FBuffers.size()) - 1);
      FActiveRecord -= shift;
      FRecordCount -= shift;
      if (FCurrentRecord >= 0) FCurrentRecord -= shift;
      if (FCurrentRecord < 0) CursorPosChanged();
    }
    if (FRecordCount > value) {
      FRecordCount = value;
      if (FCurrentRecord >= value) CursorPosChanged();
      FEOF = false;
    }
  }
  SetBufListSize(value + 1);
  FBufferCount = value;
  if (FState == dsBrowse || FState == dsInactive) {
    GetNextRecords();
    GetPriorRecords();
  }
}

void TDataSet::SetCurrentRecord(int index) {
  if (FCurrentRecord == index) return;
  uint8_t* buffer = FBuffers[index];
  switch (GetBookmarkFlag(buffer)) {
    case bfCurrent:
    case bfInserted:
      InternalSetToRecord(buffer);
      break;
    case bfBOF:
      InternalFirst();
      break;
    case bfEOF:
      InternalLast();
      break;
  }
  FCurrentRecord = index;
}

void TDataSet::UpdateCursorPos() {
  if (FRecordCount > 0) SetCurrentRecord(FActiveRecord);
}

bool TDataSet::GetNextRecord() {
  TGetMode mode = gmNext;
  if (FRecordCount > 0) {
    SetCurrentRecord(FRecordCount - 1);
    if (FState == dsInsert && FCurrentRecord == FActiveRecord && GetBookmarkFlag(ActiveBuffer()) == bfCurrent)
      mode = gmCurrent;
  }
  const bool ok = GetRecord(FBuffers[FRecordCount], mode, true) == grOK;
  if (ok) {
    if (FRecordCount == 0)
      ActivateBuffers();
    else if (FRecordCount < FBufferCount)
      ++FRecordCount;
    else
      MoveBuffer(0, FRecordCount);
    FCurrentRecord = FRecordCount - 1;
  } else {
    CursorPosChanged();
  }
  return ok;
}

bool TDataSet::GetPriorRecord() {
  if (FRecordCount > 0) SetCurrentRecord(0);
  const bool ok = GetRecord(FBuffers[FRecordCount], gmPrior, true) == grOK;
  if (ok) {
    if (FRecordCount == 0) {
      ActivateBuffers();
    } else {
      MoveBuffer(FRecordCount, 0);
      if (FRecordCount < FBufferCount) {
        ++FRecordCount;
        ++FActiveRecord;
      }
    }
    FCurrentRecord = 0;
  } else {
    CursorPosChanged();
  }
  return ok;
}

int TDataSet::GetNextRecords() {
  int count = 0;
  while (FRecordCount < FBufferCount && GetNextRecord()) ++count;
  return count;
}

int TDataSet::GetPriorRecords() {
  int count = 0;
  while (FRecordCount < FBufferCount && GetPriorRecord()) ++count;
  return count;
}

void TDataSet::Resync(TResyncMode mode) {
  uint8_t* scratch = FBuffers[FRecordCount];
  if (mode & rmExact) {
    CursorPosChanged();
    if (GetRecord(scratch, gmCurrent, true) != grOK) DatabaseError(std::string(kSRecordNotFound));
  } else if (GetRecord(scratch, gmCurrent, false) != grOK && GetRecord(scratch, gmNext, false) != grOK &&
             GetRecord(scratch, gmPrior, false) != grOK) {
    ClearBuffers();
    DataEvent(deDataSetChange);
    return;
  }
  int count = (mode & rmCenter) ? (FBufferCount - 1) / 2 : FActiveRecord;
  MoveBuffer(FRecordCount, 0);
  ActivateBuffers();
  try {
    while (count > 0 && GetPriorRecord()) --count;
    GetNextRecords();
    GetPriorRecords();
  } catch (...) {
    DataEvent(deDataSetChange);
    throw;
  }
  DataEvent(deDataSetChange);
}

// --- navigation ---

void TDataSet::DoBeforeScroll() { Fire(BeforeScroll, *this); }
void TDataSet::DoAfterScroll() { Fire(AfterScroll, *this); }

void TDataSet::First() {
  CheckBrowseMode();
  DoBeforeScroll();
  ClearBuffers();
  try {
    InternalFirst();
    GetNextRecord();
    GetNextRecords();
  } catch (...) {
    FBOF = true;
    DataEvent(deDataSetChange);
    throw;
  }
  FBOF = true;
  DataEvent(deDataSetChange);
  DoAfterScroll();
}

void TDataSet::Last() {
  CheckBrowseMode();
  DoBeforeScroll();
  ClearBuffers();
  try {
    InternalLast();
    GetPriorRecord();
    GetPriorRecords();
  } catch (...) {
    FEOF = true;
    DataEvent(deDataSetChange);
    throw;
  }
  FEOF = true;
  DataEvent(deDataSetChange);
  DoAfterScroll();
}

int TDataSet::MoveBy(int distance) {
  CheckBrowseMode();
  int result = 0;
  DoBeforeScroll();
  if ((distance > 0 && !FEOF) || (distance < 0 && !FBOF)) {
    FBOF = false;
    FEOF = false;
    int scroll_count = 0;
    try {
      while (distance > 0) {
        if (FActiveRecord < FRecordCount - 1) {
          ++FActiveRecord;
        } else {
          const int shifted = FRecordCount < FBufferCount ? 0 : 1;
          if (!GetNextRecord()) {
            FEOF = true;
            break;
          }
          scroll_count -= shifted;
          if (FActiveRecord < FRecordCount - 1) ++FActiveRecord;
        }
        --distance;
        ++result;
      }
      while (distance < 0) {
        if (FActiveRecord > 0) {
          --FActiveRecord;
        } else {
          const int shifted = FRecordCount < FBufferCount ? 0 : 1;
          if (!GetPriorRecord()) {
            FBOF = true;
            break;
          }
          scroll_count += shifted;
          if (FActiveRecord > 0) --FActiveRecord;
        }
        ++distance;
        --result;
      }
    } catch (...) {
      DataEvent(deDataSetScroll, nullptr, scroll_count);
      throw;
    }
    DataEvent(deDataSetScroll, nullptr, scroll_count);
    DoAfterScroll();
  }
  return result;
}

void TDataSet::Refresh() {
  CheckBrowseMode();
  Fire(BeforeRefresh, *this);
  UpdateCursorPos();
  InternalRefresh();
  Resync(0);
  Fire(AfterRefresh, *this);
}

// --- editing ---

void TDataSet::CheckOperation(const std::function<void()>& operation, const TDataSetErrorEvent& error_event) {
  for (;;) {
    try {
      UpdateCursorPos();
      operation();
      return;
    } catch (EDatabaseError& error) {
      TDataAction action = daFail;
      if (error_event) error_event(*this, error, action);
      if (action == daFail) throw;
      if (action == daAbort) Abort();
    }
  }
}

void TDataSet::Edit() {
  if (FState == dsEdit || FState == dsInsert) return;
  if (FRecordCount == 0) return Insert();
  CheckBrowseMode();
  CheckCanModify();
  Fire(BeforeEdit, *this);
  CheckOperation([this] { InternalEdit(); }, OnEditError);
  GetCalcFields(ActiveBuffer());
  SetState(dsEdit);
  DataEvent(deRecordChange);
  Fire(AfterEdit, *this);
}

void TDataSet::InitRecord(uint8_t* buffer) {
  InternalInitRecord(buffer);
  ClearCalcFields(buffer);
  SetBookmarkFlag(buffer, bfInserted);
}

void TDataSet::BeginInsertAppend() {
  CheckBrowseMode();
  CheckCanModify();
  Fire(BeforeInsert, *this);
}

void TDataSet::DoOnNewRecord() { Fire(OnNewRecord, *this); }

void TDataSet::EndInsertAppend() {
  SetState(dsInsert);
  try {
    DoOnNewRecord();
  } catch (...) {
    // The new record is abandoned: back to the record it was inserted at.
    UpdateCursorPos();
    InternalCancel();
    SetState(dsBrowse);
    Resync(0);
    throw;
  }
  FModified = false;
  DataEvent(deDataSetChange);
  Fire(AfterInsert, *this);
}

void TDataSet::Insert() {
  BeginInsertAppend();
  const TBookmark old_current = Bookmark();
  MoveBuffer(FRecordCount, FActiveRecord);
  uint8_t* buffer = ActiveBuffer();
  InitRecord(buffer);
  if (FRecordCount == 0)
    SetBookmarkFlag(buffer, bfBOF);
  else
    SetBookmarkData(buffer, old_current.empty() ? nullptr : old_current.data());
  if (FRecordCount < FBufferCount) ++FRecordCount;
  InternalInsert();
  EndInsertAppend();
}

void TDataSet::Append() {
  BeginInsertAppend();
  ClearBuffers();
  uint8_t* buffer = FBuffers[0];
  InitRecord(buffer);
  SetBookmarkFlag(buffer, bfEOF);
  FRecordCount = 1;
  FBOF = false;
  GetPriorRecords();
  InternalInsert();
  EndInsertAppend();
}

void TDataSet::SetFields(const std::vector<TORBVariant>& values) {
  for (size_t i = 0; i < values.size() && static_cast<int>(i) < FFields.Count(); ++i)
    FFields[static_cast<int>(i)].SetAsVariant(values[i]);
}

void TDataSet::AddRecord(const std::vector<TORBVariant>& values, bool append) {
  BeginInsertAppend();
  if (!append) UpdateCursorPos();
  DisableControls();
  try {
    uint8_t* buffer;
    if (append) {
      ClearBuffers();
      buffer = FBuffers[0];
      InitRecord(buffer);
      SetBookmarkFlag(buffer, bfEOF);
      FRecordCount = 1;
      FBOF = false;
    } else {
      const TBookmark old_current = Bookmark();
      MoveBuffer(FRecordCount, FActiveRecord);
      buffer = ActiveBuffer();
      InitRecord(buffer);
      if (FRecordCount == 0)
        SetBookmarkFlag(buffer, bfBOF);
      else
        SetBookmarkData(buffer, old_current.empty() ? nullptr : old_current.data());
      if (FRecordCount < FBufferCount) ++FRecordCount;
    }
    SetState(dsInsert);
    try {
      SetFields(values);
      Fire(BeforePost, *this);
      CheckOperation([this, buffer, append] { InternalAddRecord(buffer, append); }, OnPostError);
    } catch (...) {
      UpdateCursorPos();
      InternalCancel();
      SetState(dsBrowse);
      Resync(0);
      throw;
    }
    SetState(dsBrowse);
    Resync(0);
    Fire(AfterPost, *this);
  } catch (...) {
    EnableControls();
    throw;
  }
  EnableControls();
}

void TDataSet::UpdateRecord() {
  if (!IsEditState(FState)) DatabaseError(std::string(kSNotEditing));
  DataEvent(deUpdateRecord);
}

void TDataSet::Post() {
  // A browsed record has no pending change: nothing to post.
  if (FState == dsBrowse) return;
  UpdateRecord();
  if (FState != dsEdit && FState != dsInsert) return;
  DataEvent(deCheckBrowseMode);
  Fire(BeforePost, *this);
  CheckOperation([this] { InternalPost(); }, OnPostError);
  SetState(dsBrowse);
  Resync(0);
  Fire(AfterPost, *this);
}

void TDataSet::InternalPost() {
  for (int i = 0; i < FFields.Count(); ++i) {
    const TField& field = FFields[i];
    if (field.Required() && !field.ReadOnly() && field.FieldKind() == fkData && field.IsNull())
      DatabaseErrorFmt(kSFieldRequired, {Ansi(field.DisplayName())});
  }
}

void TDataSet::Cancel() {
  if (FState != dsEdit && FState != dsInsert) return;
  DataEvent(deCheckBrowseMode);
  Fire(BeforeCancel, *this);
  UpdateCursorPos();
  InternalCancel();
  SetState(dsBrowse);
  Resync(0);
  Fire(AfterCancel, *this);
}

void TDataSet::Delete() {
  CheckActive();
  if (FState == dsInsert || FState == dsSetKey) return Cancel();
  if (FRecordCount == 0) DatabaseError(std::string(kSDataSetEmpty));
  DataEvent(deCheckBrowseMode);
  Fire(BeforeDelete, *this);
  DoBeforeScroll();
  CheckOperation([this] { InternalDelete(); }, OnDeleteError);
  SetState(dsBrowse);
  Resync(0);
  Fire(AfterDelete, *this);
  DoAfterScroll();
}

void TDataSet::CheckBrowseMode() {
  CheckActive();
  DataEvent(deCheckBrowseMode);
  switch (FState) {
    case dsEdit:
    case dsInsert:
      UpdateRecord();
      if (FModified)
        Post();
      else
        Cancel();
      break;
    case dsSetKey:
      Post();
      break;
    default:
      break;
  }
}

// --- bookmarks ---

bool TDataSet::BookmarkAvailable() const {
  return (FState == dsBrowse || FState == dsEdit || FState == dsInsert) && !IsEmpty() &&
         GetBookmarkFlag(ActiveBuffer()) == bfCurrent;
}

TBookmark TDataSet::Bookmark() const {
  if (!BookmarkAvailable() || FBookmarkSize <= 0) return {};
  TBookmark bookmark(FBookmarkSize);
  GetBookmarkData(ActiveBuffer(), bookmark.data());
  return bookmark;
}

void TDataSet::GotoBookmark(const TBookmark& bookmark) {
  if (bookmark.empty()) return;
  CheckBrowseMode();
  if (static_cast<int>(bookmark.size()) != FBookmarkSize) DatabaseError(std::string(kSInvalidBookmark));
  DoBeforeScroll();
  InternalGotoBookmark(bookmark.data());
  Resync(rmExact | rmCenter);
  DoAfterScroll();
}

// --- states and notifications ---

TORBVariant TDataSet::ValueInState(const TField& field, TDataSetState state) {
  const TDataSetState saved = SetTempState(state);
  try {
    TORBVariant value = field.AsVariant();
    RestoreState(saved);
    return value;
  } catch (...) {
    RestoreState(saved);
    throw;
  }
}

void TDataSet::SetState(TDataSetState state) {
  if (FState == state) return;
  FState = state;
  FModified = false;
  DataEvent(deUpdateState);
}

TDataSetState TDataSet::SetTempState(TDataSetState state) {
  const TDataSetState old = FState;
  FState = state;
  ++FDisableCount;
  return old;
}

void TDataSet::RestoreState(TDataSetState state) {
  FState = state;
  --FDisableCount;
}

void TDataSet::DisableControls() {
  if (FDisableCount == 0) {
    FDisableState = FState;
    FEnableEvent = deDataSetChange;
  }
  ++FDisableCount;
}

void TDataSet::EnableControls() {
  if (FDisableCount == 0) return;
  if (--FDisableCount != 0) return;
  if (FDisableState != FState) DataEvent(deUpdateState);
  if (FDisableState != dsInactive && FState != dsInactive) DataEvent(FEnableEvent);
}

void TDataSet::DataEvent(TDataEvent event, TField* field, int distance) {
  if (event == dePropertyChange) FFieldDefs.SetUpdated(false);
  if (event == deFieldChange && field) {
    if (field->FieldKind() == fkData || field->FieldKind() == fkInternalCalc) FModified = true;
    field->Change();
    if (FState != dsSetKey && FAutoCalcFields && FCalcFieldsSize > 0 && !field->Calculated() &&
        (FState == dsEdit || FState == dsInsert))
      GetCalcFields(ActiveBuffer());
  }
  if (!ControlsDisabled() && FState != dsBlockRead) {
    const std::vector<TDataSource*> sources = FDataSources;
    for (TDataSource* source : sources) source->DataEvent(event, field, distance);
  } else if ((event == deUpdateState && FState == dsInactive) || event == deLayoutChange) {
    FEnableEvent = deLayoutChange;
  }
}

void TDataSet::AddDataSource(TDataSource* data_source) { FDataSources.push_back(data_source); }

void TDataSet::RemoveDataSource(TDataSource* data_source) {
  FDataSources.erase(std::remove(FDataSources.begin(), FDataSources.end(), data_source), FDataSources.end());
  UpdateBufferCount();
}

bool TDataSet::IsLinkedTo(const TDataSource* data_source) const {
  while (data_source) {
    const TDataSet* data_set = data_source->DataSet();
    if (!data_set) break;
    if (data_set == this) return true;
    data_source = data_set->GetDataSource();
  }
  return false;
}

void TDataSet::InternalHandleException(std::exception_ptr error) { HandleApplicationException(error); }

// --- calculated fields and filters ---

void TDataSet::GetCalcFields(uint8_t* buffer) {
  if (FCalcFieldsSize == 0 || !buffer) return;
  const TDataSetState saved_state = SetTempState(dsCalcFields);
  uint8_t* saved_buffer = FCalcBuffer;
  const bool saved_modified = FModified;
  FCalcBuffer = buffer;
  try {
    for (int i = 0; i < FFields.Count(); ++i)
      if (FFields[i].Lookup()) CalculateLookup(FFields[i]);
    Fire(OnCalcFields, *this);
  } catch (...) {
    FCalcBuffer = saved_buffer;
    RestoreState(saved_state);
    FModified = saved_modified;
    throw;
  }
  FCalcBuffer = saved_buffer;
  RestoreState(saved_state);
  FModified = saved_modified;
}

void TDataSet::CalculateLookup(TField& field) {
  TDataSet* lookup = field.LookupDataSet();
  if (!lookup || !lookup->Active()) return field.SetData(nullptr);
  std::vector<TORBVariant> keys;
  for (TField* key : FieldsByNames(field.KeyFields())) keys.push_back(key->AsVariant());
  std::vector<TORBVariant> values = lookup->Lookup(field.LookupKeyFields(), keys, field.LookupResultField());
  if (values.empty())
    field.SetData(nullptr);
  else
    field.SetAsVariant(values.front());
}

bool TDataSet::DoFilterRecord(uint8_t* buffer) {
  if (!FOnFilterRecord) return true;
  bool accept = true;
  const TDataSetState saved_state = SetTempState(dsFilter);
  uint8_t* saved_buffer = FFilterBuffer;
  FFilterBuffer = buffer;
  try {
    FOnFilterRecord(*this, accept);
  } catch (...) {
    InternalHandleException(std::current_exception());
  }
  FFilterBuffer = saved_buffer;
  RestoreState(saved_state);
  return accept;
}

void TDataSet::SetFilteredValue(bool value) {
  if (Active()) {
    CheckBrowseMode();
    if (FFiltered == value) return;
    FFiltered = value;
    if (value)
      First();
    else
      Refresh();
  } else {
    FFiltered = value;
  }
}

void TDataSet::SetFilterText(std::string text) {
  if (Active()) CheckBrowseMode();
  FFilterText = std::move(text);
  if (Active() && FFiltered) First();
}

void TDataSet::SetFilterOptions(TFilterOptions options) {
  if (Active()) CheckBrowseMode();
  FFilterOptions = options;
  if (Active() && FFiltered) First();
}

void TDataSet::SetOnFilterRecord(TFilterRecordEvent event) {
  if (Active()) CheckBrowseMode();
  FOnFilterRecord = std::move(event);
  if (Active() && FFiltered) First();
}

// --- searching ---

bool TDataSet::ScanRecords(bool restart, bool go_forward, const std::function<bool()>& match) {
  UpdateCursorPos();
  CursorPosChanged();
  if (restart) {
    if (go_forward)
      InternalFirst();
    else
      InternalLast();
  }
  uint8_t* scratch = FBuffers[FRecordCount];
  const TDataSetState saved_state = SetTempState(dsFilter);
  uint8_t* saved_buffer = FFilterBuffer;
  FFilterBuffer = scratch;
  bool found = false;
  try {
    while (GetRecord(scratch, go_forward ? gmNext : gmPrior, true) == grOK) {
      if (match()) {
        found = true;
        break;
      }
    }
  } catch (...) {
    FFilterBuffer = saved_buffer;
    RestoreState(saved_state);
    throw;
  }
  FFilterBuffer = saved_buffer;
  RestoreState(saved_state);
  return found;
}

bool TDataSet::MatchesKey(const std::vector<TField*>& fields, const std::vector<TORBVariant>& values,
                          TLocateOptions options) const {
  for (size_t i = 0; i < fields.size(); ++i) {
    const TORBVariant value = fields[i]->AsVariant();
    const TORBVariant& key = values[i];
    if (key.IsNull() || value.IsNull()) {
      if (key.IsNull() != value.IsNull()) return false;
      continue;
    }
    const bool text = value.IsStringDataType() || value.IsWideStringDataType();
    const bool case_insensitive = text && (options & loCaseInsensitive);
    const bool partial = text && (options & loPartialKey);
    if (value.Compare(key, false, case_insensitive, partial) != cmprEqual) return false;
  }
  return true;
}

bool TDataSet::FindRecord(bool restart, bool go_forward) {
  CheckBrowseMode();
  DoBeforeScroll();
  FFound = false;
  const bool found = ScanRecords(restart, go_forward, [this] { return DoFilterRecord(FFilterBuffer); });
  if (!found) {
    CursorPosChanged();
    return false;
  }
  Resync(rmExact | rmCenter);
  FFound = true;
  DoAfterScroll();
  return true;
}

bool TDataSet::Locate(std::string_view key_fields, const std::vector<TORBVariant>& key_values,
                      TLocateOptions options) {
  CheckBrowseMode();
  const std::vector<TField*> fields = FieldsByNames(key_fields);
  if (fields.size() != key_values.size())
    DatabaseErrorFmt(kSKeyValueCount, {static_cast<int>(key_values.size()), static_cast<int>(fields.size())});
  DoBeforeScroll();
  const bool found = ScanRecords(true, true, [&] { return MatchesKey(fields, key_values, options); });
  if (!found) {
    CursorPosChanged();
    return false;
  }
  Resync(rmExact | rmCenter);
  DoAfterScroll();
  return true;
}

std::vector<TORBVariant> TDataSet::Lookup(std::string_view key_fields, const std::vector<TORBVariant>& key_values,
                                          std::string_view result_fields) {
  CheckBrowseMode();
  const std::vector<TField*> fields = FieldsByNames(key_fields);
  if (fields.size() != key_values.size())
    DatabaseErrorFmt(kSKeyValueCount, {static_cast<int>(key_values.size()), static_cast<int>(fields.size())});
  const std::vector<TField*> results = FieldsByNames(result_fields);
  std::vector<TORBVariant> values;
  ScanRecords(true, true, [&] {
    if (!MatchesKey(fields, key_values, 0)) return false;
    for (TField* field : results) values.push_back(field->AsVariant());
    return true;
  });
  CursorPosChanged();
  return values;
}

}  // namespace orb
