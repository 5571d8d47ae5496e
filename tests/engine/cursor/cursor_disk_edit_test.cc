// Record editing on table N (NO auto-increment, NOTE memo) of a database
// file: auto-increment numbers and the last one of each session, the BLOB
// values an edit leaves behind, and BLOB settings.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "engine/base/field_manager.h"
#include "engine/disk/disk_blob_manager.h"
#include "engine/disk/disk_table_data.h"
#include "tests/engine/cursor/disk_cursor_rows.h"
#include "tests/support/disk_scratch.h"

namespace orb {
namespace {

using cursortest::CreateNotesTable;
using cursortest::CreateRowsDatabase;
using cursortest::kNoteNo;
using cursortest::kNoteText;
using cursortest::MakeFileSession;
using cursortest::TNoteCursor;
using testing::DiskScratch;
using test::RaisedCode;

class CursorDiskEditTest : public ::testing::Test {
 protected:
  // A file with table N, and FSession connected to it.
  void Open(bool multi_user, const std::string& name = "db.orb") {
    FPath = FDir.File(name);
    CreateRowsDatabase(FPath);
    FSession = MakeFileSession(FPath, multi_user);
    FSession->SetConnected(true);
    CreateNotesTable(*FSession);
  }
  void TearDown() override {
    if (FSession != nullptr) FSession->SetConnected(false);
  }
  std::unique_ptr<TORBLocalSession> Connect() {
    auto session = MakeFileSession(FPath, true);
    session->SetConnected(true);
    return session;
  }

  DiskScratch FDir;
  std::string FPath;
  std::unique_ptr<TORBLocalSession> FSession;
};

TEST_F(CursorDiskEditTest, SessionsOfOneProcessNumberInTurnAndEachKnowsItsLastNumber) {
  Open(true);
  auto other = Connect();
  auto idle = Connect();
  {
    TNoteCursor mine(*FSession);
    TNoteCursor theirs(*other);
    TNoteCursor nothing(*idle);
    EXPECT_EQ(mine.Insert("a"), 1);
    EXPECT_EQ(theirs.Insert("b"), 2);
    EXPECT_EQ(mine.Insert("c"), 3);
    EXPECT_EQ(theirs.Insert(""), 4);
    // Each session's own last number, not the table's.
    EXPECT_EQ(mine.Cursor().LastAutoincValue(kNoteNo), 3);
    EXPECT_EQ(theirs.Cursor().LastAutoincValue(kNoteNo), 4);
    // A multi-user session that numbered nothing has no last number.
    EXPECT_EQ(RaisedCode([&] { nothing.Cursor().LastAutoincValue(kNoteNo); }), kErrNoSequenceLastValue);
    EXPECT_EQ(RaisedCode([&] { mine.Cursor().LastAutoincValue(2); }), kErrAutoincFieldNoUpdate);
    // Under a projection the number is the visible one.
    TORBLocalCursor& projected = mine.Cursor();
    projected.ApplyProjection({u"NOTE", u"NO"}, {u"", u""});
    EXPECT_EQ(projected.LastAutoincValue(1), 3);
    EXPECT_EQ(RaisedCode([&] { projected.LastAutoincValue(0); }), kErrNoSequenceLastValue);
  }
  idle->SetConnected(false);
  other->SetConnected(false);
}

TEST_F(CursorDiskEditTest, SingleUserSessionWithoutANumberOfItsOwnGetsTheTablesLast) {
  Open(false);
  {
    TNoteCursor notes(*FSession);
    for (int32_t no = 1; no <= 3; ++no) EXPECT_EQ(notes.Insert("x"), no);
  }
  FSession->SetConnected(false);
  FSession = MakeFileSession(FPath, false);
  FSession->SetConnected(true);
  TNoteCursor notes(*FSession);
  EXPECT_EQ(notes.Cursor().LastAutoincValue(kNoteNo), 3);
  EXPECT_EQ(notes.Insert("y"), 4);
  EXPECT_EQ(notes.Cursor().LastAutoincValue(kNoteNo), 4);
}

// Every cancelled edit of the memo drops the value it set: the record
// buffer is read over by the next move, and a cache left attached to it
// would stay with the table until it closes.
TEST_F(CursorDiskEditTest, CancelledMemoEditsLeaveNoCachedValuesBehind) {
  for (const bool multi_user : {false, true}) {
    SCOPED_TRACE(multi_user ? "multi-user" : "single-user");
    Open(multi_user, multi_user ? "shared.orb" : "single.orb");
    {
      TNoteCursor notes(*FSession);
      ASSERT_EQ(notes.Insert("stored"), 1);
      TORBLocalCursor& c = notes.Cursor();
      auto* table = dynamic_cast<TORBDiskTableData*>(c.TableData());
      ASSERT_NE(table, nullptr);
      for (int32_t i = 0; i < 1000; ++i) {
        ASSERT_TRUE(notes.MoveTo(1));
        c.InternalEdit();
        ASSERT_EQ(c.FErrorCode, 0);
        notes.WriteText(std::string(2000, static_cast<char>('a' + i % 26)), false);
        c.InternalCancel(false);
      }
      EXPECT_EQ(table->BlobManager()->CacheCount(), 0u);
      ASSERT_TRUE(notes.MoveTo(1));
      TORBLocalBLOBStream* stream = c.InternalCreateBlobStream(false, false, kNoteText, bomRead, true);
      ASSERT_NE(stream, nullptr);
      std::string text(static_cast<size_t>(stream->GetSize()), '\0');
      stream->Read(text.data(), static_cast<int64_t>(text.size()));
      c.InternalCloseBLOB(stream);
      EXPECT_EQ(text, "stored");
    }
    FSession->SetConnected(false);
    FSession.reset();
  }
}

// A table is never created with a BLOB block size of 0 (10421); one whose
// definition says so, as one read from a damaged file would, opens no
// stream on the field.
TEST_F(CursorDiskEditTest, MemoWithBlockSizeZeroOpensNoStream) {
  Open(false);
  TNoteCursor notes(*FSession);
  ASSERT_EQ(notes.Insert("stored"), 1);
  TORBLocalCursor& c = notes.Cursor();
  c.TableData()->FieldManager()->FieldDefs().GetDef(kNoteText)->FBLOBBlockSize = 0;
  ASSERT_TRUE(notes.MoveTo(1));
  EXPECT_EQ(RaisedCode([&] { c.InternalCreateBlobStream(false, false, kNoteText, bomRead, true); }), 20149);
  c.InternalEdit();
  EXPECT_EQ(RaisedCode([&] { c.InternalCreateBlobStream(false, true, kNoteText, bomWrite, false); }), 20149);
  c.InternalCancel(false);
  c.TableData()->FieldManager()->FieldDefs().GetDef(kNoteText)->FBLOBBlockSize = DefaultBLOBBlockSize;
}

}  // namespace
}  // namespace orb
