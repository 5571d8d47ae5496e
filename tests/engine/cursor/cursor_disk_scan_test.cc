// Walks through a table of a database file in stored order while other
// cursors of the process change rows on the pages being walked, inside and
// outside a transaction: every step shows the rows as they are now. Each
// walk runs on a single-user and on a multi-user session.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tests/engine/cursor/disk_cursor_rows.h"
#include "tests/support/disk_scratch.h"

namespace orb {
namespace {

using cursortest::MakeFileSession;
using cursortest::TRowCursor;
using testing::DiskScratch;
using Rows = std::vector<std::pair<int32_t, int32_t>>;

// Creates the file with `page_size`-byte pages and an empty table T of
// ID, VAL and a `pad_size`-byte field left null (none for 0).
void CreateDatabase(const std::string& path, int32_t page_size, int32_t pad_size) {
  auto session = MakeFileSession(path, false);
  session->FPageSize = page_size;
  session->CreateDatabase();
  session->SetConnected(true);
  TORBFieldDefs fields;
  for (const char16_t* name : {u"ID", u"VAL", u"PAD"}) {
    if (pad_size == 0 && name[0] == u'P') break;
    TORBFieldDef* f = fields.AddCreated();
    f->SetName(std::u16string_view(name));
    if (name[0] == u'P')
      f->SetFieldDefDataType(aftBytes, pad_size);
    else
      f->SetFieldDefDataType(aftInteger, 0);
  }
  TORBLocalCursor creator;
  creator.FSession = session.get();
  creator.FTableName = cursortest::kRowTable;
  creator.CreateTable(fields, TORBIndexDefs(), TORBConstraintDefs());
  session->SetConnected(false);
}

// A database with table T holding rows (id, 10 * id) for id 1 .. `count`,
// and two cursors on it of one session.
class ScanFixture {
 public:
  explicit ScanFixture(int32_t count, int32_t page_size = 4096, int32_t pad_size = 0, bool multi_user = false) {
    const std::string path = FDir.File("db.orb");
    CreateDatabase(path, page_size, pad_size);
    FSession = MakeFileSession(path, multi_user);
    FSession->SetConnected(true);
    FWalker = std::make_unique<TRowCursor>(*FSession);
    FChanger = std::make_unique<TRowCursor>(*FSession);
    FSession->StartTransaction();
    for (int32_t id = 1; id <= count; ++id) EXPECT_EQ(FChanger->Insert(id, 10 * id), 0);
    FSession->Commit(false);
  }
  ~ScanFixture() {
    FWalker.reset();
    FChanger.reset();
    FSession->SetConnected(false);
  }
  ScanFixture(const ScanFixture&) = delete;
  ScanFixture& operator=(const ScanFixture&) = delete;

  TORBLocalSession& Session() { return *FSession; }
  TRowCursor& Walker() { return *FWalker; }
  TRowCursor& Changer() { return *FChanger; }

  // The walker's rows from where it stands to the end (or the start).
  Rows Continue(TORBGetRecordMode mode = grmNext) {
    Rows rows;
    while (FWalker->Cursor().GetRecordBuffer(mode) == grrOK) rows.emplace_back(Current());
    return rows;
  }
  std::pair<int32_t, int32_t> Current() {
    TORBVariant id;
    FWalker->Cursor().GetFieldValue(id, cursortest::kRowID, false);
    return {id.AsInteger(), FWalker->Val().value_or(-1)};
  }
  void Update(int32_t id, int32_t val) {
    ASSERT_TRUE(FChanger->MoveTo(id)) << id;
    ASSERT_EQ(FChanger->PostDirect(val), 0);
  }
  void Delete(int32_t id) {
    ASSERT_TRUE(FChanger->MoveTo(id)) << id;
    ASSERT_EQ(FChanger->Delete(), 0);
  }

