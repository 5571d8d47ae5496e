#pragma once

// Cursors on tables of the "MEMORY" (or "TEMP") database: a connected
// session, a table with one field of each main kind, cursors with their own
// record buffers, and helpers to insert, read and walk records.

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/base/field_defs.h"
#include "engine/base/index_defs.h"
#include "engine/base/variant.h"
#include "engine/cursor/local_cursor.h"
#include "engine/platform/codepage.h"
#include "engine/session/local_session.h"
#include "tests/support/raised.h"

namespace orb::test {

// Field numbers of the standard table.
constexpr int32_t kID = 0;
constexpr int32_t kName = 1;
constexpr int32_t kBorn = 2;
constexpr int32_t kScore = 3;
constexpr int32_t kActive = 4;
constexpr int32_t kNote = 5;
constexpr int32_t kGroup = 6;

inline void AddField(TORBFieldDefs& defs, const std::u16string& name, TORBAdvancedFieldType type, int32_t size = 0) {
  TORBFieldDef* f = defs.AddCreated();
  f->SetName(std::u16string_view(name));
  f->SetFieldDefDataType(type, size);
}

inline TORBIndexDef* AddIndexDef(TORBIndexDefs& defs, const std::string& name,
                                 const std::vector<std::u16string>& columns, bool unique = false,
                                 bool descending = false) {
  TORBIndexDef* d = defs.AddCreated();
  d->SetName(std::string_view(name));
  d->SetColumnCount(static_cast<int32_t>(columns.size()));
  for (size_t i = 0; i < columns.size(); ++i) {
    d->GetIndexColumn(static_cast<int32_t>(i))->SetFieldName(columns[i]);
    d->GetIndexColumn(static_cast<int32_t>(i))->FDescending = descending;
  }
  d->FUnique = unique;
  return d;
}

// A record holder of the user's side for a BLOB stream.
class RecordingHolder : public TORBBLOBStreamHolder {
 public:
  void BLOBStreamClosed() override { ++FClosed; }
  int FClosed = 0;
};

// One row of the standard table.
struct Row {
  int32_t ID = 0;
  std::string Name;
  double Score = 0;
  bool Active = false;
  std::string Note;
  int32_t Group = 0;
};

class CursorTest : public ::testing::Test {
 protected:
  explicit CursorTest(const std::u16string& database = u"MEMORY") {
    FSession.FDatabaseName = database;
    FSession.SetConnected(true);
    static int counter = 0;
    FTableName = u"T" + Utf8ToWide(std::to_string(++counter));
  }
  ~CursorTest() override {
    for (auto& [cursor, buffer] : FCursors) cursor->FreeRecordBuffer(buffer);
    for (auto& [cursor, buffer] : FCursors) cursor->CloseTable();
    try {
      TORBLocalCursor dropper;
      dropper.FSession = &FSession;
      dropper.FTableName = FTableName;
      if (FSession.DatabaseData()->TableExists(FTableName)) dropper.DeleteTable();
    } catch (...) {
    }
    FCursors.clear();
    FSession.SetConnected(false);
  }

  static void StandardFields(TORBFieldDefs& fields) {
    AddField(fields, u"ID", aftInteger);
    AddField(fields, u"NAME", aftString, 20);
    AddField(fields, u"BORN", aftDate);
    AddField(fields, u"SCORE", aftDouble);
    AddField(fields, u"ACTIVE", aftBoolean);
    AddField(fields, u"NOTE", aftMemo);
    AddField(fields, u"GRP", aftInteger);
  }

  // Creates the table (replacing one of that name).
  void CreateTable(const TORBFieldDefs& fields, const TORBIndexDefs& indexes = TORBIndexDefs(),
                   const TORBConstraintDefs& constraints = TORBConstraintDefs()) {
    TORBLocalCursor creator;
    creator.FSession = &FSession;
    creator.FTableName = FTableName;
    creator.CreateTable(fields, indexes, constraints);
  }
  void CreateStandardTable(const TORBIndexDefs& indexes = TORBIndexDefs(),
                           const TORBConstraintDefs& constraints = TORBConstraintDefs()) {
    TORBFieldDefs fields;
    StandardFields(fields);
    CreateTable(fields, indexes, constraints);
  }

  // An open cursor with a record buffer of its own as current buffer.
  TORBLocalCursor& Open() {
    auto cursor = std::make_unique<TORBLocalCursor>();
    cursor->FSession = &FSession;
    cursor->FTableName = FTableName;
    cursor->OpenTableByFieldDefs(TORBFieldDefs(), TORBIndexDefs(), TORBConstraintDefs());
    uint8_t* buffer = cursor->AllocateRecordBuffer();
    cursor->FCurrentRecordBuffer = buffer;
    FCursors.emplace_back(std::move(cursor), buffer);
    return *FCursors.back().first;
  }
  uint8_t*& BufferOf(const TORBLocalCursor& cursor) {
    for (auto& [c, buffer] : FCursors)
      if (c.get() == &cursor) return buffer;
    throw std::logic_error("no such cursor");
  }

