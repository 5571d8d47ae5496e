// The record window, navigation, bookmarks and the editing positions of the
// dataset framework, through a vector-backed dataset.

#include <gtest/gtest.h>

#include "tests/support/vector_dataset.h"

namespace orb::test {
namespace {

// A link that asks for a window of `count` records (as a grid would).
class TWindowLink : public TDataLink {
 public:
  explicit TWindowLink(int count) { SetBufferCount(count); }
};

// The NUM values of the stored rows in order.
std::vector<int> StoredNums(TVectorDataSet& data_set) {
  std::vector<int> nums;
  for (size_t i = 0; i < data_set.Rows().size(); ++i) nums.push_back(std::stoi(data_set.RowText(i, 0)));
  return nums;
}

// The window holds consecutive stored rows and the active buffer is the
// record the fields show.
void ExpectWindowConsistent(TVectorDataSet& data_set) {
  ASSERT_GT(data_set.RecordCountInBuffers(), 0);
  ASSERT_LE(data_set.RecordCountInBuffers(), data_set.BufferCount());
  ASSERT_LT(data_set.ActiveRecord(), data_set.RecordCountInBuffers());
  const auto& rows = data_set.Rows();
  size_t first = 0;
  while (first < rows.size() && rows[first].Id != data_set.BufferId(0)) ++first;
  ASSERT_LT(first + data_set.RecordCountInBuffers(), rows.size() + 1);
  for (int i = 0; i < data_set.RecordCountInBuffers(); ++i)
    EXPECT_EQ(data_set.BufferId(i), rows[first + i].Id) << "buffer " << i;
  EXPECT_EQ(data_set.RowText(first + data_set.ActiveRecord(), 0), data_set.FieldByName("NUM").AsString());
}

class WindowTest : public ::testing::TestWithParam<int> {};

TEST_P(WindowTest, ScrollingKeepsTheWindowConsistent) {
  auto data_set = MakeNumbered(10);
  TDataSource source;
  TWindowLink link(GetParam());
  source.SetDataSet(data_set.get());
  link.SetDataSource(&source);
  data_set->Open();
  EXPECT_EQ(data_set->BufferCount(), GetParam());
  EXPECT_TRUE(data_set->Bof());
  for (int expected = 1; expected <= 10; ++expected) {
    SCOPED_TRACE(expected);
    EXPECT_EQ(data_set->FieldByName("NUM").AsInteger(), expected);
    ExpectWindowConsistent(*data_set);
    data_set->Next();
  }
  EXPECT_TRUE(data_set->Eof());
  EXPECT_EQ(data_set->FieldByName("NUM").AsInteger(), 10);
  for (int expected = 9; expected >= 1; --expected) {
    data_set->Prior();
    EXPECT_EQ(data_set->FieldByName("NUM").AsInteger(), expected);
    ExpectWindowConsistent(*data_set);
  }
  data_set->Prior();
  EXPECT_TRUE(data_set->Bof());

  EXPECT_EQ(data_set->MoveBy(100), 9);
  EXPECT_TRUE(data_set->Eof());
  EXPECT_EQ(data_set->MoveBy(-4), -4);
  EXPECT_EQ(data_set->FieldByName("NUM").AsInteger(), 6);
  ExpectWindowConsistent(*data_set);
  data_set->Last();
  EXPECT_TRUE(data_set->Eof());
  EXPECT_EQ(data_set->FieldByName("NUM").AsInteger(), 10);
  ExpectWindowConsistent(*data_set);
  data_set->First();
  EXPECT_TRUE(data_set->Bof());
  EXPECT_EQ(data_set->FieldByName("NUM").AsInteger(), 1);
  data_set->SetRecNo(7);
  EXPECT_EQ(data_set->RecNo(), 7);
  ExpectWindowConsistent(*data_set);
}

INSTANTIATE_TEST_SUITE_P(Sizes, WindowTest, ::testing::Values(1, 2, 3, 4, 10, 15));

TEST(WindowTest, ResizingTheWindowKeepsTheActiveRecord) {
  auto data_set = MakeNumbered(10);
  TDataSource source;
  source.SetDataSet(data_set.get());
  data_set->Open();
  data_set->MoveBy(6);
  for (int size : {5, 2, 8, 1, 3}) {
    SCOPED_TRACE(size);
    TWindowLink link(size);
    link.SetDataSource(&source);
    EXPECT_EQ(data_set->BufferCount(), size);
    EXPECT_EQ(data_set->FieldByName("NUM").AsInteger(), 7);
    ExpectWindowConsistent(*data_set);
    data_set->Next();
    data_set->Prior();
    EXPECT_EQ(data_set->FieldByName("NUM").AsInteger(), 7);
  }
  EXPECT_EQ(data_set->BufferCount(), 1);  // the links are gone
}

TEST(StateTest, ClosedDatasetRefusesNavigationAndEditing) {
  auto data_set = MakeNumbered(3);
  const std::string closed(kSDataSetClosed);
  const std::vector<std::pair<const char*, std::function<void()>>> cases = {
      {"First", [&] { data_set->First(); }},   {"Next", [&] { data_set->Next(); }},
      {"Edit", [&] { data_set->Edit(); }},     {"Insert", [&] { data_set->Insert(); }},
      {"Delete", [&] { data_set->Delete(); }}, {"Refresh", [&] { data_set->Refresh(); }},
  };
  for (const auto& [name, fn] : cases) EXPECT_EQ(DbError(fn), closed) << name;
  EXPECT_EQ(DbError([&] { data_set->Post(); }), std::string(kSNotEditing));
}

TEST(StateTest, EditAndInsertOnEmptyOrReadOnlyDatasets) {
  auto empty = MakeNumbered(0);
  empty->Open();
  EXPECT_TRUE(empty->IsEmpty());
  EXPECT_EQ(DbError([&] { empty->Delete(); }), std::string(kSDataSetEmpty));
  empty->Edit();  // an empty dataset turns Edit into Insert
  EXPECT_EQ(empty->State(), dsInsert);
  empty->Cancel();
  EXPECT_EQ(empty->State(), dsBrowse);
  EXPECT_TRUE(empty->IsEmpty());

  for (int rows : {0, 2}) {
    auto read_only = MakeNumbered(rows);
    read_only->SetReadOnly(true);
    read_only->Open();
    for (auto fn : {&TDataSet::Edit, &TDataSet::Insert, &TDataSet::Append})
      EXPECT_EQ(DbError([&] { (read_only.get()->*fn)(); }), std::string(kSDataSetReadOnly)) << rows;
    EXPECT_EQ(read_only->State(), dsBrowse);
  }
}

TEST(StateTest, PostInBrowseChangesNothing) {
  auto data_set = MakeNumbered(2);
  data_set->Open();
  int posts = 0;
  data_set->BeforePost = [&](TDataSet&) { ++posts; };
  EXPECT_NO_THROW(data_set->Post());
  EXPECT_EQ(posts, 0);
  EXPECT_EQ(data_set->State(), dsBrowse);
}

TEST(StateTest, EventsComeInTheirOrder) {
  auto data_set = MakeNumbered(3);
  std::vector<std::string> log;
  auto note = [&](const char* name) { return [&log, name](TDataSet&) { log.push_back(name); }; };
  data_set->BeforeOpen = note("BeforeOpen");
  data_set->AfterOpen = note("AfterOpen");
  data_set->BeforeScroll = note("BeforeScroll");
  data_set->AfterScroll = note("AfterScroll");
  data_set->BeforeEdit = note("BeforeEdit");
  data_set->AfterEdit = note("AfterEdit");
  data_set->BeforePost = note("BeforePost");
  data_set->AfterPost = note("AfterPost");
  data_set->BeforeInsert = note("BeforeInsert");
  data_set->OnNewRecord = note("OnNewRecord");
  data_set->AfterInsert = note("AfterInsert");
  data_set->BeforeCancel = note("BeforeCancel");
  data_set->AfterCancel = note("AfterCancel");
  data_set->BeforeDelete = note("BeforeDelete");
  data_set->AfterDelete = note("AfterDelete");
  data_set->BeforeClose = note("BeforeClose");
  data_set->AfterClose = note("AfterClose");

  data_set->Open();
  data_set->Edit();
  data_set->FieldByName("NAME").SetAsString("x");
  data_set->Next();  // posts the modified record first
  data_set->Insert();
  data_set->Cancel();
  data_set->Delete();
  data_set->Close();
  const std::vector<std::string> expected = {
      "BeforeOpen",  "AfterOpen",   "AfterScroll",  "BeforeEdit",  "AfterEdit",    "BeforePost",
      "AfterPost",   "BeforeScroll", "AfterScroll", "BeforeInsert", "OnNewRecord", "AfterInsert",
      "BeforeCancel", "AfterCancel", "BeforeDelete", "BeforeScroll", "AfterDelete", "AfterScroll",
      "BeforeClose", "AfterClose"};
  EXPECT_EQ(log, expected);
  EXPECT_EQ(data_set->RowText(0, 1), "x");
}

TEST(StateTest, UnmodifiedEditIsCancelledByCheckBrowseMode) {
  auto data_set = MakeNumbered(3);
  data_set->Open();
  int posts = 0;
  data_set->BeforePost = [&](TDataSet&) { ++posts; };
  data_set->Edit();
  data_set->Next();
  EXPECT_EQ(posts, 0);
  EXPECT_EQ(data_set->State(), dsBrowse);
  EXPECT_EQ(data_set->FieldByName("NUM").AsInteger(), 2);
}

TEST(StateTest, ClosingWhileEditingDiscardsTheChange) {
  auto data_set = MakeNumbered(2);
  data_set->Open();
  data_set->Edit();
  data_set->FieldByName("NAME").SetAsString("changed");
  data_set->Close();
  EXPECT_EQ(data_set->State(), dsInactive);
  EXPECT_EQ(data_set->RowText(0, 1), "r1");
  data_set->Open();
  data_set->Append();
  data_set->FieldByName("NUM").SetAsInteger(3);
  data_set->Close();
  EXPECT_EQ(data_set->Rows().size(), 2u);
}

TEST(StateTest, RequiredFieldKeepsInsertState) {
  TVectorDataSet data_set({{"NUM", ftInteger, 0, true}, {"NAME", ftString, 10}});
  data_set.Open();
  data_set.Insert();
  data_set.FieldByName("NAME").SetAsString("a");
  EXPECT_EQ(DbError([&] { data_set.Post(); }), "Field 'NUM' must have a value");
  EXPECT_EQ(data_set.State(), dsInsert);
  data_set.FieldByName("NUM").SetAsInteger(1);
  data_set.Post();
  EXPECT_EQ(data_set.State(), dsBrowse);
  EXPECT_EQ(data_set.Rows().size(), 1u);
}

TEST(StateTest, PostErrorHandlerAnswers) {
  struct Case {
    TDataAction action;
    int failures;
    bool posted;
    bool silent;  // EAbort instead of the error
  };
  for (const Case& c : {Case{daFail, 1, false, false}, Case{daRetry, 2, true, false}, Case{daAbort, 1, false, true}}) {
    SCOPED_TRACE(static_cast<int>(c.action));
    auto data_set = MakeNumbered(1);
    data_set->Open();
    int calls = 0;
    data_set->OnPostError = [&](TDataSet&, EDatabaseError& error, TDataAction& action) {
      EXPECT_EQ(error.Message(), "Post refused");
      ++calls;
      action = c.action;
    };
    data_set->Edit();
    data_set->FieldByName("NAME").SetAsString("new");
    data_set->FailPosts(c.failures);
    bool aborted = false, failed = false;
    try {
      data_set->Post();
    } catch (const EAbort&) {
      aborted = true;
    } catch (const EDatabaseError&) {
      failed = true;
    }
    EXPECT_EQ(aborted, c.silent);
    EXPECT_EQ(failed, !c.posted && !c.silent);
    EXPECT_EQ(calls, c.failures);
    EXPECT_EQ(data_set->State(), c.posted ? dsBrowse : dsEdit);
    EXPECT_EQ(data_set->RowText(0, 1), c.posted ? "new" : "r1");
    if (!c.posted) {  // the edit survives for another attempt
      data_set->Post();
      EXPECT_EQ(data_set->RowText(0, 1), "new");
    }
  }
}

// Where new records go and where the dataset stands after each change.
TEST(EditPositionTest, InsertAppendCancelDelete) {
  struct Case {
    const char* name;
    int start;  // 1-based record to stand on
    std::function<void(TVectorDataSet&)> act;
    std::vector<int> stored;
    int active;  // NUM of the active record afterwards, 0 = empty
  };
  auto put = [](int num, bool append) {
    return [num, append](TVectorDataSet& ds) {
      append ? ds.Append() : ds.Insert();
      ds.FieldByName("NUM").SetAsInteger(num);
      ds.Post();
    };
  };
  auto cancel_insert = [](bool append) {
    return [append](TVectorDataSet& ds) {
      append ? ds.Append() : ds.Insert();
      ds.FieldByName("NUM").SetAsInteger(99);
      ds.Cancel();
    };
  };
  const std::vector<Case> cases = {
      {"insert before the current", 2, put(9, false), {1, 9, 2, 3}, 9},
      {"insert at the first", 1, put(9, false), {9, 1, 2, 3}, 9},
      {"append", 1, put(9, true), {1, 2, 3, 9}, 9},
      {"cancelled insert", 2, cancel_insert(false), {1, 2, 3}, 2},
      {"cancelled append", 2, cancel_insert(true), {1, 2, 3}, 3},
      {"delete in the middle", 2, [](TVectorDataSet& ds) { ds.Delete(); }, {1, 3}, 3},
      {"delete the last", 3, [](TVectorDataSet& ds) { ds.Delete(); }, {1, 2}, 2},
      {"delete while inserting cancels", 2,
       [](TVectorDataSet& ds) {
         ds.Insert();
         ds.Delete();
       },
       {1, 2, 3}, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto data_set = MakeNumbered(3);
    TDataSource source;
    TWindowLink link(2);
    source.SetDataSet(data_set.get());
    link.SetDataSource(&source);
    data_set->Open();
    data_set->MoveBy(c.start - 1);
    c.act(*data_set);
    EXPECT_EQ(StoredNums(*data_set), c.stored);
    EXPECT_EQ(data_set->State(), dsBrowse);
    EXPECT_EQ(data_set->FieldByName("NUM").AsInteger(), c.active);
    ExpectWindowConsistent(*data_set);
  }
  auto single = MakeNumbered(1);
  single->Open();
  single->Delete();
  EXPECT_TRUE(single->IsEmpty());
  EXPECT_TRUE(single->Bof() && single->Eof());
  EXPECT_TRUE(single->FieldByName("NUM").IsNull());
}

TEST(EditPositionTest, NewRecordHandlerFailureAbandonsTheInsert) {
  auto data_set = MakeNumbered(3);
  data_set->Open();
  data_set->Next();
  data_set->OnNewRecord = [](TDataSet&) { DatabaseError("no"); };
  EXPECT_EQ(DbError([&] { data_set->Insert(); }), "no");
  EXPECT_EQ(data_set->State(), dsBrowse);
  EXPECT_EQ(data_set->FieldByName("NUM").AsInteger(), 2);
  EXPECT_EQ(data_set->Rows().size(), 3u);
}

TEST(BookmarkTest, GotoCompareAndValidity) {
  auto data_set = MakeNumbered(6);
  data_set->Open();
  data_set->MoveBy(3);
  const TBookmark fourth = data_set->Bookmark();
  ASSERT_EQ(fourth.size(), 8u);
  data_set->First();
  const TBookmark first = data_set->Bookmark();
  data_set->GotoBookmark(fourth);
  EXPECT_EQ(data_set->FieldByName("NUM").AsInteger(), 4);
  EXPECT_EQ(data_set->CompareBookmarks(first, fourth), -1);
  EXPECT_EQ(data_set->CompareBookmarks(fourth, first), 1);
  EXPECT_EQ(data_set->CompareBookmarks({}, fourth), 1);
  EXPECT_EQ(data_set->CompareBookmarks(fourth, {}), -1);
  EXPECT_TRUE(data_set->BookmarkValid(fourth));

  data_set->Delete();  // the fourth record
  EXPECT_FALSE(data_set->BookmarkValid(fourth));
  EXPECT_EQ(DbError([&] { data_set->GotoBookmark(fourth); }), std::string(kSRecordNotFound));
  EXPECT_EQ(DbError([&] { data_set->GotoBookmark(TBookmark{1, 2}); }), std::string(kSInvalidBookmark));

  data_set->Insert();
  EXPECT_FALSE(data_set->BookmarkAvailable());
  EXPECT_TRUE(data_set->Bookmark().empty());
}

}  // namespace
}  // namespace orb::test

namespace orb::test {
namespace {

TEST(AddRecordTest, InsertAndAppendRecordStoreWholeRecords) {
  auto data_set = MakeNumbered(3);
  data_set->Open();
  data_set->Next();
  auto num = [](int n) {
    TORBVariant v;
    v.SetAsInteger(n);
    return v;
  };
  data_set->InsertRecord({num(7)});
  EXPECT_EQ(StoredNums(*data_set), (std::vector<int>{1, 7, 2, 3}));
  EXPECT_EQ(data_set->FieldByName("NUM").AsInteger(), 7);
  EXPECT_TRUE(data_set->FieldByName("NAME").IsNull());
  data_set->AppendRecord({num(8), TORBVariant()});
  EXPECT_EQ(StoredNums(*data_set), (std::vector<int>{1, 7, 2, 3, 8}));
  EXPECT_EQ(data_set->FieldByName("NUM").AsInteger(), 8);
  EXPECT_EQ(data_set->State(), dsBrowse);

  TVectorDataSet required({{"NUM", ftInteger, 0, true}});
  required.Open();
  EXPECT_EQ(DbError([&] { required.AppendRecord({TORBVariant()}); }), "Field 'NUM' must have a value");
  EXPECT_EQ(required.State(), dsBrowse);
  EXPECT_TRUE(required.IsEmpty());
}

}  // namespace
}  // namespace orb::test
