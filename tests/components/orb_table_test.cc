// The table component over real database files and over the in-memory
// database: creating and opening tables, editing, navigation, keyed
// search, ranges, master-detail, memo values through BLOB streams, dates
// far before 1899-12-30, filters and searches.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "components/data_source.h"
#include "components/field.h"
#include "components/host_date_time.h"
#include "components/orb_database.h"
#include "components/orb_session.h"
#include "components/orb_session_list.h"
#include "engine/expr/expression.h"
#include "components/orb_table.h"
#include "engine/base/orb_exception.h"
#include "tests/support/disk_scratch.h"
#include "tests/support/vector_dataset.h"

namespace orb::test {
namespace {

using orb::testing::DiskScratch;
using orb::testing::ErrorCodeOf;
using orb::testing::ErrorMessageOf;

TORBVariant Int(int32_t value) {
  TORBVariant v(bftSignedInt32);
  v.SetAsInteger(value);
  return v;
}

TORBVariant Text(const std::string& value) {
  TORBVariant v;
  v.SetAsAnsiString(value);
  return v;
}

// GetParam(): true for the in-memory database, false for a disk file.
class TableTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    static int counter = 0;
    ++counter;
    FSuffix = std::to_string(counter);
    FDatabase = std::make_unique<TORBDatabase>();
    if (GetParam()) {
      FDatabaseName = "MEMORY";
    } else {
      FDatabaseName = "TableDb" + FSuffix;
      FDatabase->SetDatabaseFileName(FDir.File("t.orb"));
      FDatabase->SetDatabaseName(FDatabaseName);
      FDatabase->CreateDatabase();
    }
    FDatabase->SetDatabaseName(FDatabaseName);
    FDatabase->Open();
  }
  void TearDown() override {
    for (auto& table : FTables) table->Close();
    if (GetParam()) {
      for (const std::string& name : FCreated) {
        TORBTable dropper;
        dropper.SetDatabaseName(FDatabaseName);
        dropper.SetTableName(name);
        try {
          dropper.DeleteTable();
        } catch (...) {
        }
      }
    }
    FTables.clear();
    FDatabase->Close();
  }

  // A closed table component on `name` (made unique per test).
  TORBTable& Table(const std::string& name) {
    FTables.push_back(std::make_unique<TORBTable>());
    TORBTable& table = *FTables.back();
    table.SetDatabaseName(FDatabaseName);
    table.SetTableName(name + FSuffix);
    return table;
  }

  // PEOPLE: ID integer, NAME string(20), BORN date, STAMP date-time, NOTE
  // memo, GRP integer; indexes ByID (unique), ByName, ByGrp (GRP;ID).
  TORBTable& People() {
    TORBTable& t = Table("PEOPLE");
    t.FieldDefs().Add("ID", ftInteger);
    t.FieldDefs().Add("NAME", ftString, 20);
    t.FieldDefs().Add("BORN", ftDate);
    t.FieldDefs().Add("STAMP", ftDateTime);
    t.FieldDefs().Add("NOTE", ftMemo);
    t.FieldDefs().Add("GRP", ftInteger);
    t.IndexDefs().Add("ByID", "ID", ixUnique);
    t.IndexDefs().Add("ByName", "NAME", 0);
    t.IndexDefs().Add("ByGrp", "GRP;ID", 0);
    t.CreateTable();
    FCreated.push_back(t.TableName());
    return t;
  }

  static void Add(TORBTable& t, int32_t id, const std::string& name, int32_t group) {
    t.Append();
    t.FieldByName("ID").SetAsInteger(id);
    t.FieldByName("NAME").SetAsString(name);
    t.FieldByName("GRP").SetAsInteger(group);
    t.Post();
  }

  // IDs in view order, forward or backward; the position is left at the
  // end it reached.
  static std::vector<int32_t> Ids(TORBTable& t, bool forward = true) {
    std::vector<int32_t> ids;
    if (forward) {
      for (t.First(); !t.Eof(); t.Next()) ids.push_back(t.FieldByName("ID").AsInteger());
    } else {
      for (t.Last(); !t.Bof(); t.Prior()) ids.push_back(t.FieldByName("ID").AsInteger());
    }
    return ids;
  }

  // An open PEOPLE with five people (IDs 1-5, groups 1 and 2).
  TORBTable& FivePeople() {
    TORBTable& t = People();
    t.Open();
    Add(t, 3, "erin", 1);
    Add(t, 1, "dave", 2);
    Add(t, 5, "alice", 1);
    Add(t, 2, "carol", 2);
    Add(t, 4, "bob", 1);
    return t;
  }

  DiskScratch FDir;
  std::unique_ptr<TORBDatabase> FDatabase;
  std::string FDatabaseName;
  std::string FSuffix;
  std::vector<std::unique_ptr<TORBTable>> FTables;
  std::vector<std::string> FCreated;
};

TEST_P(TableTest, CreatesOpensAndKeepsRecordsAcrossReopening) {
  TORBTable& t = People();
  EXPECT_TRUE(t.Exists());
  t.Open();
  EXPECT_TRUE(t.IsEmpty());
  EXPECT_EQ(t.FieldCount(), 6);
  EXPECT_EQ(t.FieldByName("NAME").Size(), 20);
  EXPECT_EQ(t.IndexDefs().Count(), 3);
  Add(t, 7, "zed", 3);
  Add(t, 8, "amy", 3);
  t.Close();
  EXPECT_EQ(FDatabase->DataSetCount(), 0);

  t.Open();
  EXPECT_EQ(t.RecordCount(), 2);
  EXPECT_EQ(Ids(t), (std::vector<int32_t>{7, 8}));
  t.SetIndexName("ByName");
  EXPECT_EQ(Ids(t), (std::vector<int32_t>{8, 7}));
  EXPECT_EQ(Ids(t, false), (std::vector<int32_t>{7, 8}));
}

TEST_P(TableTest, OpeningAMissingTableFails) {
  TORBTable& t = Table("NOPE");
  t.FieldDefs().Add("A", ftInteger);
  EXPECT_FALSE(t.Exists());
  EXPECT_NE(ErrorCodeOf([&] { t.Open(); }), 0);
  EXPECT_FALSE(t.Active());
  EXPECT_EQ(FDatabase->DataSetCount(), 0);
  EXPECT_FALSE(t.Exists());  // the kept definitions did not create it
  if (!GetParam()) {
    EXPECT_EQ(ErrorCodeOf([&] { t.Open(); }), 30396);
  }
}

