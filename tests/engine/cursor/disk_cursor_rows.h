#pragma once

// Cursors on table T (ID, VAL: two integers) of a database file, used by
// the multi-process cursor tests and by their child program: a session on
// the file, and a cursor with its own record buffer that moves to rows by
// ID and edits, posts and deletes them the way the dataset does. Table N
// (NO auto-increment, NOTE memo) takes notes numbered by the engine.

#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/base/field_defs.h"
#include "engine/base/index_defs.h"
#include "engine/base/variant.h"
#include "engine/cursor/local_cursor.h"
#include "engine/platform/codepage.h"
#include "engine/session/local_session.h"

namespace orb::cursortest {

inline constexpr int32_t kRowID = 0;
inline constexpr int32_t kRowVal = 1;
inline const std::u16string kRowTable = u"T";

inline std::unique_ptr<TORBLocalSession> MakeFileSession(const std::string& path, bool multi_user) {
  auto session = std::make_unique<TORBLocalSession>();
  session->FDatabaseFileName = PathToWide(path);
  session->FMultiUser = multi_user;
  session->FMaxSessionCount = 8;
  return session;
}

// Creates the file with an empty table T.
inline void CreateRowsDatabase(const std::string& path) {
  auto session = MakeFileSession(path, false);
  session->CreateDatabase();
  session->SetConnected(true);
  TORBFieldDefs fields;
  for (const char16_t* name : {u"ID", u"VAL"}) {
    TORBFieldDef* f = fields.AddCreated();
    f->SetName(std::u16string_view(name));
    f->SetFieldDefDataType(aftInteger, 0);
  }
  TORBLocalCursor creator;
  creator.FSession = session.get();
  creator.FTableName = kRowTable;
  creator.CreateTable(fields, TORBIndexDefs(), TORBConstraintDefs());
  session->SetConnected(false);
}

class TRowCursor {
 public:
  // Opens T for `session` with short lock waits: `tries` attempts `delay_ms`
  // apart for every lock.
  explicit TRowCursor(TORBLocalSession& session, int32_t tries = 5, int32_t delay_ms = 10) {
    FCursor.FSession = &session;
    FCursor.FTableName = kRowTable;
    FCursor.OpenTableByFieldDefs(TORBFieldDefs(), TORBIndexDefs(), TORBConstraintDefs());
    FBuffer = FCursor.AllocateRecordBuffer();
    FCursor.FCurrentRecordBuffer = FBuffer;
    FCursor.FLockWaits = {{tries, delay_ms}, {tries, delay_ms}, {tries, delay_ms}, {tries, delay_ms},
                          {tries, delay_ms}};
  }
  ~TRowCursor() {
    FCursor.FreeRecordBuffer(FBuffer);
    try {
      FCursor.CloseTable();
    } catch (...) {
    }
  }
  TRowCursor(const TRowCursor&) = delete;
  TRowCursor& operator=(const TRowCursor&) = delete;

  TORBLocalCursor& Cursor() { return FCursor; }

  // The status of the post.
  int32_t Insert(int32_t id, int32_t val) {
    FCursor.FCurrentRecordBuffer = FBuffer;
    FCursor.InternalInitRecord(FBuffer, true);
    SetInt(kRowID, id);
    SetInt(kRowVal, val);
    FCursor.InternalPost(true);
    return FCursor.FErrorCode;
  }
  // Reads the rows in stored order until the one with `id`; the cursor
  // stays on it.
  bool MoveTo(int32_t id) {
    FCursor.InternalFirst();
    while (FCursor.GetRecordBuffer(grmNext) == grrOK)
      if (GetInt(kRowID) == id) return true;
    return false;
  }
  // Every row as (ID, VAL), in stored order.
  std::vector<std::pair<int32_t, int32_t>> Rows() {
    std::vector<std::pair<int32_t, int32_t>> rows;
    FCursor.InternalFirst();
    while (FCursor.GetRecordBuffer(grmNext) == grrOK)
      rows.emplace_back(GetInt(kRowID).value_or(-1), GetInt(kRowVal).value_or(-1));
    return rows;
  }
  std::optional<int32_t> Id() const { return GetInt(kRowID); }
  std::optional<int32_t> Val() const { return GetInt(kRowVal); }

