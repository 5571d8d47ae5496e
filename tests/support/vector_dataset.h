#pragma once

// A dataset over a vector of rows, built the way an engine dataset is: it
// overrides the framework's protected operations and keeps a cursor of its
// own (a row index, -1 before the first row, Rows().size() after the last).
//
// Record buffer:
//   offset                 size            meaning
//   Slot(c)                1               has-value flag of column c
//   Slot(c) + 1            DataSize(c)     native value (BLOB: int32 index
//                                          into the BLOB pool)
//   FRecordSize            8               bookmark: the row's id
//   FRecordSize + 8        1               bookmark flag
//   FRecordSize + 9        CalcFieldsSize  calculated-field area
// Rows store the record part (FRecordSize bytes) and a unique id.

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "components/data_source.h"
#include "components/dataset.h"

namespace orb::test {

struct TColumn {
  std::string Name;
  TFieldType DataType;
  int32_t Size = 0;
  bool Required = false;
};

class TVectorDataSet : public TDataSet {
 public:
  struct TRow {
    int64_t Id;
    std::vector<uint8_t> Data;
  };

  explicit TVectorDataSet(std::vector<TColumn> columns, TComponent* owner = nullptr);
  ~TVectorDataSet() override { Destroying(); }

  // Storage, for arranging and checking tests.
  std::vector<TRow>& Rows() { return FRows; }
  // Appends a stored row with the given texts (SetAsString-style, empty =
  // null), one per column, without going through the dataset.
  void AddRow(const std::vector<std::string>& values);
  // The text of column `column` of stored row `row`.
  std::string RowText(size_t row, int column);
  // The id in the bookmark of window buffer `index`.
  int64_t BufferId(int index) const;

  bool ReadOnly() const { return FReadOnly; }
  void SetReadOnly(bool value) { FReadOnly = value; }
  // The next `count` posts raise EDatabaseError("Post refused").
  void FailPosts(int count) { FFailPosts = count; }
  // Master source; a source leading back here is refused.
  TDataSource* GetDataSource() const override { return FMasterSource; }
  void SetMasterSource(TDataSource* source);
  // The id the next stored row gets.
  int64_t NextId() const { return FNextId; }

  bool GetFieldData(const TField& field, void* buffer) override;
  void SetFieldData(TField& field, const void* buffer) override;
  std::unique_ptr<TStream> CreateBlobStream(TField& field, TBlobStreamMode mode) override;
  bool BookmarkValid(const TBookmark& bookmark) override;
  int CompareBookmarks(const TBookmark& b1, const TBookmark& b2) override;

  // Opened up for tests.
  using TDataSet::ActiveBuffer;
  using TDataSet::SetBufferCount;

 protected:
  uint8_t* AllocRecordBuffer() override;
  void FreeRecordBuffer(uint8_t*& buffer) override;
  TGetResult GetRecord(uint8_t* buffer, TGetMode mode, bool do_check) override;
  void InternalOpen() override;
  void InternalClose() override;
  bool IsCursorOpen() const override { return FCursorOpen; }
  void InternalFirst() override { FCursor = -1; }
  void InternalLast() override { FCursor = static_cast<int>(FRows.size()); }
  void InternalInitFieldDefs() override;
  void InternalGotoBookmark(const uint8_t* bookmark) override;
  void InternalSetToRecord(uint8_t* buffer) override { InternalGotoBookmark(buffer + FRecordSize); }
  void InternalInitRecord(uint8_t* buffer) override { std::memset(buffer, 0, FRecordSize); }
  void InternalPost() override;
  // Keeps a copy of the record for OldValue.
  void InternalEdit() override { FOldRecord.assign(ActiveBuffer(), ActiveBuffer() + FRecordSize); }
  void InternalDelete() override;
  void InternalAddRecord(uint8_t* buffer, bool append) override;
  void ClearCalcFields(uint8_t* buffer) override { std::memset(buffer + FRecordSize + 9, 0, CalcFieldsSize()); }
  int GetRecordSize() const override { return FRecordSize; }
  void GetBookmarkData(const uint8_t* buffer, uint8_t* data) const override { std::memcpy(data, buffer + FRecordSize, 8); }
  void SetBookmarkData(uint8_t* buffer, const uint8_t* data) override {
    if (data) std::memcpy(buffer + FRecordSize, data, 8);
  }
  TBookmarkFlag GetBookmarkFlag(const uint8_t* buffer) const override {
    return static_cast<TBookmarkFlag>(buffer[FRecordSize + 8]);
  }
  void SetBookmarkFlag(uint8_t* buffer, TBookmarkFlag flag) override { buffer[FRecordSize + 8] = flag; }
  int GetRecordCount() const override { return static_cast<int>(FRows.size()); }
  int GetRecNo() const override;
  void SetRecNoValue(int value) override;
  bool GetCanModify() const override { return !FReadOnly; }

 private:
  friend class TVectorBlobStream;
  int IndexOfId(int64_t id) const;
  // Stores the new record of `buffer` where its bookmark flag says.
  void StoreNew(uint8_t* buffer);
  int Slot(int column) const { return FSlots[column]; }
  uint8_t* CalcSlot(uint8_t* record, const TField& field) const { return record + FRecordSize + 9 + field.Offset(); }

  std::vector<TColumn> FColumns;
  std::vector<int> FSlots;
  std::vector<int> FSizes;
  int FRecordSize = 0;
  std::vector<TRow> FRows;
  std::vector<std::string> FBlobPool;
  std::vector<uint8_t> FOldRecord;
  int64_t FNextId = 1;
  int FCursor = -1;
  bool FCursorOpen = false;
  bool FReadOnly = false;
  int FFailPosts = 0;
  TDataSource* FMasterSource = nullptr;
};

// A dataset of `n` rows: NUM integer 1…n, NAME string(10) "r1"…, and
// NOTE memo (null).
inline std::unique_ptr<TVectorDataSet> MakeNumbered(int n) {
  auto data_set = std::make_unique<TVectorDataSet>(
      std::vector<TColumn>{{"NUM", ftInteger}, {"NAME", ftString, 10}, {"NOTE", ftMemo}});
  for (int i = 1; i <= n; ++i) data_set->AddRow({std::to_string(i), "r" + std::to_string(i), ""});
  return data_set;
}

// The message of the EDatabaseError that `fn` raises, or "" for none.
template <typename Fn>
std::string DbError(Fn&& fn) {
  try {
    fn();
  } catch (const EDatabaseError& e) {
    return e.Message();
  }
  return {};
}

}  // namespace orb::test