TEST_P(TableTest, EditPostCancelAndDeleteChangeStoredRecords) {
  TORBTable& t = FivePeople();
  t.SetIndexName("ByID");
  ASSERT_TRUE(t.FindKey({Int(3)}));
  t.Edit();
  t.FieldByName("NAME").SetAsString("erin2");
  t.Post();
  EXPECT_EQ(t.Handle()->FEditRecordBuffer, nullptr);

  ASSERT_TRUE(t.FindKey({Int(2)}));
  t.Edit();
  t.FieldByName("NAME").SetAsString("never");
  t.Cancel();
  EXPECT_EQ(t.Handle()->FEditRecordBuffer, nullptr);
  EXPECT_EQ(t.FieldByName("NAME").AsString(), "carol");

  t.Insert();
  t.FieldByName("ID").SetAsInteger(9);
  t.Cancel();
  EXPECT_EQ(t.RecordCount(), 5);

  ASSERT_TRUE(t.FindKey({Int(4)}));
  t.Delete();
  EXPECT_EQ(t.RecordCount(), 4);

  t.Close();
  t.Open();
  t.SetIndexName("ByID");
  EXPECT_EQ(Ids(t), (std::vector<int32_t>{1, 2, 3, 5}));
  ASSERT_TRUE(t.FindKey({Int(3)}));
  EXPECT_EQ(t.FieldByName("NAME").AsString(), "erin2");
  EXPECT_EQ(t.FieldByName("NAME").OldValue().AsAnsiString(), "erin2");
}

TEST_P(TableTest, AFailedPostKeepsEditStateAndASecondPostSucceeds) {
  TORBTable& t = FivePeople();
  t.SetIndexName("ByID");
  ASSERT_TRUE(t.FindKey({Int(2)}));
  t.Edit();
  t.FieldByName("ID").SetAsInteger(3);  // taken: the unique index refuses it
  EXPECT_ANY_THROW(t.Post());
  EXPECT_EQ(t.State(), dsEdit);
  EXPECT_EQ(t.FieldByName("ID").OldValue().AsInteger(), 2);
  t.FieldByName("ID").SetAsInteger(6);
  t.Post();
  EXPECT_EQ(t.Handle()->FEditRecordBuffer, nullptr);
  EXPECT_EQ(Ids(t), (std::vector<int32_t>{1, 3, 4, 5, 6}));
}

TEST_P(TableTest, ClosingWhileEditingDiscardsTheChange) {
  TORBTable& t = FivePeople();
  t.First();
  const std::string name = t.FieldByName("NAME").AsString();
  t.Edit();
  t.FieldByName("NAME").SetAsString("changed");
  t.Close();
  t.Open();
  EXPECT_EQ(t.FieldByName("NAME").AsString(), name);
  t.Insert();
  t.FieldByName("ID").SetAsInteger(42);
  t.Close();
  t.Open();
  EXPECT_EQ(t.RecordCount(), 5);
}

TEST_P(TableTest, KeyedSearch) {
  TORBTable& t = FivePeople();
  t.SetIndexName("ByID");
  ASSERT_TRUE(t.FindKey({Int(4)}));
  EXPECT_EQ(t.FieldByName("NAME").AsString(), "bob");
  EXPECT_FALSE(t.FindKey({Int(40)}));
  EXPECT_EQ(t.FieldByName("ID").AsInteger(), 4);  // stays put

  t.SetKey();
  t.FieldByName("ID").SetAsInteger(2);
  EXPECT_EQ(ErrorCodeOf([&] { t.FieldByName("NAME").SetAsString("x"); }), 20019);
  t.Post();
  EXPECT_TRUE(t.GotoKey());
  EXPECT_EQ(t.FieldByName("NAME").AsString(), "carol");

  t.SetIndexFieldNames("NAME");
  EXPECT_EQ(t.IndexName(), "");
  t.FindNearest({Text("c")});
  EXPECT_EQ(t.FieldByName("NAME").AsString(), "carol");
  t.SetKey();
  t.FieldByName("NAME").SetAsString("carol");
  t.SetKeyExclusive(true);
  t.Post();
  t.GotoNearest();
  EXPECT_EQ(t.FieldByName("NAME").AsString(), "dave");
  t.SetKey();
  t.FieldByName("NAME").SetAsString("zzz");
  t.SetKeyExclusive(true);
  t.Post();
  t.GotoNearest();
  EXPECT_EQ(t.FieldByName("NAME").AsString(), "erin");  // past the last: the last

  // A cancelled key edit leaves the key as it was.
  t.EditKey();
  t.FieldByName("NAME").SetAsString("alice");
  t.Cancel();
  t.GotoNearest();
  EXPECT_EQ(t.FieldByName("NAME").AsString(), "erin");
}

TEST_P(TableTest, RangesRestrictTheView) {
  TORBTable& t = FivePeople();
  t.SetIndexName("ByID");
  t.SetRange({Int(2)}, {Int(4)});
  EXPECT_EQ(Ids(t), (std::vector<int32_t>{2, 3, 4}));
  EXPECT_EQ(Ids(t, false), (std::vector<int32_t>{4, 3, 2}));
  t.SetRange({Int(3)}, {Int(3)});
  EXPECT_EQ(Ids(t), (std::vector<int32_t>{3}));
  t.CancelRange();
  EXPECT_EQ(Ids(t), (std::vector<int32_t>{1, 2, 3, 4, 5}));

  t.SetIndexName("ByGrp");
  t.SetRangeStart();
  t.FieldByName("GRP").SetAsInteger(2);
  t.SetKeyFieldCount(1);
  t.Post();
  t.SetRangeEnd();
  t.FieldByName("GRP").SetAsInteger(2);
  t.SetKeyFieldCount(1);
  t.Post();
  t.ApplyRange();
  EXPECT_EQ(Ids(t), (std::vector<int32_t>{1, 2}));
}