  static void SetInt(TORBLocalCursor& c, int32_t field_no, std::optional<int32_t> value, uint8_t* buffer = nullptr) {
    TORBVariant v(bftSignedInt32);
    if (value) v.SetAsInteger(*value);
    c.SetFieldValue(v, field_no, false, buffer);
  }
  static void SetText(TORBLocalCursor& c, int32_t field_no, const std::string& text, uint8_t* buffer = nullptr) {
    TORBVariant v;
    v.SetAsAnsiString(text);
    c.SetFieldValue(v, field_no, false, buffer);
  }
  static std::optional<int32_t> GetInt(const TORBLocalCursor& c, int32_t field_no) {
    TORBVariant v;
    c.GetFieldValue(v, field_no, false);
    if (v.IsNull()) return std::nullopt;
    return v.AsInteger();
  }
  static std::string GetText(const TORBLocalCursor& c, int32_t field_no) {
    TORBVariant v;
    c.GetFieldValue(v, field_no, false);
    return v.IsNull() ? "<null>" : v.AsAnsiString();
  }
  static void WriteMemo(TORBLocalCursor& c, int32_t field_no, const std::string& text, bool inserting) {
    TORBLocalBLOBStream* stream = c.InternalCreateBlobStream(inserting, !inserting, field_no, bomWrite, false);
    ASSERT_NE(stream, nullptr);
    stream->Write(text.data(), static_cast<int64_t>(text.size()));
    c.InternalCloseBLOB(stream);
  }
  static std::string ReadMemo(TORBLocalCursor& c, int32_t field_no) {
    TORBLocalBLOBStream* stream = c.InternalCreateBlobStream(false, false, field_no, bomRead, true);
    if (stream == nullptr) return "<none>";
    std::string text(static_cast<size_t>(stream->GetSize()), '\0');
    stream->Read(text.data(), static_cast<int64_t>(text.size()));
    c.InternalCloseBLOB(stream);
    return text;
  }

  // Inserts a row through the cursor's current buffer; returns the status.
  static int32_t Insert(TORBLocalCursor& c, const Row& row) {
    uint8_t* buffer = c.FCurrentRecordBuffer;
    c.InternalInitRecord(buffer, true);
    SetInt(c, kID, row.ID);
    SetText(c, kName, row.Name);
    TORBVariant score(bftDouble);
    score.SetAsDouble(row.Score);
    c.SetFieldValue(score, kScore, false);
    TORBVariant active(bftLogical);
    active.SetAsBoolean(row.Active);
    c.SetFieldValue(active, kActive, false);
    SetInt(c, kGroup, row.Group);
    if (!row.Note.empty()) WriteMemo(c, kNote, row.Note, true);
    c.InternalPost(true);
    return c.FErrorCode;
  }
  void InsertRows(TORBLocalCursor& c, const std::vector<Row>& rows) {
    for (const Row& row : rows) ASSERT_EQ(Insert(c, row), 0) << row.ID;
  }
  // IDs in view order.
  static std::vector<int32_t> Walk(TORBLocalCursor& c, bool forward = true) {
    std::vector<int32_t> ids;
    if (forward)
      c.InternalFirst();
    else
      c.InternalLast();
    while (c.GetRecordBuffer(forward ? grmNext : grmPrior) == grrOK) ids.push_back(GetInt(c, kID).value_or(-1));
    return ids;
  }
  // Moves to the record with `id` (physical order scan).
  static bool MoveToID(TORBLocalCursor& c, int32_t id) {
    c.InternalFirst();
    while (c.GetRecordBuffer(grmNext) == grrOK)
      if (GetInt(c, kID) == id) return true;
    return false;
  }
  // Starts an edit of the current record, as the dataset does: a copy of
  // the record as it is now becomes the edit buffer.
  uint8_t* BeginEdit(TORBLocalCursor& c) {
    FEditCopies.emplace_back(c.FCurrentRecordBuffer, c.FCurrentRecordBuffer + c.FRecordBufferSize);
    c.FEditRecordBuffer = FEditCopies.back().data();
    c.InternalEdit();
    return c.FEditRecordBuffer;
  }

  std::vector<Row> FiveRows() {
    return {{1, "dave", 40, true, "", 1},
            {2, "alice", 75, false, "", 2},
            {3, "erin", 90, true, "", 1},
            {4, "bob", 10, false, "", 2},
            {5, "carol", 60, true, "", 1}};
  }

  TORBLocalSession FSession;
  std::u16string FTableName;
  std::vector<std::pair<std::unique_ptr<TORBLocalCursor>, uint8_t*>> FCursors;
  std::vector<std::vector<uint8_t>> FEditCopies;
};

}  // namespace orb::test