 private:
  DiskScratch FDir;
  std::unique_ptr<TORBLocalSession> FSession;
  std::unique_ptr<TRowCursor> FWalker;
  std::unique_ptr<TRowCursor> FChanger;
};

Rows Expected(std::initializer_list<std::pair<int32_t, int32_t>> rows) { return Rows(rows); }

constexpr bool kModes[] = {false, true};
const char* ModeName(bool multi_user) { return multi_user ? "multi-user" : "single-user"; }

TEST(CursorDiskScanTest, StepsShowChangesOfAnotherCursorOnThePageBeingWalked) {
  // The walker stands on row 2 of six rows (one page) when the other
  // cursor changes rows; its next steps in both directions follow.
  struct Case {
    const char* name;
    std::function<void(ScanFixture&)> change;
    Rows forward;   // after row 2
    Rows backward;  // from row 5 back
  } cases[] = {
      {"update ahead", [](ScanFixture& f) { f.Update(3, 33); },
       Expected({{3, 33}, {4, 40}, {5, 50}, {6, 60}}), Expected({{4, 40}, {3, 33}, {2, 20}, {1, 10}})},
      {"delete ahead", [](ScanFixture& f) { f.Delete(3); }, Expected({{4, 40}, {5, 50}, {6, 60}}),
       Expected({{4, 40}, {2, 20}, {1, 10}})},
      {"insert at the end", [](ScanFixture& f) { ASSERT_EQ(f.Changer().Insert(7, 70), 0); },
       Expected({{3, 30}, {4, 40}, {5, 50}, {6, 60}, {7, 70}}), Expected({{4, 40}, {3, 30}, {2, 20}, {1, 10}})},
      {"delete, then insert into the freed slot",
       [](ScanFixture& f) {
         f.Delete(3);
         ASSERT_EQ(f.Changer().Insert(9, 90), 0);
       },
       Expected({{9, 90}, {4, 40}, {5, 50}, {6, 60}}), Expected({{4, 40}, {9, 90}, {2, 20}, {1, 10}})},
      {"delete behind and ahead", [](ScanFixture& f) {
         f.Delete(1);
         f.Delete(6);
       },
       Expected({{3, 30}, {4, 40}, {5, 50}}), Expected({{4, 40}, {3, 30}, {2, 20}})},
  };
  for (const bool multi_user : kModes) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + ", " + ModeName(multi_user));
      {
        ScanFixture f(6, 4096, 0, multi_user);
        ASSERT_TRUE(f.Walker().MoveTo(2));
        c.change(f);
        EXPECT_EQ(f.Continue(grmNext), c.forward);
      }
      {
        ScanFixture f(6, 4096, 0, multi_user);
        ASSERT_TRUE(f.Walker().MoveTo(5));
        c.change(f);
        EXPECT_EQ(f.Continue(grmPrior), c.backward);
      }
    }
  }
}

TEST(CursorDiskScanTest, CurrentRowIsReadAgainAfterAnotherCursorChangedIt) {
  for (const bool multi_user : kModes) {
    SCOPED_TRACE(ModeName(multi_user));
    ScanFixture f(4, 4096, 0, multi_user);
    ASSERT_TRUE(f.Walker().MoveTo(3));
    f.Update(3, 333);
    ASSERT_EQ(f.Walker().Cursor().GetRecordBuffer(grmCurrent), grrOK);
    EXPECT_EQ(f.Current(), std::make_pair(3, 333));
    f.Delete(3);
    EXPECT_EQ(f.Walker().Cursor().GetRecordBuffer(grmCurrent), grrError);
    EXPECT_EQ(f.Continue(grmNext), Expected({{4, 40}}));
  }
}

TEST(CursorDiskScanTest, RollbackAndCommitShowInTheWalk) {
  // Rows read while the transaction's changes were visible must not
  // outlive the rollback; after a commit the changes stay.
  for (const bool multi_user : kModes) {
    SCOPED_TRACE(ModeName(multi_user));
    for (const bool commit : {false, true}) {
      SCOPED_TRACE(commit ? "commit" : "rollback");
      ScanFixture f(5, 4096, 0, multi_user);
      f.Session().StartTransaction();
      f.Update(3, 99);
      f.Delete(4);
      ASSERT_EQ(f.Changer().Insert(6, 60), 0);
      ASSERT_TRUE(f.Walker().MoveTo(2));
      // Row 6 takes the slot row 4 left.
      EXPECT_EQ(f.Continue(grmNext), Expected({{3, 99}, {6, 60}, {5, 50}}));
      ASSERT_TRUE(f.Walker().MoveTo(3));
      if (commit)
        f.Session().Commit(false);
      else
        f.Session().Rollback();
      ASSERT_EQ(f.Walker().Cursor().GetRecordBuffer(grmCurrent), grrOK);
      EXPECT_EQ(f.Current(), std::make_pair(3, commit ? 99 : 30));
      EXPECT_EQ(f.Continue(grmNext), commit ? Expected({{6, 60}, {5, 50}}) : Expected({{4, 40}, {5, 50}}));
      // The same change once more: a walk never sees the rolled-back rows.
      f.Session().StartTransaction();
      f.Update(3, commit ? 98 : 99);
      ASSERT_TRUE(f.Walker().MoveTo(3));
      EXPECT_EQ(f.Current(), std::make_pair(3, commit ? 98 : 99));
      f.Session().Rollback();
      ASSERT_EQ(f.Walker().Cursor().GetRecordBuffer(grmCurrent), grrOK);
      EXPECT_EQ(f.Current(), std::make_pair(3, commit ? 99 : 30));
    }
  }
}

