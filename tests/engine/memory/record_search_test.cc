#include "engine/data/record_search.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>

#include "engine/base/field_data.h"
#include "engine/base/index_defs.h"
#include "engine/data/index_manager.h"
#include "engine/data/scan_condition.h"
#include "engine/expr/expression.h"
#include "engine/memory/memory_database_data.h"
#include "engine/memory/memory_table_data.h"
#include "engine/platform/codepage.h"
#include "tests/engine/memory/memory_fixture.h"
#include "tests/support/raised.h"

namespace orb::test {
namespace {

constexpr int32_t kID = 0;
constexpr int32_t kA = 1;
constexpr int32_t kB = 2;
constexpr int32_t kC = 3;
constexpr int32_t kS = 4;

// A cursor whose filter, range and field references are set by the test.
class SearchCursor : public TestCursor, public TORBFieldResolver {
 public:
  using TestCursor::TestCursor;

  TORBExpression* GetFilterExpression() const override { return FFilter.get(); }
  const uint8_t* GetRangeStartBuffer() const override { return FRangeStart.empty() ? nullptr : FRangeStart.data(); }
  const uint8_t* GetRangeEndBuffer() const override { return FRangeEnd.empty() ? nullptr : FRangeEnd.data(); }
  int32_t GetRangeStartKeyFieldCount() const override { return 1; }
  int32_t GetRangeEndKeyFieldCount() const override { return 1; }
  bool GetRangeStartExclusive() const override { return FRangeStartExclusive; }
  bool GetRangeEndExclusive() const override { return FRangeEndExclusive; }

  bool FindField(std::u16string_view, std::u16string_view field_name, TORBFieldInfo& info) override {
    const TORBFieldDefs& defs = FTable->FieldManager()->FieldDefs();
    const int32_t no = defs.GetDefNumberByName(field_name);
    if (no < 0) return false;
    info.FieldNo = no;
    info.FieldType = defs.GetDef(no)->FAdvancedFieldType;
    info.BaseFieldType = defs.GetDef(no)->FBaseFieldType;
    info.FieldSize = defs.GetDef(no)->FFieldSize;
    return true;
  }
  void ReadFieldValue(const TORBFieldInfo& info, TORBVariant& value) override {
    const TORBFieldDef* f = FTable->FieldManager()->FieldDefs().GetDef(info.FieldNo);
    if (CheckNullFlag(info.FieldNo, GetCurrentRecordBuffer()))
      value.Clear(f->FBaseFieldType);
    else
      value.SetData(GetCurrentRecordBuffer() + f->FMemoryOffset, f->FMemoryDataSize, f->FBaseFieldType, false);
  }

  std::unique_ptr<TORBExpression> Parse(const std::string& text) {
    auto e = std::make_unique<TORBExpression>();
    e->ParseForFilter(this, Utf8ToWide(text), false, false);
    return e;
  }
  void SetFilter(const std::string& text) {
    FFilter = text.empty() ? nullptr : Parse(text);
    if (FBitmap != nullptr) FBitmap->Clear();
  }

