#include "tests/support/vector_dataset.h"

#include <charconv>
#include <cstdlib>

#include "components/host_date_time.h"

namespace orb::test {

// A BLOB value of the active record: reads the pooled bytes, and each
// change stores a new pool entry in the record buffer at once. Its
// destruction announces a change to the field.
class TVectorBlobStream : public TStream {
 public:
  TVectorBlobStream(TVectorDataSet& data_set, TField& field, uint8_t* slot, std::string bytes)
      : FDataSet(data_set), FField(field), FSlot(slot), FBytes(std::move(bytes)) {}
  ~TVectorBlobStream() override {
    if (!FModified) return;
    try {
      FDataSet.DataEvent(deFieldChange, &FField);
    } catch (...) {
      HandleApplicationException(std::current_exception());
    }
  }
  int64_t Read(void* buffer, int64_t count) override {
    const int64_t n = std::max<int64_t>(0, std::min<int64_t>(count, static_cast<int64_t>(FBytes.size()) - FPosition));
    std::memcpy(buffer, FBytes.data() + FPosition, n);
    FPosition += n;
    return n;
  }
  int64_t Write(const void* buffer, int64_t count) override {
    if (FBytes.size() < static_cast<size_t>(FPosition + count)) FBytes.resize(FPosition + count);
    std::memcpy(FBytes.data() + FPosition, buffer, count);
    FPosition += count;
    Store();
    return count;
  }
  int64_t Seek(int64_t offset, TSeekOrigin origin) override {
    FPosition = origin == soBeginning ? offset : origin == soCurrent ? FPosition + offset : FBytes.size() + offset;
    return FPosition;
  }
  void SetSize(int64_t new_size) override {
    FBytes.resize(new_size);
    Store();
  }
  void Store() {
    FDataSet.FBlobPool.push_back(FBytes);
    const int32_t index = static_cast<int32_t>(FDataSet.FBlobPool.size() - 1);
    FSlot[0] = !FBytes.empty();  // an empty value is null
    std::memcpy(FSlot + 1, &index, 4);
    FModified = true;
  }