TEST(CursorDiskScanTest, WalkAcrossPagesFollowsPagesEmptiedAndFilledMeanwhile) {
  // 1,500 rows of 9 bytes fill several pages. While the walker stands on
  // row 10 every row of the second page is deleted (the page leaves the
  // table) and rows are added at the end: the walk skips the page and ends
  // with the new rows; a walk back from the last row mirrors it.
  constexpr int32_t kCount = 1500;
  for (const bool multi_user : kModes) {
    SCOPED_TRACE(ModeName(multi_user));
    ScanFixture f(kCount, 4096, 0, multi_user);
    ASSERT_TRUE(f.Walker().MoveTo(10));
    // The ids on the second page, from the changer's own walk.
    std::vector<int32_t> second_page;
    {
      TORBLocalCursor& c = f.Changer().Cursor();
      std::vector<int32_t> pages;
      c.InternalFirst();
      while (c.GetRecordBuffer(grmNext) == grrOK) {
        if (pages.empty() || pages.back() != c.FCurrentRecordID.PageNo) pages.push_back(c.FCurrentRecordID.PageNo);
        if (pages.size() > 2) break;
        TORBVariant id;
        c.GetFieldValue(id, cursortest::kRowID, false);
        if (pages.size() == 2) second_page.push_back(id.AsInteger());
      }
    }
    ASSERT_GT(second_page.size(), 10u);
    f.Session().StartTransaction();
    for (const int32_t id : second_page) f.Delete(id);
    for (int32_t id = kCount + 1; id <= kCount + 3; ++id) ASSERT_EQ(f.Changer().Insert(id, 10 * id), 0);
    f.Session().Commit(false);

    Rows expected;
    for (int32_t id = 1; id <= kCount + 3; ++id)
      if (id < second_page.front() || id > second_page.back()) expected.emplace_back(id, 10 * id);
    EXPECT_EQ(f.Continue(grmNext), Rows(expected.begin() + 10, expected.end()));
    f.Walker().Cursor().InternalLast();
    Rows backward = f.Continue(grmPrior);
    std::reverse(backward.begin(), backward.end());
    EXPECT_EQ(backward, expected);
  }
}

TEST(CursorDiskScanTest, WalkAcrossManyIndexLeaves) {
  // Rows of 209 bytes on 1,024-byte pages: four rows a page, and the
  // pages listed over several leaves of the record page index. Full walks
  // both ways; then rows over many pages ahead of a walk half way through
  // are deleted, and the walk goes on past them.
  constexpr int32_t kCount = 3000;
  for (const bool multi_user : kModes) {
    SCOPED_TRACE(ModeName(multi_user));
    ScanFixture f(kCount, 1024, 200, multi_user);
    Rows all;
    for (int32_t id = 1; id <= kCount; ++id) all.emplace_back(id, 10 * id);
    f.Walker().Cursor().InternalFirst();
    EXPECT_EQ(f.Continue(grmNext), all);
    f.Walker().Cursor().InternalLast();
    Rows backward = f.Continue(grmPrior);
    std::reverse(backward.begin(), backward.end());
    EXPECT_EQ(backward, all);

    ASSERT_TRUE(f.Walker().MoveTo(1500));
    f.Session().StartTransaction();
    for (int32_t id = 1600; id <= 2400; ++id) f.Delete(id);
    f.Session().Commit(false);
    Rows rest;
    for (int32_t id = 1501; id <= kCount; ++id)
      if (id < 1600 || id > 2400) rest.emplace_back(id, 10 * id);
    EXPECT_EQ(f.Continue(grmNext), rest);
  }
}

TEST(CursorDiskScanTest, WalkOverPagesWithGapsInTheirSlots) {
  // Rows deleted here and there leave used and free slots mixed on many
  // pages (four rows a page, some pages emptied): walks from several rows,
  // and a walk whose steps alternate with reads of the other cursor
  // elsewhere in the table, return the remaining rows in order.
  constexpr int32_t kCount = 2000;
  for (const bool multi_user : kModes) {
    SCOPED_TRACE(ModeName(multi_user));
    ScanFixture f(kCount, 1024, 200, multi_user);
    f.Session().StartTransaction();
    Rows left;
    for (int32_t id = 1; id <= kCount; ++id) {
      if (id % 3 == 0 || id % 8 == 5 || (id > 600 && id <= 640)) {
        f.Delete(id);
      } else {
        left.emplace_back(id, 10 * id);
      }
    }
    f.Session().Commit(false);
    f.Walker().Cursor().InternalFirst();
    EXPECT_EQ(f.Continue(grmNext), left);
    for (const size_t from : {size_t{0}, size_t{1}, size_t{397}, left.size() - 2}) {
      SCOPED_TRACE(from);
      ASSERT_TRUE(f.Walker().MoveTo(left[from].first));
      EXPECT_EQ(f.Continue(grmNext), Rows(left.begin() + static_cast<std::ptrdiff_t>(from) + 1, left.end()));
    }
    f.Walker().Cursor().InternalFirst();
    Rows walked;
    while (f.Walker().Cursor().GetRecordBuffer(grmNext) == grrOK) {
      walked.emplace_back(f.Current());
      if (walked.size() % 50 == 0) {
        ASSERT_TRUE(f.Changer().MoveTo(left[left.size() - walked.size()].first));
      }
    }
    EXPECT_EQ(walked, left);
  }
}

}  // namespace
}  // namespace orb