TEST_P(TableTest, DetailFollowsItsMaster) {
  TORBTable& master = FivePeople();
  master.SetIndexName("ByID");
  TORBTable& detail = Table("PETS");
  detail.FieldDefs().Add("OWNER", ftInteger);
  detail.FieldDefs().Add("PET", ftString, 10);
  detail.IndexDefs().Add("ByOwner", "OWNER", 0);
  detail.CreateTable();
  FCreated.push_back(detail.TableName());
  detail.Open();
  for (auto [owner, pet] : std::vector<std::pair<int, std::string>>{{1, "cat"}, {3, "dog"}, {1, "eel"}, {2, "ant"}}) {
    detail.Append();
    detail.FieldByName("OWNER").SetAsInteger(owner);
    detail.FieldByName("PET").SetAsString(pet);
    detail.Post();
  }
  detail.Close();

  TDataSource source;
  source.SetDataSet(&master);
  detail.SetIndexName("ByOwner");
  detail.SetMasterSource(&source);
  detail.SetMasterFields("ID");
  detail.Open();
  const auto pets = [&] {
    std::vector<std::string> names;
    for (detail.First(); !detail.Eof(); detail.Next()) names.push_back(detail.FieldByName("PET").AsString());
    return names;
  };
  ASSERT_TRUE(master.FindKey({Int(1)}));
  EXPECT_EQ(pets(), (std::vector<std::string>{"cat", "eel"}));
  ASSERT_TRUE(master.FindKey({Int(3)}));
  EXPECT_EQ(pets(), (std::vector<std::string>{"dog"}));
  master.Next();
  EXPECT_TRUE(pets().empty());

  // A new detail record takes the master's key.
  detail.Insert();
  detail.FieldByName("PET").SetAsString("fox");
  detail.Post();
  EXPECT_EQ(detail.FieldByName("OWNER").AsInteger(), 4);

  TDataSource back;
  back.SetDataSet(&detail);
  EXPECT_EQ(DbError([&] { master.SetMasterSource(&back); }), "Circular datalinks are not allowed");
  detail.SetMasterSource(nullptr);
}

TEST_P(TableTest, MemoGoesThroughTheBlobStream) {
  TORBTable& t = FivePeople();
  t.SetIndexName("ByID");
  ASSERT_TRUE(t.FindKey({Int(2)}));
  const std::string long_text(70000, 'q');
  t.Edit();
  t.FieldByName("NOTE").SetAsString("first note");
  t.Post();
  ASSERT_TRUE(t.FindKey({Int(5)}));
  t.Edit();
  {
    std::unique_ptr<TStream> stream = t.CreateBlobStream(t.FieldByName("NOTE"), bmWrite);
    stream->Write(long_text.data(), static_cast<int64_t>(long_text.size()));
  }
  EXPECT_TRUE(t.Modified());
  t.Post();
  EXPECT_EQ(ErrorCodeOf([&] { t.CreateBlobStream(t.FieldByName("NOTE"), bmWrite); }), 10111);

  t.Close();
  t.Open();
  t.SetIndexName("ByID");
  ASSERT_TRUE(t.FindKey({Int(2)}));
  EXPECT_EQ(t.FieldByName("NOTE").AsString(), "first note");
  ASSERT_TRUE(t.FindKey({Int(5)}));
  std::unique_ptr<TStream> stream = t.CreateBlobStream(t.FieldByName("NOTE"), bmRead);
  std::string read(static_cast<size_t>(stream->GetSize()), '\0');
  stream->Read(read.data(), static_cast<int64_t>(read.size()));
  EXPECT_EQ(read, long_text);
  stream.reset();

  // A cancelled memo change leaves the stored value.
  t.Edit();
  t.FieldByName("NOTE").SetAsString("dropped");
  t.Cancel();
  EXPECT_EQ(t.FieldByName("NOTE").AsString(), long_text);
}

TEST_P(TableTest, DatesLongBeforeTheFrameworkEpochRoundTripExactly) {
  TORBTable& t = People();
  t.Open();
  const std::vector<TORBDateTime> moments = {
      {1, 0}, {1, 86399999}, {kDateDelta - 1, 1}, {kDateDelta, 0}, {400000, 43200123}, {kDateDelta + 1, 999}};
  int32_t id = 0;
  for (const TORBDateTime& m : moments) {
    t.Append();
    t.FieldByName("ID").SetAsInteger(++id);
    t.FieldByName("BORN").SetData(&m.Date);
    const int64_t msecs = MomentToMSecs(m);
    t.FieldByName("STAMP").SetData(&msecs);
    t.Post();
  }
  t.Close();
  t.Open();
  t.First();
  for (const TORBDateTime& m : moments) {
    int32_t day = 0;
    int64_t msecs = 0;
    ASSERT_TRUE(t.FieldByName("BORN").GetData(&day));
    ASSERT_TRUE(t.FieldByName("STAMP").GetData(&msecs));
    EXPECT_EQ(day, m.Date);
    EXPECT_EQ(MSecsToMoment(msecs), m) << m.Date << " " << m.Time;
    t.Next();
  }
  t.First();
  t.MoveBy(3);
  EXPECT_EQ(t.FieldByName("BORN").AsString(), "1899-12-30");
  int32_t day = 0;
  t.FieldByName("BORN").GetData(&day);
  EXPECT_EQ(day, 693594);
}

TEST_P(TableTest, BookmarksRecNoAndLocate) {
  TORBTable& t = FivePeople();
  t.SetIndexName("ByID");
  t.First();
  t.Next();
  const TBookmark second = t.Bookmark();
  EXPECT_EQ(t.RecNo(), 2);
  t.Last();
  const TBookmark last = t.Bookmark();
  EXPECT_EQ(t.CompareBookmarks(second, last), -1);
  EXPECT_EQ(t.CompareBookmarks({}, last), 1);
  EXPECT_EQ(t.CompareBookmarks(last, {}), -1);
  EXPECT_TRUE(t.BookmarkValid(second));
  t.GotoBookmark(second);
  EXPECT_EQ(t.FieldByName("ID").AsInteger(), 2);
  t.SetRecNo(4);
  EXPECT_EQ(t.FieldByName("ID").AsInteger(), 4);

  EXPECT_TRUE(t.Locate("NAME", {Text("ALICE")}, loCaseInsensitive));
  EXPECT_EQ(t.FieldByName("ID").AsInteger(), 5);
  EXPECT_FALSE(t.Locate("NAME", {Text("nobody")}, 0));
  EXPECT_EQ(t.FieldByName("ID").AsInteger(), 5);
  EXPECT_EQ(t.State(), dsBrowse);
  const std::vector<TORBVariant> found = t.Lookup("NAME", {Text("carol")}, "ID");
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].AsInteger(), 2);
  EXPECT_EQ(t.FieldByName("ID").AsInteger(), 5);  // Lookup does not move
  EXPECT_TRUE(t.Lookup("NAME", {Text("nobody")}, "ID").empty());
}

