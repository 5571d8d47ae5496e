#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "engine/memory/memory_table_data.h"
#include "tests/engine/cursor/cursor_fixture.h"

namespace orb::test {
namespace {


// Stored values of record `id`, read through a cursor of its own.
struct Stored {
  bool Exists = false;
  std::string Name;
  double Score = 0;
};

class EditFixture : public CursorTest {
 protected:
  Stored ReadStored(int32_t id) {
    TORBLocalCursor& c = Open();
    Stored s;
    s.Exists = MoveToID(c, id);
    if (s.Exists) {
      s.Name = GetText(c, kName);
      TORBVariant v;
      c.GetFieldValue(v, kScore, false);
      s.Score = v.AsDouble();
    }
    return s;
  }
  static void SetScore(TORBLocalCursor& c, double score) {
    TORBVariant v(bftDouble);
    v.SetAsDouble(score);
    c.SetFieldValue(v, kScore, false);
  }
  // REQUIRES: `a` is editing record 3 of FiveRows().
  // `b` changes record 3's score to 11 and posts; `a` then posts a new
  // name, which is refused as changed by another user while `a` keeps the
  // user's value and the store keeps `b`'s change.
  void ExpectPostRefusedAfterAnotherCursorsUpdate(TORBLocalCursor& a, TORBLocalCursor& b) {
    ASSERT_TRUE(MoveToID(b, 3));
    BeginEdit(b);
    SetScore(b, 11);
    b.InternalPost(false);
    ASSERT_EQ(b.FErrorCode, 0);
    SetText(a, kName, "by A");
    a.InternalPost(false);
    EXPECT_EQ(a.FErrorCode, kStatusUpdateModified);
    EXPECT_EQ(GetText(a, kName), "by A") << "the user's values stay";
    Stored s = ReadStored(3);
    EXPECT_EQ(s.Name, "erin");
    EXPECT_EQ(s.Score, 11);
  }
};

TEST_F(EditFixture, EditPostCancelAndDeleteChangeTheStoredRecords) {
  CreateStandardTable();
  TORBLocalCursor& c = Open();
  InsertRows(c, FiveRows());
  EXPECT_EQ(c.GetBookmarkFlag(c.FCurrentRecordBuffer), bfInserted);
  EXPECT_EQ(c.GetBookmark(c.FCurrentRecordBuffer), c.FCurrentRecordID);

  ASSERT_TRUE(MoveToID(c, 3));
  BeginEdit(c);
  ASSERT_EQ(c.FErrorCode, 0);
  SetText(c, kName, "erin2");
  c.InternalPost(false);
  ASSERT_EQ(c.FErrorCode, 0);
  EXPECT_EQ(ReadStored(3).Name, "erin2");

  ASSERT_TRUE(MoveToID(c, 3));
  BeginEdit(c);
  SetText(c, kName, "never");
  c.InternalCancel(false);
  EXPECT_EQ(c.FErrorCode, 0);
  EXPECT_EQ(ReadStored(3).Name, "erin2");

  // An update without an edit copy compares against the stored record.
  ASSERT_TRUE(MoveToID(c, 4));
  SetText(c, kName, "bobby");
  c.FEditRecordBuffer = nullptr;
  c.InternalPost(false);
  EXPECT_EQ(c.FErrorCode, 0);
  EXPECT_EQ(ReadStored(4).Name, "bobby");

  ASSERT_TRUE(MoveToID(c, 2));
  c.InternalDelete();
  EXPECT_EQ(c.FErrorCode, 0);
  EXPECT_EQ(Walk(c), (std::vector<int32_t>{1, 3, 4, 5}));
  EXPECT_EQ(c.GetRecordCount(), 4);
}

TEST_F(EditFixture, ChangesByAnotherCursorAreDetectedOnPostAndDelete) {
  CreateStandardTable();
  TORBLocalCursor& a = Open();
  TORBLocalCursor& b = Open();
  InsertRows(a, FiveRows());

  // A starts editing, B updates the record meanwhile.
  ASSERT_TRUE(MoveToID(a, 3));
  BeginEdit(a);
  ExpectPostRefusedAfterAnotherCursorsUpdate(a, b);
  // A's buffer differs from what is stored now: its delete is refused.
  a.InternalDelete();
  EXPECT_EQ(a.FErrorCode, kStatusDeleteModified);
  EXPECT_EQ(GetText(a, kName), "by A");

  // B deletes what A edits.
  ASSERT_TRUE(MoveToID(a, 5));
  BeginEdit(a);
  ASSERT_TRUE(MoveToID(b, 5));
  b.InternalDelete();
  ASSERT_EQ(b.FErrorCode, 0);
  SetScore(a, 1);
  a.InternalPost(false);
  EXPECT_EQ(a.FErrorCode, kStatusUpdateDeleted);
  a.InternalDelete();
  EXPECT_EQ(a.FErrorCode, kStatusDeleteDeleted);
  EXPECT_EQ(Walk(b), (std::vector<int32_t>{1, 2, 3, 4}));
}

TEST_F(EditFixture, LastAutoincValueIsTheSessionsOwnUnderItsVisibleNumber) {
  TORBFieldDefs fields;
  AddField(fields, u"NAME", aftString, 10);
  AddField(fields, u"ID", aftAutoInc);
  CreateTable(fields);
  TORBLocalCursor& mine = Open();
  TORBLocalSession other_session;
  other_session.FDatabaseName = u"MEMORY";
  other_session.SetConnected(true);
  {
    TORBLocalCursor other;
    other.FSession = &other_session;
    other.FTableName = FTableName;
    other.OpenTableByFieldDefs(TORBFieldDefs(), TORBIndexDefs(), TORBConstraintDefs());
    uint8_t* buffer = other.AllocateRecordBuffer();
    other.FCurrentRecordBuffer = buffer;
    auto post = [](TORBLocalCursor& c) {
      c.InternalInitRecord(c.FCurrentRecordBuffer, true);
      c.InternalPost(true);
      ASSERT_EQ(c.FErrorCode, 0);
    };
    post(mine);
    post(mine);
    post(other);
    EXPECT_EQ(mine.LastAutoincValue(1), 2);
    EXPECT_EQ(other.LastAutoincValue(1), 3);
    // A field that is not an auto-increment one has no last value.
    EXPECT_EQ(mine.LastAutoincValue(0), 0);
    mine.ApplyProjection({u"ID", u"NAME"}, {u"", u""});
    EXPECT_EQ(mine.LastAutoincValue(0), 2);
    other.FreeRecordBuffer(buffer);
    other.CloseTable();
  }
  other_session.SetConnected(false);
}

TEST_F(EditFixture, UpdateWithoutAnEditCopyIsRefusedWhenTheRecordChangedSinceTheEdit) {
  CreateStandardTable();
  TORBLocalCursor& a = Open();
  TORBLocalCursor& b = Open();
  InsertRows(a, FiveRows());
  ASSERT_TRUE(MoveToID(a, 3));
  a.FEditRecordBuffer = nullptr;
  a.InternalEdit();
  ASSERT_EQ(a.FErrorCode, 0);
  ExpectPostRefusedAfterAnotherCursorsUpdate(a, b);
  // Unchanged since the edit, the update goes through.
  ASSERT_TRUE(MoveToID(a, 3));
  a.InternalEdit();
  SetText(a, kName, "by A");
  a.InternalPost(false);
  EXPECT_EQ(a.FErrorCode, 0);
  EXPECT_EQ(ReadStored(3).Name, "by A");
}

TEST_F(EditFixture, ConstraintFailureIsStatusEightWithItsMessage) {
  CreateStandardTable();
  TORBLocalCursor& c = Open();
  InsertRows(c, FiveRows());
  TORBIndexDefs indexes;
  c.AddIndex(*AddIndexDef(indexes, "PK_ID", {u"ID"}, true));
  EXPECT_EQ(Insert(c, {3, "dup", 0, false, "", 0}), kStatusConstraint);
  EXPECT_NE(c.FErrorMessage.find("violated"), std::string::npos) << c.FErrorMessage;
  EXPECT_EQ(c.GetRecordCount(), 5);
  // An update onto another record's key too.
  ASSERT_TRUE(MoveToID(c, 4));
  BeginEdit(c);
  SetInt(c, kID, 1);
  c.InternalPost(false);
  EXPECT_EQ(c.FErrorCode, kStatusConstraint);
  EXPECT_FALSE(c.FErrorMessage.empty());
  EXPECT_EQ(Walk(c), (std::vector<int32_t>{1, 2, 3, 4, 5}));
}

TEST_F(EditFixture, PostFillsAutoIncrementsRememberedPerSessionUntilTheTableGoes) {
  TORBFieldDefs fields;
  AddField(fields, u"ID", aftAutoInc);
  AddField(fields, u"NAME", aftString, 10);
  CreateTable(fields);
  TORBLocalCursor& c = Open();
  for (const char* name : {"x", "y", "z"}) {
    c.InternalInitRecord(c.FCurrentRecordBuffer, true);
    SetText(c, 1, name);
    c.InternalPost(true);
    ASSERT_EQ(c.FErrorCode, 0);
  }
  EXPECT_EQ(Walk(c), (std::vector<int32_t>{1, 2, 3}));
  EXPECT_EQ(c.LastAutoincValue(0), 3);
  EXPECT_EQ(FSession.ObjectCount(), 1);
  c.FreeRecordBuffer(BufferOf(c));
  FCursors.clear();
  TORBLocalCursor dropper;
  dropper.FSession = &FSession;
  dropper.FTableName = FTableName;
  dropper.DeleteTable();
  EXPECT_EQ(FSession.ObjectCount(), 0);
}

class TempEditTest : public CursorTest {
 protected:
  TempEditTest() : CursorTest(u"TEMP") {}
};

TEST_F(TempEditTest, TemporaryTablesRefuseEditAndDelete) {
  CreateStandardTable();
  TORBLocalCursor& c = Open();
  InsertRows(c, FiveRows());
  EXPECT_EQ(Walk(c), (std::vector<int32_t>{1, 2, 3, 4, 5}));
  ASSERT_TRUE(MoveToID(c, 2));
  BeginEdit(c);
  EXPECT_EQ(c.FErrorCode, kStatusTemporaryEdit);
  c.InternalDelete();
  EXPECT_EQ(c.FErrorCode, kStatusTemporaryDelete);
  EXPECT_EQ(c.GetRecordCount(), 5);
}

// Table and record locks of another engine, recorded.
struct LockLog {
  bool RefuseTable = false;
  bool RefuseRecord = false;
  int TableAttempts = 0;
  int RecordAttempts = 0;
  std::multiset<TORBLockType> Tables;
  int Records = 0;
};

class FakeLocks : public TORBCursorTableLocks {
 public:
  explicit FakeLocks(LockLog& log) : FLog(log) {}
  bool LockTable(TORBLockType type, bool) override {
    ++FLog.TableAttempts;
    if (FLog.RefuseTable) return false;
    FLog.Tables.insert(type);
    return true;
  }
  bool UnlockTable(TORBLockType type, bool ignore) override {
    auto it = FLog.Tables.find(type);
    if (it == FLog.Tables.end()) return ignore;
    FLog.Tables.erase(it);
    return true;
  }
  bool ReleaseTable(TORBLockType type) override {
    FLog.Tables.erase(type);
    return true;
  }
  bool LockRecord(const TORBPageItemID&) override {
    ++FLog.RecordAttempts;
    if (FLog.RefuseRecord) return false;
    ++FLog.Records;
    return true;
  }
  bool UnlockRecord(const TORBPageItemID&) override {
    if (FLog.Records > 0) --FLog.Records;
    return true;
  }
  bool IsRecordLocked(const TORBPageItemID&) override { return FLog.RefuseRecord; }