 private:
  TVectorDataSet& FDataSet;
  TField& FField;
  uint8_t* FSlot;
  std::string FBytes;
  int64_t FPosition = 0;
  bool FModified = false;
};

TVectorDataSet::TVectorDataSet(std::vector<TColumn> columns, TComponent* owner)
    : TDataSet(owner), FColumns(std::move(columns)) {
  for (const TColumn& column : FColumns) {
    const int size = column.DataType == ftMemo || column.DataType == ftFmtMemo || column.DataType == ftBlob || column.DataType == ftWideMemo
                         ? 4
                         : CreateFieldForType(column.DataType, column.Size)->DataSize();
    FSlots.push_back(FRecordSize);
    FSizes.push_back(size);
    FRecordSize += 1 + size;
  }
}

void TVectorDataSet::AddRow(const std::vector<std::string>& values) {
  TRow row{FNextId++, std::vector<uint8_t>(FRecordSize, 0)};
  for (size_t c = 0; c < FColumns.size() && c < values.size(); ++c) {
    const std::string& text = values[c];
    if (text.empty()) continue;
    uint8_t* slot = row.Data.data() + FSlots[c];
    slot[0] = 1;
    switch (FColumns[c].DataType) {
      case ftString:
        std::memcpy(slot + 1, text.data(), std::min<size_t>(text.size(), FColumns[c].Size));
        break;
      case ftSmallint: {
        int16_t v = static_cast<int16_t>(std::atoi(text.c_str()));
        std::memcpy(slot + 1, &v, 2);
        break;
      }
      case ftInteger: {
        int32_t v = std::atoi(text.c_str());
        std::memcpy(slot + 1, &v, 4);
        break;
      }
      case ftLargeint: {
        int64_t v = std::atoll(text.c_str());
        std::memcpy(slot + 1, &v, 8);
        break;
      }
      case ftFloat: {
        double v = std::strtod(text.c_str(), nullptr);
        std::memcpy(slot + 1, &v, 8);
        break;
      }
      case ftBoolean: {
        int16_t v = text == "True" ? 1 : 0;
        std::memcpy(slot + 1, &v, 2);
        break;
      }
      case ftDate: {
        int32_t v = TextToMoment(text, true, false)->Date;
        std::memcpy(slot + 1, &v, 4);
        break;
      }
      case ftMemo:
      case ftFmtMemo: {
        FBlobPool.push_back(text);
        int32_t v = static_cast<int32_t>(FBlobPool.size() - 1);
        std::memcpy(slot + 1, &v, 4);
        break;
      }
      default:
        std::abort();  // a type the tests do not arrange directly
    }
  }
  FRows.push_back(std::move(row));
}

std::string TVectorDataSet::RowText(size_t row, int column) {
  const uint8_t* slot = FRows.at(row).Data.data() + FSlots[column];
  if (!slot[0]) return {};
  switch (FColumns[column].DataType) {
    case ftString:
      return std::string(reinterpret_cast<const char*>(slot + 1), strnlen(reinterpret_cast<const char*>(slot + 1), FColumns[column].Size));
    case ftInteger: {
      int32_t v;
      std::memcpy(&v, slot + 1, 4);
      return std::to_string(v);
    }
    case ftMemo:
    case ftFmtMemo: {
      int32_t v;
      std::memcpy(&v, slot + 1, 4);
      return FBlobPool.at(v);
    }
    default:
      std::abort();
  }
}

int64_t TVectorDataSet::BufferId(int index) const {
  int64_t id;
  std::memcpy(&id, Buffer(index) + FRecordSize, 8);
  return id;
}

void TVectorDataSet::SetMasterSource(TDataSource* source) {
  if (IsLinkedTo(source)) DatabaseError(std::string(kSCircularDataLink));
  FMasterSource = source;
}

int TVectorDataSet::IndexOfId(int64_t id) const {
  for (size_t i = 0; i < FRows.size(); ++i)
    if (FRows[i].Id == id) return static_cast<int>(i);
  return -1;
}

uint8_t* TVectorDataSet::AllocRecordBuffer() { return new uint8_t[FRecordSize + 9 + CalcFieldsSize()](); }

void TVectorDataSet::FreeRecordBuffer(uint8_t*& buffer) {
  delete[] buffer;
  buffer = nullptr;
}

void TVectorDataSet::InternalInitFieldDefs() {
  FieldDefs().Clear();
  for (const TColumn& column : FColumns) FieldDefs().Add(column.Name, column.DataType, column.Size, column.Required);
}

void TVectorDataSet::InternalOpen() {
  InitFieldDefs();
  if (DefaultFields()) CreateFields();
  BindFields(true);
  SetBookmarkSize(8);
  FCursor = -1;
  FCursorOpen = true;
}

void TVectorDataSet::InternalClose() {
  BindFields(false);
  if (DefaultFields()) DestroyFields();
  FCursorOpen = false;
}

TGetResult TVectorDataSet::GetRecord(uint8_t* buffer, TGetMode mode, bool /*do_check*/) {
  const int count = static_cast<int>(FRows.size());
  int pos = FCursor;
  for (;;) {
    if (mode == gmNext) {
      if (pos >= count || ++pos >= count) {
        FCursor = count;
        return grEOF;
      }
    } else if (mode == gmPrior) {
      if (pos < 0 || --pos < 0) {
        FCursor = -1;
        return grBOF;
      }
    } else if (pos < 0 || pos >= count) {
      return pos < 0 ? grBOF : grEOF;
    }
    std::memcpy(buffer, FRows[pos].Data.data(), FRecordSize);
    std::memcpy(buffer + FRecordSize, &FRows[pos].Id, 8);
    buffer[FRecordSize + 8] = bfCurrent;
    if (!Filtered() || DoFilterRecord(buffer)) break;
    if (mode == gmCurrent) return grEOF;
  }
  FCursor = pos;
  ClearCalcFields(buffer);
  GetCalcFields(buffer);
  return grOK;
}

void TVectorDataSet::InternalGotoBookmark(const uint8_t* bookmark) {
  int64_t id;
  std::memcpy(&id, bookmark, 8);
  const int index = IndexOfId(id);
  FCursor = index < 0 ? static_cast<int>(FRows.size()) + 1 : index;  // gone: no current record
}

void TVectorDataSet::InternalPost() {
  TDataSet::InternalPost();
  if (FFailPosts > 0) {
    --FFailPosts;
    DatabaseError("Post refused");
  }
  uint8_t* buffer = ActiveBuffer();
  if (State() == dsEdit) {
    int64_t id;
    std::memcpy(&id, buffer + FRecordSize, 8);
    const int index = IndexOfId(id);
    if (index < 0) DatabaseError(std::string(kSRecordNotFound));
    std::memcpy(FRows[index].Data.data(), buffer, FRecordSize);
    FCursor = index;
    return;
  }
  StoreNew(buffer);
}

void TVectorDataSet::InternalAddRecord(uint8_t* buffer, bool /*append*/) {
  TDataSet::InternalPost();  // required fields
  StoreNew(buffer);
}

void TVectorDataSet::StoreNew(uint8_t* buffer) {
  // A new record goes before the record it was inserted at, or last.
  int index = static_cast<int>(FRows.size());
  if (GetBookmarkFlag(buffer) == bfBOF) {
    index = 0;
  } else if (GetBookmarkFlag(buffer) == bfInserted) {
    int64_t id;
    std::memcpy(&id, buffer + FRecordSize, 8);
    const int at = IndexOfId(id);
    if (at >= 0) index = at;
  }
  TRow row{FNextId++, std::vector<uint8_t>(buffer, buffer + FRecordSize)};
  FRows.insert(FRows.begin() + index, std::move(row));
  FCursor = index;
}

void TVectorDataSet::InternalDelete() {
  int64_t id;
  std::memcpy(&id, ActiveBuffer() + FRecordSize, 8);
  const int index = IndexOfId(id);
  if (index < 0) DatabaseError(std::string(kSRecordNotFound));
  FRows.erase(FRows.begin() + index);
  FCursor = index;
}

int TVectorDataSet::GetRecNo() const {
  const uint8_t* buffer = State() == dsCalcFields ? CalcBuffer() : ActiveBuffer();
  if (State() == dsInsert || !buffer || IsEmpty()) return -1;
  int64_t id;
  std::memcpy(&id, buffer + FRecordSize, 8);
  return IndexOfId(id) + 1;
}

void TVectorDataSet::SetRecNoValue(int value) {
  CheckBrowseMode();
  DoBeforeScroll();
  FCursor = std::clamp(value - 1, 0, static_cast<int>(FRows.size()) - 1);
  Resync(rmCenter);
  DoAfterScroll();
}

bool TVectorDataSet::GetFieldData(const TField& field, void* buffer) {
  uint8_t* record = StateRecordBuffer();
  if (State() == dsOldValue && !field.Calculated()) record = FOldRecord.empty() ? nullptr : FOldRecord.data();
  if (!record) return false;
  const uint8_t* slot = field.Calculated() ? CalcSlot(record, field) : record + Slot(field.FieldNo() - 1);
  if (!slot[0]) return false;
  if (buffer) std::memcpy(buffer, slot + 1, field.DataSize());
  return true;
}

void TVectorDataSet::SetFieldData(TField& field, const void* buffer) {
  if (!IsWriteState(State())) DatabaseError(std::string(kSNotEditing));
  uint8_t* record = StateRecordBuffer();
  if (!record) DatabaseError(std::string(kSNotEditing));
  if (field.Calculated()) {
    uint8_t* slot = CalcSlot(record, field);
    slot[0] = buffer != nullptr;
    if (buffer) std::memcpy(slot + 1, buffer, field.DataSize());
    return;
  }
  field.Validate(buffer);
  uint8_t* slot = record + Slot(field.FieldNo() - 1);
  slot[0] = buffer != nullptr;
  std::memset(slot + 1, 0, FSizes[field.FieldNo() - 1]);
  if (buffer) std::memcpy(slot + 1, buffer, field.DataSize());
  if (State() != dsCalcFields && State() != dsFilter && State() != dsNewValue) DataEvent(deFieldChange, &field);
}

std::unique_ptr<TStream> TVectorDataSet::CreateBlobStream(TField& field, TBlobStreamMode mode) {
  if (mode != bmRead && State() != dsEdit && State() != dsInsert) DatabaseError(std::string(kSNotEditing));
  uint8_t* record = StateRecordBuffer();
  if (!record) return nullptr;
  uint8_t* slot = record + Slot(field.FieldNo() - 1);
  std::string bytes;
  if (slot[0] && mode != bmWrite) {
    int32_t index;
    std::memcpy(&index, slot + 1, 4);
    bytes = FBlobPool.at(index);
  }
  auto stream = std::make_unique<TVectorBlobStream>(*this, field, slot, std::move(bytes));
  if (mode == bmWrite) stream->Store();
  return stream;
}

bool TVectorDataSet::BookmarkValid(const TBookmark& bookmark) {
  if (bookmark.size() != 8) return false;
  int64_t id;
  std::memcpy(&id, bookmark.data(), 8);
  return IndexOfId(id) >= 0;
}

int TVectorDataSet::CompareBookmarks(const TBookmark& b1, const TBookmark& b2) {
  if (b1.empty() || b2.empty()) return b1.empty() && b2.empty() ? 0 : b1.empty() ? 1 : -1;
  int64_t id1, id2;
  std::memcpy(&id1, b1.data(), 8);
  std::memcpy(&id2, b2.data(), 8);
  const int i1 = IndexOfId(id1), i2 = IndexOfId(id2);
  return i1 < i2 ? -1 : i1 > i2 ? 1 : 0;
}

}  // namespace orb::test