TEST_P(TableTest, FiltersAndSearchesWithThem) {
  TORBTable& t = FivePeople();
  t.SetIndexName("ByID");
  t.SetOnFilterRecordEvent([](TDataSet& d, bool& accept) { accept = d.FieldByName("GRP").AsInteger() == 2; });
  EXPECT_EQ(Ids(t), (std::vector<int32_t>{1, 2, 3, 4, 5}));  // not filtered yet
  t.SetFiltered(true);
  EXPECT_EQ(Ids(t), (std::vector<int32_t>{1, 2}));
  t.SetFiltered(false);
  EXPECT_EQ(Ids(t), (std::vector<int32_t>{1, 2, 3, 4, 5}));

  // An unfiltered search uses the filter for the search only.
  t.First();
  EXPECT_TRUE(t.FindNext());
  EXPECT_EQ(t.FieldByName("ID").AsInteger(), 2);
  EXPECT_EQ(Ids(t), (std::vector<int32_t>{1, 2, 3, 4, 5}));

  t.SetOnFilterRecordEvent(nullptr);
  t.SetFilter("NAME = 'bob'");
  EXPECT_TRUE(t.FindFirst());
  EXPECT_EQ(t.FieldByName("ID").AsInteger(), 4);
  EXPECT_EQ(Ids(t), (std::vector<int32_t>{1, 2, 3, 4, 5}));
  t.SetFiltered(true);
  EXPECT_EQ(Ids(t), (std::vector<int32_t>{4}));
}

TEST_P(TableTest, ASearchThatRaisesLeavesNoFilterOrTemporaryStateBehind) {
  TORBTable& t = FivePeople();
  t.SetIndexName("ByID");
  t.Last();
  // The filter text fails on record 1 only, while it is read.
  t.SetFilter("10 / (ID - 1) > 0");
  EXPECT_EQ(ErrorCodeOf([&] { t.FindFirst(); }), 30128);
  EXPECT_EQ(t.State(), dsBrowse);
  EXPECT_EQ(Ids(t), (std::vector<int32_t>{1, 2, 3, 4, 5}));  // no filter left behind

  EXPECT_NE(ErrorCodeOf([&] { t.Locate("NOPE", {Int(1)}, 0); }), 0);
  EXPECT_EQ(t.State(), dsBrowse);
  EXPECT_NE(ErrorCodeOf([&] { t.Lookup("NOPE", {Int(1)}, "ID"); }), 0);
  EXPECT_EQ(t.State(), dsBrowse);
  EXPECT_EQ(Ids(t), (std::vector<int32_t>{1, 2, 3, 4, 5}));
}

TEST_P(TableTest, AddsAndDeletesIndexes) {
  TORBTable& t = FivePeople();
  t.Close();
  t.AddIndex("ByNameGrp", "NAME;GRP", 0);
  t.Open();
  EXPECT_NE(t.IndexDefs().FindIndex("ByNameGrp"), nullptr);
  t.SetIndexName("ByNameGrp");
  EXPECT_EQ(Ids(t), (std::vector<int32_t>{5, 4, 2, 1, 3}));
  t.SetIndexName("");
  t.DeleteIndex("ByNameGrp");
  EXPECT_EQ(t.IndexDefs().FindIndex("ByNameGrp"), nullptr);
  t.Close();
}

TEST_P(TableTest, EmptiesRenamesAndDeletesTables) {
  TORBTable& t = FivePeople();
  t.Close();
  t.EmptyTable();
  t.Open();
  EXPECT_TRUE(t.IsEmpty());
  t.Close();
  const std::string new_name = "RENAMED" + FSuffix;
  t.RenameTable(new_name);
  FCreated.push_back(new_name);
  EXPECT_EQ(t.TableName(), new_name);
  t.Open();
  EXPECT_EQ(t.FieldCount(), 6);
  t.DeleteTable();
  EXPECT_FALSE(t.Active());
  EXPECT_FALSE(t.Exists());
  EXPECT_EQ(FDatabase->DataSetCount(), 0);
}

TEST_P(TableTest, RefusesBadDefinitions) {
  TORBTable& t = Table("BAD");
  t.FieldDefs().Add("S", ftString, 0);
  EXPECT_EQ(ErrorCodeOf([&] { t.CreateTable(); }), 30453);
  TORBTable& blank = Table("");
  blank.SetTableName("  ");
  EXPECT_EQ(DbError([&] { blank.Open(); }), "Missing TableName property");
  EXPECT_EQ(FDatabase->DataSetCount(), 0);
}

// The status and text of the engine error `fn` raises; {0, ""} for none.
template <typename Fn>
std::pair<int32_t, std::string> EngineErrorOf(Fn&& fn) {
  try {
    fn();
  } catch (const EORBEngineError& e) {
    return {e.ErrorCode(), e.ErrorMessage()};
  }
  return {0, {}};
}

// ITEMS: ID integer (required), QTY integer 1..10, CODE string(8) with a
// unique index, SEQ auto-increment (required, yet optional to the form).
TORBTable& CreateItems(TORBTable& t) {
  TORBAdvFieldDefs& adv = t.AdvFieldDefs();
  adv.Add("ID", aftInteger, 0, true);
  TORBAdvFieldDef& qty = adv.Add("QTY", aftInteger);
  qty.FMinValue = Text("1");  // text limits take the field's type
  qty.FMaxValue = Int(10);
  adv.Add("CODE", aftString, 8);
  adv.Add("SEQ", aftAutoInc, 0, true);
  t.IndexDefs().Add("ByCode", "CODE", ixUnique);
  t.CreateTable();
  return t;
}

TEST_P(TableTest, ConstraintsComeBackAsDefinitions) {
  TORBTable& t = CreateItems(Table("ITEMS"));
  FCreated.push_back(t.TableName());
  t.AdvFieldDefs().Clear();
  t.FieldDefs().Clear();
  t.Open();
  ASSERT_EQ(t.FieldDefs().Count(), 4);
  EXPECT_TRUE(t.FieldDefs().FieldDef("ID").Required());
  EXPECT_FALSE(t.FieldDefs().FieldDef("QTY").Required());
  EXPECT_FALSE(t.FieldDefs().FieldDef("SEQ").Required());
  EXPECT_EQ(t.FieldDefs().FieldDef("CODE").Size(), 8);
  const TORBAdvFieldDefs& adv = t.AdvFieldDefs();
  ASSERT_EQ(adv.Count(), 4);
  EXPECT_TRUE(adv.Find("id")->FRequired);
  EXPECT_TRUE(adv.Find("SEQ")->FRequired);
  EXPECT_FALSE(adv.Find("CODE")->FRequired);
  const TORBAdvFieldDef& qty = *adv.Find("QTY");
  ASSERT_FALSE(qty.FMinValue.IsNull());
  ASSERT_FALSE(qty.FMaxValue.IsNull());
  EXPECT_EQ(qty.FMinValue.AsInteger(), 1);
  EXPECT_EQ(qty.FMaxValue.AsInteger(), 10);
  EXPECT_TRUE(adv.Find("CODE")->FMinValue.IsNull());
  EXPECT_TRUE((t.IndexDefs().Find("ByCode").Options() & ixUnique) != 0);
}