  // Starts editing the current row: the row as shown becomes the edit
  // copy. Returns the edit's status.
  int32_t Edit() {
    TakeEditCopy();
    FCursor.InternalEdit();
    return FCursor.FErrorCode;
  }
  // Posts VAL := `val` for the row being edited.
  int32_t Post(int32_t val) {
    SetInt(kRowVal, val);
    FCursor.FEditRecordBuffer = FEditCopy.data();
    FCursor.InternalPost(false);
    return FCursor.FErrorCode;
  }
  // Posts VAL := `val` for the current row as shown, without an edit
  // (nothing locked beforehand).
  int32_t PostDirect(int32_t val) {
    TakeEditCopy();
    return Post(val);
  }
  void Cancel() { FCursor.InternalCancel(false); }
  int32_t Delete() {
    FCursor.InternalDelete();
    return FCursor.FErrorCode;
  }

 private:
  void TakeEditCopy() {
    FEditCopy.assign(FBuffer, FBuffer + FCursor.FRecordBufferSize);
  }
  void SetInt(int32_t field_no, int32_t value) {
    TORBVariant v(bftSignedInt32);
    v.SetAsInteger(value);
    FCursor.SetFieldValue(v, field_no, false, FBuffer);
  }
  std::optional<int32_t> GetInt(int32_t field_no) const {
    TORBVariant v;
    FCursor.GetFieldValue(v, field_no, false);
    if (v.IsNull()) return std::nullopt;
    return v.AsInteger();
  }

  TORBLocalCursor FCursor;
  uint8_t* FBuffer = nullptr;
  std::vector<uint8_t> FEditCopy;
};

inline constexpr int32_t kNoteNo = 0;
inline constexpr int32_t kNoteText = 1;
inline const std::u16string kNoteTable = u"N";

// Creates table N through `session` (replacing one of that name).
inline void CreateNotesTable(TORBLocalSession& session) {
  TORBFieldDefs fields;
  TORBFieldDef* no = fields.AddCreated();
  no->SetName(std::u16string_view(u"NO"));
  no->SetFieldDefDataType(aftAutoInc, 0);
  TORBFieldDef* note = fields.AddCreated();
  note->SetName(std::u16string_view(u"NOTE"));
  note->SetFieldDefDataType(aftMemo, 0);
  TORBLocalCursor creator;
  creator.FSession = &session;
  creator.FTableName = kNoteTable;
  creator.CreateTable(fields, TORBIndexDefs(), TORBConstraintDefs());
}

class TNoteCursor {
 public:
  explicit TNoteCursor(TORBLocalSession& session) {
    FCursor.FSession = &session;
    FCursor.FTableName = kNoteTable;
    FCursor.OpenTableByFieldDefs(TORBFieldDefs(), TORBIndexDefs(), TORBConstraintDefs());
    FBuffer = FCursor.AllocateRecordBuffer();
    FCursor.FCurrentRecordBuffer = FBuffer;
  }
  ~TNoteCursor() {
    FCursor.FreeRecordBuffer(FBuffer);
    try {
      FCursor.CloseTable();
    } catch (...) {
    }
  }
  TNoteCursor(const TNoteCursor&) = delete;
  TNoteCursor& operator=(const TNoteCursor&) = delete;

  TORBLocalCursor& Cursor() { return FCursor; }

  // Posts a new note; the number the engine gave it, or -status.
  int32_t Insert(const std::string& text) {
    FCursor.FCurrentRecordBuffer = FBuffer;
    FCursor.InternalInitRecord(FBuffer, true);
    if (!text.empty()) WriteText(text, true);
    FCursor.InternalPost(true);
    if (FCursor.FErrorCode != 0) return -FCursor.FErrorCode;
    return No().value_or(-1);
  }
  // Reads the notes in stored order until number `no`.
  bool MoveTo(int32_t no) {
    FCursor.InternalFirst();
    while (FCursor.GetRecordBuffer(grmNext) == grrOK)
      if (No() == no) return true;
    return false;
  }
  std::optional<int32_t> No() const {
    TORBVariant v;
    FCursor.GetFieldValue(v, kNoteNo, false);
    if (v.IsNull()) return std::nullopt;
    return v.AsInteger();
  }
  // The memo through a BLOB stream, as the dataset writes it.
  void WriteText(const std::string& text, bool inserting) {
    TORBLocalBLOBStream* stream = FCursor.InternalCreateBlobStream(inserting, !inserting, kNoteText, bomWrite, false);
    stream->Write(text.data(), static_cast<int64_t>(text.size()));
    FCursor.InternalCloseBLOB(stream);
  }

 private:
  TORBLocalCursor FCursor;
  uint8_t* FBuffer = nullptr;
};

}  // namespace orb::cursortest