  std::unique_ptr<TORBExpression> FFilter;
  std::vector<uint8_t> FRangeStart, FRangeEnd;
  bool FRangeStartExclusive = false, FRangeEndExclusive = false;
};

TORBIndexDef* AddIndex(TORBIndexDefs& defs, const std::string& name, const std::vector<std::u16string>& columns,
                       bool unique = false, bool descending = false) {
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

void SetString(const TORBTableData& table, uint8_t* record, int32_t field_no, const std::string& text) {
  const TORBFieldDef* f = table.FieldManager()->FieldDefs().GetDef(field_no);
  TORBFieldLayout layout;
  layout.AdvancedFieldType = f->FAdvancedFieldType;
  layout.BaseFieldType = f->FBaseFieldType;
  layout.MemoryDataSize = f->FMemoryDataSize;
  layout.MemoryOffset = f->FMemoryOffset;
  StoreFieldValue(field_no, layout, text.c_str(), static_cast<int32_t>(text.size() + 1), record);
}

std::string GetString(const TORBTableData& table, const uint8_t* record, int32_t field_no) {
  const TORBFieldDef* f = table.FieldManager()->FieldDefs().GetDef(field_no);
  return std::string(reinterpret_cast<const char*>(record + f->FMemoryOffset));
}

const char* const kStrings[] = {"a", "ab", "abc", "abd", "b", "ba", "bb", "c"};

// A table of a few hundred random rows: ID unique, A (nullable) and C
// small integers, B a handful of values, S short strings; indexes on ID
// (unique), A, (B, C), C descending and (S, A).
class RecordSearchTest : public ::testing::Test {
 protected:
  RecordSearchTest() {
    TORBFieldDefs fields;
    AddField(fields, u"ID", aftInteger);
    AddField(fields, u"A", aftInteger);
    AddField(fields, u"B", aftInteger);
    AddField(fields, u"C", aftInteger);
    AddField(fields, u"S", aftString, 6);
    TORBIndexDefs indexes;
    AddIndex(indexes, "IX_ID", {u"ID"}, true);
    AddIndex(indexes, "IX_A", {u"A"});
    AddIndex(indexes, "IX_BC", {u"B", u"C"});
    AddIndex(indexes, "IX_CD", {u"C"}, false, true);
    AddIndex(indexes, "IX_SA", {u"S", u"A"});
    FCursor = std::make_unique<SearchCursor>(nullptr, u"T");
    FTable = static_cast<TORBMemoryTableData*>(FDatabase->FindOrCreateTableData(FCursor.get()));
    FCursor->FTable = FTable;
    FTable->CreateTable(FCursor.get(), fields, indexes, TORBConstraintDefs());
    FCursor->Open();
  }
  ~RecordSearchTest() override {
    FCursor.reset();
    FDatabase.reset();
  }

  void Fill(int rows, uint32_t seed) {
    std::mt19937 random(seed);
    for (int i = 0; i < rows; ++i) {
      uint8_t* record = FCursor->GetCurrentRecordBuffer();
      std::fill(FCursor->FCurrent.begin(), FCursor->FCurrent.end(), uint8_t{0});
      SetInt(*FTable, record, kID, i);
      SetInt(*FTable, record, kA, random() % 10 == 0 ? std::nullopt : std::optional<int32_t>(random() % 10));
      SetInt(*FTable, record, kB, static_cast<int32_t>(random() % 4));
      SetInt(*FTable, record, kC, static_cast<int32_t>(random() % 10));
      SetString(*FTable, record, kS, kStrings[random() % std::size(kStrings)]);
      ASSERT_TRUE(FTable->InsertRecord(FCursor.get()));
    }
    // Gaps in physical order, so that record IDs and ranks differ.
    for (int id = 3; id < rows; id += 17) {
      ASSERT_TRUE(FCursor->MoveTo(RecordWithID(id)));
      ASSERT_TRUE(FTable->DeleteRecord(FCursor.get()));
    }
  }
  int32_t IndexID(const std::string& name) const {
    return FTable->IndexManager()->IndexDefs().GetIndexDefByName(std::string_view(name))->FObjectID;
  }
  // The record with `id`, found on the unfiltered view.
  TORBPageItemID RecordWithID(int32_t id) {
    std::unique_ptr<TORBExpression> filter = std::move(FCursor->FFilter);
    const int32_t order = FCursor->GetIndexID();
    FCursor->SetIndex(IndexID("IX_ID"));
    FCursor->First();
    std::optional<TORBPageItemID> found;
    while (!found && FTable->GetRecordBuffer(FCursor.get(), grmNext) == grrOK)
      if (GetInt(*FTable, FCursor->GetCurrentRecordBuffer(), kID) == id) found = FCursor->GetCurrentRecordID();
    FCursor->SetIndex(order);
    FCursor->FFilter = std::move(filter);
    if (!found) ADD_FAILURE() << "no record " << id;
    return found.value_or(TORBPageItemID{});
  }
  int32_t CurrentID() { return *GetInt(*FTable, FCursor->GetCurrentRecordBuffer(), kID); }

  // IDs in the cursor's order for which the filter holds, by reading
  // every record of the unrestricted view.
  std::vector<int32_t> BruteForce(TORBExpression* expression, bool forward) {
    std::unique_ptr<TORBExpression> filter = std::move(FCursor->FFilter);
    std::vector<uint8_t> start = std::move(FCursor->FRangeStart);
    std::vector<uint8_t> end = std::move(FCursor->FRangeEnd);
    FCursor->FRangeStart.clear();
    FCursor->FRangeEnd.clear();
    std::vector<int32_t> ids;
    forward ? FCursor->First() : FCursor->Last();
    while (FTable->GetRecordBuffer(FCursor.get(), forward ? grmNext : grmPrior) == grrOK) {
      const uint8_t* record = FCursor->GetCurrentRecordBuffer();
      if (expression != nullptr && !expression->GetResult()) continue;
      if (filter != nullptr && !filter->GetResult()) continue;
      if (!InRange(record, start, end)) continue;
      ids.push_back(CurrentID());
    }
    FCursor->FFilter = std::move(filter);
    FCursor->FRangeStart = std::move(start);
    FCursor->FRangeEnd = std::move(end);
    FCursor->FBitmap->Clear();
    return ids;
  }
  // Ranges are set on IX_A only: nulls sort before every value.
  bool InRange(const uint8_t* record, const std::vector<uint8_t>& start, const std::vector<uint8_t>& end) {
    auto order = [&](const std::vector<uint8_t>& key) {
      const std::optional<int32_t> a = GetInt(*FTable, record, kA);
      const std::optional<int32_t> k = GetInt(*FTable, key.data(), kA);
      if (!a.has_value() || !k.has_value()) return a.has_value() == k.has_value() ? 0 : (a.has_value() ? 1 : -1);
      return *a < *k ? -1 : (*a > *k ? 1 : 0);
    };
    if (!start.empty() && (FCursor->FRangeStartExclusive ? order(start) <= 0 : order(start) < 0)) return false;
    if (!end.empty() && (FCursor->FRangeEndExclusive ? order(end) >= 0 : order(end) > 0)) return false;
    return true;
  }

  // IDs found by FindRecord with `expression`: restart, then from each
  // found record on.
  std::vector<int32_t> Search(TORBExpression* expression, bool forward) {
    std::vector<int32_t> ids;
    TORBPageItemID found{};
    forward ? FCursor->First() : FCursor->Last();
    bool restart = true;
    while (FTable->FindRecord(FCursor.get(), expression, nullptr, restart, forward, &found, nullptr, false)) {
      restart = false;
      EXPECT_TRUE(FCursor->MoveTo(found));
      ids.push_back(CurrentID());
      if (ids.size() > 1000) break;
    }
    return ids;
  }
  // IDs met by navigating the filtered view (its bitmap answers once a
  // complete scan has filled it).
  std::vector<int32_t> Navigate(bool forward) {
    std::vector<int32_t> ids;
    forward ? FCursor->First() : FCursor->Last();
    while (FTable->GetRecordBuffer(FCursor.get(), forward ? grmNext : grmPrior) == grrOK) {
      ids.push_back(CurrentID());
      if (ids.size() > 1000) break;
    }
    return ids;
  }
  // Which of the four scans a restart search would run: 1 no range, 2 the
  // cursor's index, 3 no cursor index, 4 another index.
  int Strategy(TORBExpression* expression) {
    TORBTableDataLock lock(FTable);
    TORBRecordSearch search(FTable, FCursor.get());
    FCursor->First();
    search.Run(expression, nullptr, true, true, nullptr, nullptr, false);
    if (search.ScanConditionNo() == -1) return 1;
    if (FCursor->GetIndexID() == -1) return 3;
    return search.Conditions().Item(search.ScanConditionNo()).IndexID == FCursor->GetIndexID() ? 2 : 4;
  }

  std::unique_ptr<TORBMemoryDatabaseData> FDatabase = CreateMemoryDatabaseData();
  std::unique_ptr<SearchCursor> FCursor;
  TORBMemoryTableData* FTable = nullptr;
};

std::string RandomAtom(std::mt19937& random) {
  static const char* const kOpsText[] = {"=", "<", ">", "<=", ">=", "<>"};
  const std::string op = kOpsText[random() % 6];
  const std::string k = std::to_string(static_cast<int>(random() % 12) - 1);
  switch (random() % 9) {
    case 0: return "A " + op + " " + k;
    case 1: return k + " " + op + " A";
    case 2: return "B " + op + " " + std::to_string(random() % 4);
    case 3: return "C " + op + " " + k;
    case 4: return "ID " + op + " " + std::to_string(random() % 240);
    case 5: return "S " + op + " '" + kStrings[random() % std::size(kStrings)] + "'";
    case 6: return "(A = " + k + " OR C " + op + " 4)";
    case 7: return "B = " + std::to_string(random() % 4);
    default: return "A " + op + " " + std::to_string(random() % 10) + ".5";
  }
}

std::string RandomConjunction(std::mt19937& random) {
  std::string text = RandomAtom(random);
  const int more = static_cast<int>(random() % 3);
  for (int i = 0; i < more; ++i) text += " AND " + RandomAtom(random);
  return text;
}

// Searches with random filters in every order and both directions find
// exactly the records a full read finds, in the same order, whichever of
// the four scans runs; a filtered view navigates the same way.
TEST_F(RecordSearchTest, EveryScanAgreesWithReadingEveryRecord) {
  Fill(240, 77);
  std::mt19937 random(4242);
  const std::vector<int32_t> orders = {-1, IndexID("IX_A"), IndexID("IX_BC"), IndexID("IX_CD"), IndexID("IX_SA")};
  std::map<int, int> strategies;
  for (int round = 0; round < 50; ++round) {
    const std::string text = RandomConjunction(random);
    const int32_t order = orders[round % orders.size()];
    FCursor->SetIndex(order);
    std::unique_ptr<TORBExpression> expression = FCursor->Parse(text);
    ++strategies[Strategy(expression.get())];
    for (const bool forward : {true, false}) {
      const std::vector<int32_t> expected = BruteForce(expression.get(), forward);
      ASSERT_EQ(Search(expression.get(), forward), expected) << text << " order " << order << " forward " << forward;
      FCursor->SetFilter(text);
      ASSERT_EQ(Navigate(forward), expected) << "view " << text << " order " << order << " forward " << forward;
      // Again, now that the first walk may have left an active bitmap.
      ASSERT_EQ(Navigate(forward), expected) << "view " << text << " order " << order << " forward " << forward;
      FCursor->SetFilter("");
    }
  }
  for (int s = 1; s <= 4; ++s) EXPECT_GT(strategies[s], 0) << "scan " << s << " never ran";
}

// A range on the cursor's index merges with filter conditions on the same
// index, also when a filter bound is the tighter one.
TEST_F(RecordSearchTest, RangeAndFilterOnTheSameIndex) {
  Fill(300, 5);
  FCursor->SetIndex(IndexID("IX_A"));
  struct Case {
    std::optional<int32_t> start, end;
    bool start_exclusive, end_exclusive;
    std::string filter;
  };
  const Case cases[] = {
      {2, std::nullopt, true, false, "A > 6"}, {2, 7, false, true, "C < 5"}, {std::nullopt, 4, false, false, ""},
      {std::nullopt, 4, false, false, "A >= 1"}, {5, 5, false, false, "A = 5"}, {6, std::nullopt, false, false, "A < 3"},
      {1, 8, true, true, "A <> 4 AND B = 2"},
  };
  for (const Case& c : cases) {
    FCursor->FRangeStart.clear();
    FCursor->FRangeEnd.clear();
    if (c.start) {
      FCursor->FRangeStart.assign(FCursor->FCurrent.size(), 0);
      SetInt(*FTable, FCursor->FRangeStart.data(), kA, *c.start);
    }
    if (c.end) {
      FCursor->FRangeEnd.assign(FCursor->FCurrent.size(), 0);
      SetInt(*FTable, FCursor->FRangeEnd.data(), kA, *c.end);
    }
    FCursor->FRangeStartExclusive = c.start_exclusive;
    FCursor->FRangeEndExclusive = c.end_exclusive;
    FCursor->SetFilter(c.filter);
    for (const bool forward : {true, false}) {
      const std::vector<int32_t> expected = BruteForce(nullptr, forward);
      EXPECT_EQ(Navigate(forward), expected) << c.filter << " forward " << forward;
      EXPECT_EQ(Search(nullptr, forward), expected) << c.filter << " forward " << forward;
    }
  }
}

TEST_F(RecordSearchTest, ContradictionsFindNothingAndEqualityOnTheUniqueIndexIsChosen) {
  Fill(120, 9);
  FCursor->SetIndex(-1);
  for (const char* text : {"A > 5 AND A < 3", "A = 5 AND A > 7", "C >= 4 AND C < 4 AND B = 1"}) {
    std::unique_ptr<TORBExpression> e = FCursor->Parse(text);
    TORBTableDataLock lock(FTable);
    TORBRecordSearch search(FTable, FCursor.get());
    EXPECT_FALSE(search.Run(e.get(), nullptr, true, true, nullptr, nullptr, false)) << text;
    // Found contradictory before any condition was chosen.
    EXPECT_EQ(search.ScanConditionNo(), -1) << text;
  }
  {
    std::unique_ptr<TORBExpression> e = FCursor->Parse("A >= 5 AND A <= 5");
    TORBTableDataLock lock(FTable);
    TORBRecordSearch search(FTable, FCursor.get());
    search.Run(e.get(), nullptr, true, true, nullptr, nullptr, false);
    ASSERT_GE(search.ScanConditionNo(), 0);
    EXPECT_EQ(search.Conditions().Item(search.ScanConditionNo()).Condition, scEqual);
  }
  {
    // Whatever else the filter says, ID = k goes through the unique index.
    FCursor->SetIndex(IndexID("IX_A"));
    std::unique_ptr<TORBExpression> e = FCursor->Parse("A > 0 AND ID = 40 AND C < 9");
    TORBTableDataLock lock(FTable);
    TORBRecordSearch search(FTable, FCursor.get());
    search.Run(e.get(), nullptr, true, true, nullptr, nullptr, false);
    ASSERT_GE(search.ScanConditionNo(), 0);
    EXPECT_EQ(search.Conditions().Item(search.ScanConditionNo()).IndexID, IndexID("IX_ID"));
    EXPECT_EQ(search.ScanEndConditionNo(), -1);
  }
}

TEST_F(RecordSearchTest, TwoBoundsOnOneIndexStartAtTheLowerGoingForwardAndTheUpperGoingBack) {
  Fill(200, 13);
  FCursor->SetIndex(IndexID("IX_A"));
  std::unique_ptr<TORBExpression> e = FCursor->Parse("A > 2 AND A <= 6");
  for (const bool forward : {true, false}) {
    TORBTableDataLock lock(FTable);
    TORBRecordSearch search(FTable, FCursor.get());
    forward ? FCursor->First() : FCursor->Last();
    TORBPageItemID found{};
    ASSERT_TRUE(search.Run(e.get(), nullptr, true, forward, &found, nullptr, false));
    ASSERT_GE(search.ScanEndConditionNo(), 0);
    const TORBSearchCondition start = search.Conditions().Item(search.ScanConditionNo()).Condition;
    EXPECT_EQ(start, forward ? scGreater : scLowerEqual);
    ASSERT_TRUE(FCursor->MoveTo(found));
    EXPECT_EQ(GetInt(*FTable, FCursor->GetCurrentRecordBuffer(), kA), forward ? 3 : 6);
  }
}

// FindKey on the composite index (S, A): a whole key, a string prefix of
// the first column, and keys that match nothing.
TEST_F(RecordSearchTest, FindKeyExactAndPrefixOnACompositeIndex) {
  Fill(250, 21);
  const int32_t index = IndexID("IX_SA");
  FCursor->SetIndex(index);
  // The records in index order for which `accept` holds.
  auto all_in_order = [&](auto accept) {
    std::unique_ptr<TORBExpression> filter = std::move(FCursor->FFilter);
    std::vector<int32_t> ids;
    FCursor->First();
    while (FTable->GetRecordBuffer(FCursor.get(), grmNext) == grrOK)
      if (accept(FCursor->GetCurrentRecordBuffer())) ids.push_back(CurrentID());
    FCursor->FFilter = std::move(filter);
    FCursor->FBitmap->Clear();
    return ids;
  };
  struct Case {
    std::string s;
    std::optional<int32_t> a;
    int32_t fields;
    bool partial;
  };
  const Case cases[] = {{"ab", 3, 2, false}, {"ab", std::nullopt, 1, false}, {"a", std::nullopt, 1, true},
                        {"b", std::nullopt, 1, true},  {"ab", std::nullopt, 1, true}, {"c", 7, 2, false},
                        {"zz", std::nullopt, 1, true}, {"ab", 42, 2, false}};
  // The cursor's filter applies too; with it another index may look
  // cheaper, yet a prefix can only be tested by its own index.
  for (const std::string filter : {"", "C = 3"}) {
  FCursor->SetFilter(filter);
  // Where the cursor stands before each search: a record of the view.
  int32_t home = -1;
  for (int32_t id = 250; home == -1 && id-- > 0;) {
    if (id % 17 == 3) continue;
    if (FCursor->MoveTo(RecordWithID(id))) home = id;
  }
  ASSERT_NE(home, -1);
  for (const Case& c : cases) {
    const std::vector<int32_t> matches = all_in_order([&](const uint8_t* record) {
      const std::string s = GetString(*FTable, record, kS);
      const bool s_ok = c.partial ? s.compare(0, c.s.size(), c.s) == 0 : s == c.s;
      return s_ok && (c.fields < 2 || GetInt(*FTable, record, kA) == c.a) &&
             (filter.empty() || GetInt(*FTable, record, kC) == 3);
    });
    std::vector<uint8_t> key(FCursor->FCurrent.size(), 0);
    SetString(*FTable, key.data(), kS, c.s);
    SetInt(*FTable, key.data(), kA, c.a.value_or(0));
    ASSERT_TRUE(FCursor->MoveTo(RecordWithID(home)));
    FCursor->SetIndex(index);
    TORBScanCondition condition{scEqual, key.data(), static_cast<int32_t>(key.size()), c.fields, -1, c.partial};
    const bool found = FTable->FindKey(FCursor.get(), condition);
    ASSERT_EQ(found, !matches.empty()) << c.s;
    ASSERT_EQ(FTable->GetRecordBuffer(FCursor.get(), grmCurrent), grrOK);
    EXPECT_EQ(CurrentID(), found ? matches.front() : home) << c.s << " " << filter;
    if (!found) continue;
    // The same key condition walks on through every match.
    condition.IndexID = index;
    std::vector<int32_t> walked{CurrentID()};
    TORBPageItemID next{};
    while (FTable->FindRecord(FCursor.get(), nullptr, &condition, false, true, &next, nullptr, false) &&
           walked.size() <= matches.size()) {
      ASSERT_TRUE(FCursor->MoveTo(next));
      walked.push_back(CurrentID());
    }
    EXPECT_EQ(walked, matches) << c.s << " " << filter;
  }
  }
  FCursor->SetFilter("");
  FCursor->SetIndex(-1);
  std::vector<uint8_t> key(FCursor->FCurrent.size(), 0);
  TORBScanCondition condition{scEqual, key.data(), static_cast<int32_t>(key.size()), 1, -1, false};
  EXPECT_EQ(RaisedCode([&] { FTable->FindKey(FCursor.get(), condition); }), kErrKeySearchNoIndex);
}

}  // namespace
}  // namespace orb::test