TEST_P(TableTest, PostsAreCheckedAgainstConstraints) {
  TORBTable& t = CreateItems(Table("ITEMS"));
  FCreated.push_back(t.TableName());
  t.Open();
  const auto append = [&](bool with_id, int32_t qty, const std::string& code) {
    t.Append();
    if (with_id) t.FieldByName("ID").SetAsInteger(1);
    t.FieldByName("QTY").SetAsInteger(qty);
    t.FieldByName("CODE").SetAsString(code);
    t.Post();
  };
  append(true, 5, "A");
  append(true, 1, "B");
  append(true, 10, "C");
  // The form refuses a missing required value first; without that check
  // the table refuses it.
  EXPECT_EQ(DbError([&] { append(false, 5, "D"); }), "Field 'ID' must have a value");
  t.Cancel();
  t.FieldByName("ID").SetRequired(false);
  auto [code, message] = EngineErrorOf([&] { append(false, 5, "D"); });
  EXPECT_EQ(code, -8);
  EXPECT_NE(message.find("Value in field 'ID' cannot be null"), std::string::npos) << message;
  t.Cancel();
  const struct {
    int32_t qty;
    const char* text;
  } out_of_range[] = {{0, "Value in field 'QTY' cannot be lower than '1'"},
                      {-3, "Value in field 'QTY' cannot be lower than '1'"},
                      {11, "Value in field 'QTY' cannot be greater than '10'"}};
  for (const auto& c : out_of_range) {
    SCOPED_TRACE(c.qty);
    std::tie(code, message) = EngineErrorOf([&] { append(true, c.qty, "E"); });
    EXPECT_EQ(code, -8);
    EXPECT_NE(message.find(c.text), std::string::npos) << message;
    t.Cancel();
  }
  std::tie(code, message) = EngineErrorOf([&] { append(true, 5, "A"); });
  EXPECT_EQ(code, -8);
  EXPECT_NE(message.find("Constraint unique 'C_Unique$CODE' violated. Duplicate found."), std::string::npos)
      << message;
  t.Cancel();
  EXPECT_EQ(Ids(t).size(), 3u);
}

TEST_P(TableTest, RequiredFrameworkFieldsBecomeNotNull) {
  TORBTable& t = Table("REQ");
  t.FieldDefs().Add("ID", ftInteger, 0, true);
  t.FieldDefs().Add("NAME", ftString, 10);
  t.CreateTable();
  FCreated.push_back(t.TableName());
  TORBTable& other = Table("REQ");
  other.SetTableName(t.TableName());
  other.Open();
  EXPECT_TRUE(other.FieldDefs().FieldDef("ID").Required());
  EXPECT_TRUE(other.AdvFieldDefs().Find("ID")->FRequired);
  EXPECT_FALSE(other.FieldDefs().FieldDef("NAME").Required());
  other.FieldByName("ID").SetRequired(false);
  other.Append();
  other.FieldByName("NAME").SetAsString("x");
  EXPECT_EQ(EngineErrorOf([&] { other.Post(); }).first, -8);
  other.Cancel();
}

TEST_P(TableTest, IndexKeySizesComeBack) {
  TORBTable& t = Table("KEYS");
  t.FieldDefs().Add("CODE", ftString, 30);
  t.FieldDefs().Add("N", ftInteger);
  t.AdvIndexDefs().Add("ByCodeN", "CODE;N", ixUnique, false, "N", {}, "12;0");
  t.CreateTable();
  FCreated.push_back(t.TableName());
  t.AdvIndexDefs().Clear();
  t.Open();
  const TORBAdvIndexDef* adv = t.AdvIndexDefs().Find("ByCodeN");
  ASSERT_NE(adv, nullptr);
  EXPECT_EQ(adv->FMaxIndexedSizes, "12;20");
  EXPECT_EQ(adv->FDescFields, "N");
  EXPECT_EQ(t.IndexDefs().Find("ByCodeN").Fields(), "CODE;N");
  EXPECT_EQ(t.IndexDefs().Find("ByCodeN").Options(), ixUnique);
}

TEST_P(TableTest, RefusedCreationTakesCorrectedDefinitions) {
  TORBTable& t = Table("FIX");
  t.FieldDefs().Add("S", ftString, 0);
  EXPECT_EQ(ErrorCodeOf([&] { t.CreateTable(); }), 30453);
  EXPECT_EQ(t.AdvFieldDefs().Count(), 0);
  t.FieldDefs().Clear();
  t.FieldDefs().Add("S", ftString, 4);
  t.CreateTable();
  FCreated.push_back(t.TableName());
  t.Open();
  EXPECT_EQ(t.FieldDefs().FieldDef("S").Size(), 4);
}

// The definitions read while the table was open go with the close: a new
// creation takes the framework definitions given afterwards.
TEST_P(TableTest, CreateTableAfterCloseTakesTheNewDefinitions) {
  TORBTable& t = People();
  t.Open();
  ASSERT_EQ(t.AdvFieldDefs().Count(), 6);
  ASSERT_EQ(t.AdvIndexDefs().Count(), 3);
  t.Close();
  EXPECT_EQ(t.AdvFieldDefs().Count(), 0);
  EXPECT_EQ(t.AdvIndexDefs().Count(), 0);
  t.FieldDefs().Clear();
  t.FieldDefs().Add("CODE", ftString, 8);
  t.FieldDefs().Add("QTY", ftInteger);
  t.IndexDefs().Clear();
  t.IndexDefs().Add("ByCode", "CODE", ixUnique);
  t.CreateTable();
  t.Open();
  EXPECT_EQ(t.FieldCount(), 2);
  EXPECT_NE(t.FindField("QTY"), nullptr);
  EXPECT_EQ(t.FindField("NAME"), nullptr);
  EXPECT_EQ(t.IndexDefs().Count(), 1);
  EXPECT_NE(t.IndexDefs().FindIndex("ByCode"), nullptr);
  EXPECT_EQ(t.IndexDefs().FindIndex("ByID"), nullptr);
}

TEST_P(TableTest, IndexChangeAndCancelRangeStayOnTheCurrentRecord) {
  TORBTable& t = FivePeople();
  t.SetIndexName("ByID");
  ASSERT_TRUE(t.FindKey({Int(3)}));
  t.SetIndexName("ByName");  // alice bob carol dave erin
  EXPECT_EQ(t.FieldByName("ID").AsInteger(), 3);
  t.Prior();
  EXPECT_EQ(t.FieldByName("NAME").AsString(), "dave");
  t.SetIndexFieldNames("GRP;ID");  // 3 4 5 | 1 2
  EXPECT_EQ(t.FieldByName("ID").AsInteger(), 1);
  t.Next();
  EXPECT_EQ(t.FieldByName("ID").AsInteger(), 2);

  t.SetIndexName("ByID");
  t.SetRange({Int(2)}, {Int(4)});
  t.Next();
  ASSERT_EQ(t.FieldByName("ID").AsInteger(), 3);
  t.CancelRange();
  EXPECT_EQ(t.FieldByName("ID").AsInteger(), 3);
  EXPECT_EQ(t.RecordCount(), 5);
  t.Next();
  t.Next();
  EXPECT_EQ(t.FieldByName("ID").AsInteger(), 5);
}