 private:
  LockLog& FLog;
};

class MultiUserEditTest : public EditFixture {
 protected:
  TORBLocalCursor& OpenLocked() {
    TORBLocalCursor& c = Open();
    c.SetTableLocks(std::make_unique<FakeLocks>(FLog));
    c.FLockWaits = {{3, 1}, {3, 1}, {3, 1}, {4, 1}, {3, 1}};
    return c;
  }
  void SetUp() override {
    FSession.FMultiUser = true;
    CreateStandardTable();
    TORBLocalCursor& c = Open();
    InsertRows(c, FiveRows());
    TORBIndexDefs indexes;
    c.AddIndex(*AddIndexDef(indexes, "PK_ID", {u"ID"}, true));
  }
  void TearDown() override { FSession.FMultiUser = false; }

  LockLog FLog;
};

TEST_F(MultiUserEditTest, EditHoldsItsLocksUntilThePost) {
  TORBLocalCursor& c = OpenLocked();
  ASSERT_TRUE(MoveToID(c, 2));
  BeginEdit(c);
  ASSERT_EQ(c.FErrorCode, 0);
  EXPECT_EQ(FLog.Tables, (std::multiset<TORBLockType>{ltSIRW}));
  EXPECT_EQ(FLog.Records, 1);
  SetScore(c, 5);
  c.InternalPost(false);
  EXPECT_EQ(c.FErrorCode, 0);
  EXPECT_TRUE(FLog.Tables.empty());
  EXPECT_EQ(FLog.Records, 0);
  // A cancel gives them back too.
  BeginEdit(c);
  c.InternalCancel(false);
  EXPECT_TRUE(FLog.Tables.empty());
  EXPECT_EQ(FLog.Records, 0);
}

TEST_F(MultiUserEditTest, LockedRecordAndTableGiveTheirStatusesAfterTheRetries) {
  TORBLocalCursor& c = OpenLocked();
  ASSERT_TRUE(MoveToID(c, 2));
  FLog.RefuseRecord = true;
  EXPECT_TRUE(c.IsRecordLocked());
  BeginEdit(c);
  EXPECT_EQ(c.FErrorCode, kStatusRecordLocked);
  EXPECT_EQ(FLog.RecordAttempts, 4);
  EXPECT_TRUE(FLog.Tables.empty()) << "the table lock is given back";
  c.InternalDelete();
  EXPECT_EQ(c.FErrorCode, kStatusRecordLocked);
  EXPECT_TRUE(FLog.Tables.empty());
  FLog.RefuseRecord = false;
  FLog.RefuseTable = true;
  FLog.TableAttempts = 0;
  BeginEdit(c);
  EXPECT_EQ(c.FErrorCode, kStatusTableLocked);
  EXPECT_EQ(FLog.TableAttempts, 3);
  c.InternalPost(false);
  EXPECT_EQ(c.FErrorCode, kStatusTableLocked);
  c.InternalDelete();
  EXPECT_EQ(c.FErrorCode, kStatusTableLocked);
  EXPECT_EQ(c.GetRecordCount(), 5);
  EXPECT_EQ(FLog.Records, 0);
}

TEST_F(MultiUserEditTest, ConstraintFailureKeepsTheEditLocks) {
  TORBLocalCursor& c = OpenLocked();
  ASSERT_TRUE(MoveToID(c, 2));
  BeginEdit(c);
  SetInt(c, kID, 3);
  c.InternalPost(false);
  ASSERT_EQ(c.FErrorCode, kStatusConstraint);
  EXPECT_EQ(FLog.Tables, (std::multiset<TORBLockType>{ltSIRW}));
  EXPECT_EQ(FLog.Records, 1);
  // Corrected and posted again.
  SetInt(c, kID, 20);
  c.FEditRecordBuffer = FEditCopies.back().data();
  c.InternalPost(false);
  EXPECT_EQ(c.FErrorCode, 0);
  EXPECT_TRUE(FLog.Tables.empty());
  EXPECT_EQ(FLog.Records, 0);
}

TEST_F(MultiUserEditTest, InsideATransactionTheExclusiveIntentLockStays) {
  TORBLocalCursor& c = OpenLocked();
  FSession.StartTransaction();
  ASSERT_TRUE(MoveToID(c, 2));
  BeginEdit(c);
  EXPECT_EQ(FLog.Tables, (std::multiset<TORBLockType>{ltXIRW}));
  SetScore(c, 1);
  c.InternalPost(false);
  EXPECT_EQ(c.FErrorCode, 0);
  EXPECT_EQ(FLog.Tables.count(ltXIRW), 2u) << "the edit's and the post's";
  EXPECT_EQ(FLog.Records, 0);
  FSession.Commit(false);
}

// --- BLOB streams ---

TEST_F(EditFixture, BLOBStreamsOpenOnceForWritingAndRefuseWritesWhenReadOnly) {
  CreateStandardTable();
  TORBLocalCursor& c = Open();
  InsertRows(c, {{1, "a", 0, false, "hello", 0}});
  ASSERT_TRUE(MoveToID(c, 1));
  TORBLocalBLOBStream* writer = c.InternalCreateBlobStream(false, true, kNote, bomReadWrite, false);
  ASSERT_NE(writer, nullptr);
  EXPECT_EQ(RaisedCode([&] { c.InternalCreateBlobStream(false, true, kNote, bomWrite, false); }),
            kErrBLOBAlreadyOpen);
  TORBLocalBLOBStream* reader1 = c.InternalCreateBlobStream(false, true, kNote, bomRead, false);
  TORBLocalBLOBStream* reader2 = c.InternalCreateBlobStream(false, true, kNote, bomRead, false);
  ASSERT_NE(reader1, nullptr);
  ASSERT_NE(reader2, nullptr);
  EXPECT_EQ(RaisedCode([&] { reader1->Write("x", 1); }), kErrBLOBWriteReadOnly);
  EXPECT_EQ(RaisedCode([&] { reader1->SetSize(0); }), kErrBLOBSetSizeReadOnly);
  EXPECT_EQ(c.BLOBStreamCount(), 3);
  c.ClearBLOBStreams(false);
  EXPECT_EQ(c.BLOBStreamCount(), 0);
}

TEST_F(EditFixture, ClosingOneStreamLeavesOtherHoldersStreamsOnTheFieldOpen) {
  CreateStandardTable();
  TORBLocalCursor& c = Open();
  InsertRows(c, {{1, "a", 0, false, "shared memo", 0}});
  ASSERT_TRUE(MoveToID(c, 1));
  BeginEdit(c);
  RecordingHolder h1, h2, h3;
  TORBLocalBLOBStream* first = c.InternalCreateBlobStream(false, true, kNote, bomRead, false);
  TORBLocalBLOBStream* second = c.InternalCreateBlobStream(false, true, kNote, bomRead, false);
  TORBLocalBLOBStream* writer = c.InternalCreateBlobStream(false, true, kNote, bomWrite, false);
  first->FUserBLOBStream = &h1;
  second->FUserBLOBStream = &h2;
  writer->FUserBLOBStream = &h3;
  writer->Write("new memo", 8);
  c.InternalCloseBLOB(first);
  EXPECT_EQ(c.BLOBStreamCount(), 2);
  EXPECT_EQ(h1.FClosed + h2.FClosed + h3.FClosed, 0);
  std::string text(11, '\0');
  second->SetPosition(0);
  ASSERT_EQ(second->Read(text.data(), 11), 11);
  EXPECT_EQ(text, "shared memo");
  EXPECT_EQ(RaisedCode([&] { c.InternalCloseBLOB(first); }), kErrBLOBStreamNotOpen);

  // The post closes the write stream (its holder is told) and stores it.
  c.InternalPost(false);
  ASSERT_EQ(c.FErrorCode, 0);
  EXPECT_EQ(h3.FClosed, 1);
  EXPECT_EQ(h2.FClosed, 0);
  EXPECT_EQ(c.BLOBStreamCount(), 1);
  c.InternalCloseBLOB(second);
  ASSERT_TRUE(MoveToID(c, 1));
  EXPECT_EQ(ReadMemo(c, kNote), "new memo");
}

TEST_F(EditFixture, CancellingAnInsertDropsTheBLOBValuesWrittenIntoIt) {
  CreateStandardTable();
  TORBLocalCursor& c = Open();
  auto* table = dynamic_cast<TORBMemoryTableData*>(c.TableData());
  ASSERT_NE(table, nullptr);
  c.InternalInitRecord(c.FCurrentRecordBuffer, true);
  SetInt(c, kID, 1);
  WriteMemo(c, kNote, "draft", true);
  EXPECT_FALSE(CheckNullFlag(kNote, c.FCurrentRecordBuffer));
  EXPECT_EQ(table->BlobCount(), 1u);
  RecordingHolder holder;
  TORBLocalBLOBStream* open_writer = c.InternalCreateBlobStream(true, false, kNote, bomWrite, false);
  open_writer->FUserBLOBStream = &holder;
  open_writer->Write("more", 4);
  c.InternalCancel(true);
  EXPECT_EQ(holder.FClosed, 1);
  EXPECT_EQ(c.BLOBStreamCount(), 0);
  TORBVariant v;
  c.GetFieldValue(v, kNote, false);
  EXPECT_TRUE(v.IsNull());
  EXPECT_EQ(table->BlobCount(), 0u);
  EXPECT_EQ(c.GetRecordCount(), 0);
}

TEST_F(EditFixture, NothingPointsAtAFreedBufferAfterPostCancelOrFree) {
  CreateStandardTable();
  TORBLocalCursor& c = Open();
  InsertRows(c, FiveRows());
  ASSERT_TRUE(MoveToID(c, 1));
  // The edit copy belongs to the caller and may go once the post is done.
  auto* copy = new std::vector<uint8_t>(c.FCurrentRecordBuffer, c.FCurrentRecordBuffer + c.FRecordBufferSize);
  c.FEditRecordBuffer = copy->data();
  c.InternalEdit();
  SetScore(c, 2);
  c.InternalPost(false);
  ASSERT_EQ(c.FErrorCode, 0);
  EXPECT_EQ(c.FEditRecordBuffer, nullptr);
  delete copy;
  copy = new std::vector<uint8_t>(c.FCurrentRecordBuffer, c.FCurrentRecordBuffer + c.FRecordBufferSize);
  c.FEditRecordBuffer = copy->data();
  c.InternalEdit();
  c.InternalCancel(false);
  EXPECT_EQ(c.FEditRecordBuffer, nullptr);
  delete copy;
  // Later operations never reach the freed copies.
  ASSERT_TRUE(MoveToID(c, 2));
  c.InternalPost(false);
  EXPECT_EQ(c.FErrorCode, 0);
  EXPECT_EQ(c.CheckConstraints(false), true);

  // A buffer freed with a stream still open on it takes the stream along.
  uint8_t* other = c.AllocateRecordBuffer();
  c.FCurrentRecordBuffer = other;
  c.InternalInitRecord(other, true);
  RecordingHolder holder;
  TORBLocalBLOBStream* writer = c.InternalCreateBlobStream(true, false, kNote, bomWrite, false);
  writer->FUserBLOBStream = &holder;
  writer->Write("lost", 4);
  c.FreeRecordBuffer(other);
  EXPECT_EQ(other, nullptr);
  EXPECT_EQ(c.FCurrentRecordBuffer, nullptr);
  EXPECT_EQ(holder.FClosed, 1);
  EXPECT_EQ(c.BLOBStreamCount(), 0);
  c.FCurrentRecordBuffer = BufferOf(c);
  c.InternalInitRecord(c.FCurrentRecordBuffer, true);
  SetInt(c, kID, 6);
  c.InternalPost(true);
  EXPECT_EQ(c.FErrorCode, 0);
  EXPECT_EQ(c.GetRecordCount(), 6);
}

TEST_F(EditFixture, DeleteComparesStoredDataNotTheBLOBCacheReference) {
  CreateStandardTable();
  TORBLocalCursor& c = Open();
  InsertRows(c, {{1, "a", 0, false, "cached", 0}, {2, "b", 0, false, "", 0}});
  ASSERT_TRUE(MoveToID(c, 1));
  // Bytes 6..13 of a BLOB slot in a record buffer are the engine's cache
  // reference; a buffer that caches the value differs there only.
  const TORBFieldDef& note = *c.FFieldDefs.GetDef(kNote);
  ASSERT_EQ(note.FMemoryDataSize, 14);
  std::memset(c.FCurrentRecordBuffer + note.FMemoryOffset + 8, 0xAB, 6);
  c.InternalDelete();
  EXPECT_EQ(c.FErrorCode, 0);
  EXPECT_EQ(Walk(c), (std::vector<int32_t>{2}));
}

}  // namespace
}  // namespace orb::test
