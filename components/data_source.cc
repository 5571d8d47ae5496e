#include "components/data_source.h"

#include <algorithm>

#include "components/dataset.h"

namespace orb {

// --- TDataSource ---

TDataSource::~TDataSource() {
  while (!FDataLinks.empty()) FDataLinks.back()->SetDataSource(nullptr);
  if (FDataSet) FDataSet->RemoveDataSource(this);
}

bool TDataSource::IsLinkedTo(const TDataSet* data_set) const {
  while (data_set) {
    const TDataSource* source = data_set->GetDataSource();
    if (!source) break;
    if (source == this) return true;
    data_set = source->DataSet();
  }
  return false;
}

void TDataSource::SetDataSet(TDataSet* data_set) {
  if (data_set == FDataSet) return;
  if (IsLinkedTo(data_set)) DatabaseError(std::string(kSCircularDataLink));
  if (FDataSet) FDataSet->RemoveDataSource(this);
  FDataSet = data_set;
  if (FDataSet) FDataSet->AddDataSource(this);
  UpdateState();
  if (FDataSet) FDataSet->UpdateBufferCount();
}

void TDataSource::DataSetDestroyed() {
  FDataSet = nullptr;
  UpdateState();
}

void TDataSource::SetEnabled(bool value) {
  if (FEnabled == value) return;
  FEnabled = value;
  UpdateState();
}

void TDataSource::Edit() {
  if (FAutoEdit && FState == dsBrowse) FDataSet->Edit();
}

void TDataSource::UpdateState() {
  const TDataSetState state = FDataSet && FEnabled ? FDataSet->State() : dsInactive;
  if (state != FState) {
    FState = state;
    NotifyLinks(deUpdateState, nullptr, 0);
    if (OnStateChange) OnStateChange(*this);
  }
}

void TDataSource::DataEvent(TDataEvent event, TField* field, int distance) {
  if (event == deUpdateState) {
    UpdateState();
    return;
  }
  if (FState == dsInactive) return;
  NotifyLinks(event, field, distance);
  switch (event) {
    case deFieldChange:
    case deRecordChange:
    case deDataSetChange:
    case deDataSetScroll:
    case deLayoutChange:
      if (OnDataChange) OnDataChange(*this, event == deFieldChange ? field : nullptr);
      break;
    case deUpdateRecord:
      if (OnUpdateData) OnUpdateData(*this);
      break;
    default:
      break;
  }
}

void TDataSource::NotifyLinks(TDataEvent event, TField* field, int distance) {
  // A link may detach itself while being told; walk a copy.
  const std::vector<TDataLink*> links = FDataLinks;
  for (TDataLink* link : links)
    if (std::find(FDataLinks.begin(), FDataLinks.end(), link) != FDataLinks.end())
      link->DataEvent(event, field, distance);
}

void TDataSource::AddDataLink(TDataLink* link) {
  FDataLinks.push_back(link);
  if (FDataSet) FDataSet->UpdateBufferCount();
}

void TDataSource::RemoveDataLink(TDataLink* link) {
  FDataLinks.erase(std::remove(FDataLinks.begin(), FDataLinks.end(), link), FDataLinks.end());
  if (FDataSet) FDataSet->UpdateBufferCount();
}

// --- TDataLink ---

TDataLink::~TDataLink() {
  if (FDataSource) FDataSource->RemoveDataLink(this);
}

TDataSet* TDataLink::DataSet() const { return FDataSource ? FDataSource->DataSet() : nullptr; }

void TDataLink::SetDataSource(TDataSource* source) {
  if (source == FDataSource) return;
  if (FDataSource) FDataSource->RemoveDataLink(this);
  FDataSource = source;
  if (FDataSource) FDataSource->AddDataLink(this);
  UpdateState();
}

void TDataLink::SetBufferCount(int value) {
  if (value < 1) value = 1;
  if (value == FBufferCount) return;
  FBufferCount = value;
  if (TDataSet* data_set = DataSet()) data_set->UpdateBufferCount();
}

int TDataLink::ActiveRecord() const {
  TDataSet* data_set = DataSet();
  if (!data_set || FDataSource->State() == dsSetKey) return 0;
  return data_set->ActiveRecord();
}

bool TDataLink::Edit() {
  if (!FReadOnly && FDataSource) FDataSource->Edit();
  return FEditing;
}

void TDataLink::UpdateRecord() {
  FUpdating = true;
  try {
    UpdateData();
  } catch (...) {
    FUpdating = false;
    throw;
  }
  FUpdating = false;
}

void TDataLink::UpdateState() {
  const bool active = FDataSource && FDataSource->State() != dsInactive;
  if (active != FActive) {
    FActive = active;
    ActiveChanged();
  }
  const bool editing = active && IsEditState(FDataSource->State()) && !FReadOnly;
  if (editing != FEditing) {
    FEditing = editing;
    EditingChanged();
  }
}

void TDataLink::DataEvent(TDataEvent event, TField* field, int distance) {
  if (event == deUpdateState) {
    UpdateState();
    return;
  }
  if (!FActive) return;
  switch (event) {
    case deFieldChange:
      if (!FUpdating) RecordChanged(field);
      break;
    case deRecordChange:
      if (!FUpdating) RecordChanged(nullptr);
      break;
    case deDataSetChange:
      DataSetChanged();
      break;
    case deDataSetScroll:
      DataSetScrolled(distance);
      break;
    case deLayoutChange:
      LayoutChanged();
      break;
    case deUpdateRecord:
      UpdateRecord();
      break;
    case deCheckBrowseMode:
      CheckBrowseMode();
      break;
    default:
      break;
  }
}

// --- TFieldDataLink ---

void TFieldDataLink::SetFieldName(std::string name) {
  FFieldName = std::move(name);
  UpdateField();
}

void TFieldDataLink::UpdateField() {
  TField* field = nullptr;
  if (Active() && !FFieldName.empty()) field = &DataSet()->FieldByName(FFieldName);
  if (field != FField) {
    FField = field;
    FModified = false;
    if (OnDataChange) OnDataChange(*this);
  }
}

void TFieldDataLink::Reset() {
  FModified = false;
  if (OnDataChange) OnDataChange(*this);
}

bool TFieldDataLink::CanModify() const { return !ReadOnly() && FField && FField->CanModify(); }

void TFieldDataLink::ActiveChanged() {
  UpdateField();
  if (OnActiveChange) OnActiveChange(*this);
}

void TFieldDataLink::EditingChanged() {
  if (OnEditingChange) OnEditingChange(*this);
}

void TFieldDataLink::LayoutChanged() { UpdateField(); }

void TFieldDataLink::RecordChanged(TField* field) {
  if (field == nullptr || field == FField) Reset();
}

void TFieldDataLink::UpdateData() {
  if (FModified) {
    if (FField && OnUpdateData) OnUpdateData(*this);
    FModified = false;
  }
}

// --- TMasterDataLink ---

void TMasterDataLink::SetFieldNames(std::string names) {
  FFieldNames = std::move(names);
  ActiveChanged();
}

void TMasterDataLink::ActiveChanged() {
  FFields.clear();
  if (Active()) {
    for (const std::string& name : SplitFieldNames(FFieldNames)) FFields.push_back(&DataSet()->FieldByName(name));
  }
  if (!FDetail || !FDetail->Active()) return;
  if (Active() && !FFields.empty()) {
    if (OnMasterChange) OnMasterChange(*this);
  } else if (OnMasterDisable) {
    OnMasterDisable(*this);
  }
}

void TMasterDataLink::CheckBrowseMode() {
  if (FDetail && FDetail->Active()) FDetail->CheckBrowseMode();
}

void TMasterDataLink::RecordChanged(TField* field) {
  if (!FDetail || !FDetail->Active() || FFields.empty() || !OnMasterChange) return;
  if (field && std::find(FFields.begin(), FFields.end(), field) == FFields.end()) return;
  OnMasterChange(*this);
}

}  // namespace orb