TEST_P(TableTest, IndexOperations) {
  TORBTable& t = FivePeople();
  t.Close();
  t.AddIndex("ByNameDown", "NAME;ID", 0, "NAME", "NAME");
  t.Open();
  const TORBAdvIndexDef* down = t.AdvIndexDefs().Find("ByNameDown");
  ASSERT_NE(down, nullptr);
  EXPECT_EQ(down->FDescFields, "NAME");
  EXPECT_EQ(down->FCaseInsFields, "NAME");
  t.SetIndexName("ByNameDown");
  EXPECT_EQ(Ids(t), (std::vector<int32_t>{3, 1, 2, 4, 5}));
  t.SetIndexName("");

  // Made on demand, then found.
  bool created = false;
  EXPECT_FALSE(t.IndexExists({"GRP", "NAME"}, {"ASC", "DESC"}, {"CASE", "CASE"}));
  const std::string made = t.FindOrCreateIndex({"GRP", "NAME"}, {"ASC", "DESC"}, {"CASE", "CASE"}, created);
  EXPECT_TRUE(created);
  EXPECT_TRUE(t.IndexExists({"GRP", "NAME"}, {"ASC", "DESC"}, {"CASE", "CASE"}));
  EXPECT_EQ(t.FindOrCreateIndex({"GRP", "NAME"}, {"ASC", "DESC"}, {"CASE", "CASE"}, created), made);
  EXPECT_FALSE(created);

  // One record per group.
  t.ApplyDistinct({"GRP"}, {"ASC"}, {"CASE"});
  EXPECT_FALSE(t.IndexName().empty());
  std::vector<int32_t> groups;
  for (t.First(); !t.Eof(); t.Next()) groups.push_back(t.FieldByName("GRP").AsInteger());
  EXPECT_EQ(groups, (std::vector<int32_t>{1, 2}));
  TORBTable& other = Table("PEOPLE");
  other.Open();
  other.ApplyDistinct(t);
  EXPECT_EQ(other.IndexName(), t.IndexName());
  groups.clear();
  for (other.First(); !other.Eof(); other.Next()) groups.push_back(other.FieldByName("GRP").AsInteger());
  EXPECT_EQ(groups, (std::vector<int32_t>{1, 2}));
  other.Close();
  EXPECT_FALSE(t.IsRecordLocked());
  t.Close();

  // Without a cursor.
  EXPECT_EQ(ErrorCodeOf([&] { t.IndexExists({"GRP"}, {"ASC"}, {"CASE"}); }), 10514);
  EXPECT_EQ(ErrorCodeOf([&] { t.FindOrCreateIndex({"GRP"}, {"ASC"}, {"CASE"}, created); }), 10311);
  EXPECT_FALSE(t.IsRecordLocked());

  t.DeleteAllIndexes();
  EXPECT_EQ(t.IndexName(), "");  // the distinct index went with the others
  t.Open();
  EXPECT_EQ(t.IndexDefs().Count(), 0);
  EXPECT_EQ(t.RecordCount(), 5);
  t.AddIndex("ByGrp", "GRP", 0);
  t.DeleteAllIndexes();  // on the open table
  EXPECT_EQ(t.IndexDefs().Count(), 0);
  t.Close();

  t.RenameField("NAME", "FULLNAME");
  EXPECT_FALSE(t.Active());
  EXPECT_FALSE(t.Exclusive());
  t.Open();
  EXPECT_EQ(t.FindField("NAME"), nullptr);
  ASSERT_NE(t.FindField("FULLNAME"), nullptr);
  t.First();
  EXPECT_EQ(t.FieldByName("FULLNAME").AsString(), "erin");
  EXPECT_ANY_THROW(t.RenameField("ID", "KEY"));  // open
  t.Close();

  t.ValidateAndRepairMostUpdatedAndRecordPageIndex();
  t.Open();
  EXPECT_EQ(t.RecordCount(), 5);
}

TEST_P(TableTest, LastAutoincValueIsTheCursors) {
  TORBTable& t = Table("AUTO");
  t.AdvFieldDefs().Add("ID", aftAutoInc);
  t.AdvFieldDefs().Add("S", aftString, 10);
  t.CreateTable();
  FCreated.push_back(t.TableName());
  t.Open();
  for (const char* text : {"a", "b"}) {
    t.Append();
    t.FieldByName("S").SetAsString(text);
    t.Post();
  }
  EXPECT_EQ(t.LastAutoincValue("ID"), 2);
  EXPECT_EQ(t.LastAutoincValue(0), 2);
}

TEST_P(TableTest, ClosedTableReadsItsDefinitionsThroughACursor) {
  TORBTable& t = People();
  t.FieldDefs().Clear();
  t.InitFieldDefs();
  EXPECT_FALSE(t.Active());
  EXPECT_EQ(FDatabase->DataSetCount(), 0);
  ASSERT_EQ(t.FieldDefs().Count(), 6);
  EXPECT_EQ(t.FieldDefs().FieldDef("NAME").Size(), 20);
  EXPECT_EQ(t.AdvFieldDefs().Count(), 6);
  TORBTable& missing = Table("NOPE");
  EXPECT_NE(ErrorCodeOf([&] { missing.InitFieldDefs(); }), 0);
  EXPECT_EQ(FDatabase->DataSetCount(), 0);
}

TEST_P(TableTest, NewRecordsTakeMemoDefaults) {
  TORBTable& t = Table("MEMODEF");
  t.AdvFieldDefs().Add("N", aftInteger);
  TORBAdvFieldDef& note = t.AdvFieldDefs().Add("NOTE", aftMemo);
  note.FDefaultValue = Text("to be written");
  t.CreateTable();
  FCreated.push_back(t.TableName());
  t.Open();
  t.Append();
  EXPECT_EQ(t.FieldByName("NOTE").AsString(), "to be written");
  t.FieldByName("N").SetAsInteger(1);
  t.Post();
  t.Append();
  t.FieldByName("N").SetAsInteger(2);
  t.FieldByName("NOTE").SetAsString("own text");
  t.Post();
  t.Close();
  t.Open();
  EXPECT_EQ(t.FieldByName("NOTE").AsString(), "to be written");
  t.Next();
  EXPECT_EQ(t.FieldByName("NOTE").AsString(), "own text");
}

TEST_P(TableTest, CursorTakesTheTableAndDatabaseSettings) {
  TORBTable& t = People();
  t.Open();
  // In-memory tables never spill; a disk table follows its database.
  EXPECT_EQ(t.Handle()->FDisableTempFiles, GetParam());
  EXPECT_FALSE(t.ReadOnly());
  t.Close();
  FDatabase->SetDisableTempFiles(true);
  t.Open();
  EXPECT_TRUE(t.Handle()->FDisableTempFiles);
  t.Close();

  TORBTable temp;
  temp.SetTemporary(true);
  EXPECT_EQ(temp.DatabaseName(), "TEMP");
  EXPECT_TRUE(temp.Temporary());
}

TEST_P(TableTest, LookupComputesCalculatedResultFields) {
  TORBTable& t = FivePeople();
  t.Close();
  for (const char* name : {"ID", "NAME"}) {
    std::unique_ptr<TField> field = name == std::string("ID") ? std::unique_ptr<TField>(std::make_unique<TIntegerField>())
                                                              : std::make_unique<TStringField>(20);
    field->SetFieldName(name);
    t.Fields().Add(std::move(field));
  }
  auto label = std::make_unique<TStringField>(30);
  label->SetFieldName("LABEL");
  label->SetFieldKind(fkCalculated);
  t.Fields().Add(std::move(label));
  t.OnCalcFields = [](TDataSet& ds) {
    ds.FieldByName("LABEL").SetAsString(ds.FieldByName("NAME").AsString() + "#" + ds.FieldByName("ID").AsString());
  };
  t.Open();
  EXPECT_EQ(t.FieldByName("LABEL").AsString(), "erin#3");
  for (const int32_t id : {2, 5}) {
    const std::vector<TORBVariant> found = t.Lookup("ID", {Int(id)}, "LABEL;NAME");
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].AsAnsiString(), found[1].AsAnsiString() + "#" + std::to_string(id));
  }
  EXPECT_EQ(t.FieldByName("LABEL").AsString(), "erin#3");  // no move
}

TEST_P(TableTest, ProjectionAndSqlFilterShapeTheView) {
  TORBTable& t = FivePeople();
  t.ApplyProjection({"NAME", "ID"}, {"WHO", ""});
  EXPECT_TRUE(t.Active());
  ASSERT_EQ(t.FieldCount(), 2);
  EXPECT_EQ(t.Fields()[0].FieldName(), "WHO");
  EXPECT_EQ(t.Fields()[1].FieldName(), "ID");
  EXPECT_EQ(t.RecordCount(), 5);
  t.First();
  EXPECT_EQ(t.FieldByName("WHO").AsString(), "erin");
  // A field the table does not have changes nothing.
  EXPECT_NE(ErrorCodeOf([&] { t.ApplyProjection({"NOPE"}, {""}); }), 0);
  EXPECT_TRUE(t.Active());
  EXPECT_EQ(t.FieldCount(), 2);

  TORBExpression filter;
  filter.ParseForFilter(t.Handle(), u"ID > 2", false, true);
  t.SetSQLFilter(&filter);
  t.First();
  EXPECT_EQ(Ids(t), (std::vector<int32_t>{3, 5, 4}));
  t.SetSQLFilter(nullptr);
  t.First();
  EXPECT_EQ(Ids(t).size(), 5u);
  t.Close();
  EXPECT_EQ(ErrorCodeOf([&] { t.SetSQLFilter(nullptr); }), 10300);
  EXPECT_EQ(ErrorCodeOf([&] { t.ApplyProjection({"ID"}, {""}); }), 10320);
  t.Open();
  EXPECT_EQ(t.FieldCount(), 6);  // a new cursor sees every field
}

TEST_P(TableTest, FieldValuesByNumber) {
  TORBTable& t = FivePeople();
  t.First();
  t.Edit();
  t.FieldByName("NOTE").SetAsString("a memo");
  t.Post();
  TORBVariant value;
  t.GetFieldValue(value, 0, false);
  EXPECT_EQ(value.AsInteger(), 3);
  t.GetFieldValue(value, 4, true);
  EXPECT_EQ(value.DataType(), bftClob);
  EXPECT_EQ(std::string(static_cast<const char*>(value.Data()), static_cast<size_t>(value.DataSize())), "a memo");
  t.Next();
  t.GetFieldValue(value, 4, false);
  EXPECT_TRUE(value.IsNull());

  t.Edit();
  t.SetFieldValue(Text("written"), 4, false);
  t.SetFieldValue(Int(42), 5, false);
  t.Post();
  EXPECT_EQ(t.FieldByName("NOTE").AsString(), "written");
  EXPECT_EQ(t.FieldByName("GRP").AsInteger(), 42);

  TORBTable& copy = Table("PEOPLE");
  copy.Open();
  copy.Append();
  t.CopyFieldValue(1, false, 1, &copy);
  t.CopyFieldValue(4, false, 4, &copy);
  copy.FieldByName("ID").SetAsInteger(9);
  copy.Post();
  EXPECT_EQ(copy.FieldByName("NAME").AsString(), t.FieldByName("NAME").AsString());
  EXPECT_EQ(copy.FieldByName("NOTE").AsString(), "written");
  EXPECT_EQ(ErrorCodeOf([&] { t.CopyFieldValue(1, false, 1, nullptr); }), 10503);
  copy.Close();
  EXPECT_EQ(ErrorCodeOf([&] { t.CopyFieldValue(1, false, 1, &copy); }), 10504);

  EXPECT_FALSE(t.IsIndexApplied());
  t.SetIndexName("ByName");
  EXPECT_TRUE(t.IsIndexApplied());
  EXPECT_FALSE(t.IsDistinctApplied());
  t.ApplyDistinct({"GRP"}, {"ASC"}, {"CASE"});
  EXPECT_TRUE(t.IsDistinctApplied());
  t.Close();
  EXPECT_EQ(ErrorCodeOf([&] { t.IsIndexApplied(); }), 10381);
  EXPECT_EQ(ErrorCodeOf([&] { t.GetFieldValue(value, 0, false); }), 10315);
  const std::vector<std::string> names = t.GetDatabaseNameList();
  EXPECT_NE(std::find(names.begin(), names.end(), FDatabaseName), names.end());
}

TEST_P(TableTest, ProviderOperationsActOrRefuse) {
  TORBTable& t = FivePeople();
  EXPECT_EQ(ErrorCodeOf([&] { t.PSExecuteStatement("DELETE FROM PEOPLE", nullptr); }), 30910);
  EXPECT_EQ(t.PSGetQuoteChar(), "`");
  EXPECT_FALSE(t.PSInTransaction());
  t.PSStartTransaction();
  EXPECT_TRUE(t.PSInTransaction());
  EXPECT_TRUE(FDatabase->InTransaction());
  t.PSEndTransaction(true);
  EXPECT_FALSE(FDatabase->InTransaction());
  EXPECT_EQ(t.DBFlags(), 1u);  // the cursor's reason only
  if (!GetParam()) {
    t.PSStartTransaction();
    Add(t, 8, "temp", 3);
    t.PSEndTransaction(false);
    t.Refresh();
    EXPECT_EQ(t.RecordCount(), 5);
  }

  EXPECT_FALSE(t.PSUpdateRecord(ukModify, t));
  TUpdateKind seen = ukDelete;
  t.OnUpdateRecord = [&](TDataSet&, TUpdateKind kind, TUpdateAction& action) {
    seen = kind;
    action = kind == ukInsert ? uaApplied : uaSkip;
  };
  EXPECT_TRUE(t.PSUpdateRecord(ukInsert, t));
  EXPECT_FALSE(t.PSUpdateRecord(ukModify, t));
  EXPECT_EQ(seen, ukModify);

  t.Last();
  t.PSReset();
  EXPECT_TRUE(t.Active());
  EXPECT_EQ(t.FieldByName("ID").AsInteger(), 3);  // reopened on the first record
}

// A table naming a session finds a database component that still sits in
// the default session and takes it along.
TEST(TableSessionTest, DatabaseMovesToTheNamedSessionOnOpen) {
  DiskScratch dir;
  TORBDatabase db;
  db.SetDatabaseName("MoveDb");
  db.SetDatabaseFileName(dir.File("move.orb"));
  db.CreateDatabase();
  ASSERT_EQ(db.Session(), ORBDefaultSession());
  TORBSession named;
  named.SetSessionName("MoveTo");
  TORBTable t;
  t.SetSessionName("MoveTo");
  t.SetDatabaseName("MoveDb");
  t.SetTableName("T");
  t.FieldDefs().Add("N", ftInteger);
  t.CreateTable();
  EXPECT_EQ(db.Session(), &named);
  t.Open();
  EXPECT_EQ(t.Database(), &db);
  t.Close();
  db.Close();
}

// A read-only database makes its tables read-only once they are open.
TEST(TableReadOnlyTest, ReadOnlyDatabaseMakesTheTableReadOnly) {
  DiskScratch dir;
  TORBDatabase db;
  db.SetDatabaseName("RoDb");
  db.SetDatabaseFileName(dir.File("ro.orb"));
  db.CreateDatabase();
  db.Open();
  TORBTable t;
  t.SetDatabaseName("RoDb");
  t.SetTableName("T");
  t.FieldDefs().Add("N", ftInteger);
  t.CreateTable();
  db.Close();
  db.SetReadOnly(true);
  db.Open();
  t.Open();
  EXPECT_TRUE(t.ReadOnly());
  EXPECT_FALSE(t.CanModify());
  EXPECT_ANY_THROW(t.Append());
  t.Close();
  db.Close();
}

// Index changes on a closed table wait for the exclusive table lock and
// give up with 20228 while another user has the table open.
TEST(TableLockTest, IndexChangesWaitForTheExclusiveLock) {
  DiskScratch dir;
  const std::string file = dir.File("mu.orb");
  TORBSession holder_session;
  holder_session.SetSessionName("Holder");
  TORBSession changer_session;
  changer_session.SetSessionName("Changer");
  TORBDatabase holder_db(&holder_session);
  TORBDatabase changer_db(&changer_session);
  holder_db.SetDatabaseFileName(file);
  holder_db.SetDatabaseName("Db");
  holder_db.CreateDatabase();
  holder_db.Open();
  {
    TORBTable maker(&holder_session);
    maker.SetSessionName("Holder");
    maker.SetDatabaseName("Db");
    maker.SetTableName("T");
    maker.FieldDefs().Add("N", ftInteger);
    maker.IndexDefs().Add("ByN", "N", 0);
    maker.CreateTable();
  }
  holder_db.Close();
  for (TORBDatabase* db : {&holder_db, &changer_db}) {
    db->SetDatabaseName("Db");
    db->SetDatabaseFileName(file);
    db->SetMultiUser(true);
    db->Open();
  }
  TORBTable holder;
  TORBTable changer;
  for (TORBTable* t : {&holder, &changer}) {
    t->SetSessionName(t == &holder ? "Holder" : "Changer");
    t->SetDatabaseName("Db");
    t->SetTableName("T");
  }
  changer.SetLockRetry({3, 3, 10});

  holder.Open();
  // Keyed moves and ranges take and leave the shared lock; the holder's
  // own hold on the table stays.
  holder.SetLockRetry({3, 3, 10});
  holder.SetIndexName("ByN");
  for (const int32_t n : {2, 1}) {
    holder.Append();
    holder.FieldByName("N").SetAsInteger(n);
    holder.Post();
  }
  EXPECT_TRUE(holder.FindKey({Int(2)}));
  holder.SetRange({Int(1)}, {Int(1)});
  EXPECT_EQ(holder.RecordCount(), 1);
  holder.CancelRange();
  EXPECT_EQ(holder.RecordCount(), 2);
  EXPECT_EQ(ErrorCodeOf([&] { changer.AddIndex("ByN2", "N", ixDescending); }), 20228);
  EXPECT_EQ(ErrorCodeOf([&] { changer.DeleteIndex("ByN"); }), 20228);
  EXPECT_EQ(ErrorCodeOf([&] { changer.DeleteAllIndexes(); }), 20228);
  EXPECT_EQ(changer_db.DataSetCount(), 0);
  holder.Close();

  changer.AddIndex("ByN2", "N", ixDescending);
  changer.DeleteIndex("ByN");
  changer.Open();
  EXPECT_EQ(changer.IndexDefs().Count(), 1);
  EXPECT_NE(changer.IndexDefs().FindIndex("ByN2"), nullptr);

  // The record another user edits shows as locked.
  holder.SetIndexName("");
  holder.Open();
  holder.First();
  changer.First();
  ASSERT_EQ(holder.FieldByName("N").AsInteger(), changer.FieldByName("N").AsInteger());
  EXPECT_FALSE(changer.IsRecordLocked());
  holder.Edit();
  EXPECT_TRUE(changer.IsRecordLocked());
  holder.Cancel();
  EXPECT_FALSE(changer.IsRecordLocked());
}

INSTANTIATE_TEST_SUITE_P(Places, TableTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Memory" : "Disk"; });

}  // namespace
}  // namespace orb::test
