#include "engine/base/constraint_defs.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/base/index_defs.h"
#include "tests/engine/base/metadata_test_util.h"

namespace orb {
namespace {

using testing::Bytes;
using testing::Contents;
using testing::RaisedCode;
using testing::RaisedMessage;
using testing::StreamOf;

std::vector<uint8_t> Save(const TORBConstraintDefs& defs) {
  TORBMemoryStream stream;
  defs.SaveToStream(stream);
  return Contents(stream);
}

// A name behind a one-byte count that includes the name's length byte.
Bytes& Counted8(Bytes& b, std::string_view name) {
  return b.U8(static_cast<uint8_t>(name.size() + 1)).U8(static_cast<uint8_t>(name.size())).Raw(name);
}

// The same behind a 32-bit count.
Bytes& Counted32(Bytes& b, std::string_view name) {
  return b.I32(static_cast<int32_t>(name.size() + 1)).U8(static_cast<uint8_t>(name.size())).Raw(name);
}

// One constraint of each kind, as the JB table might carry them.
void AddSample(TORBConstraintDefs& defs) {
  TORBConstraintDefNotNull* not_null = defs.AddNotNull();
  not_null->SetName("C_NN");
  not_null->FObjectID = 20;
  not_null->SetNames(u"tab1", u"JB", u"");
  not_null->FTableSchemaObjectID = -1;
  not_null->FTableObjectID = 1;
  not_null->FColumnObjectID = 3;

  TORBConstraintDefCheck* check = defs.AddCheck();
  check->SetName("C_CK");
  check->FObjectID = 21;
  check->SetNames(u"numero", u"JB", u"S");
  check->FTableObjectID = 1;
  check->FColumnObjectID = 2;
  check->FMinValue.SetAsInteger(10);

  TORBConstraintDefPrimary* pk = defs.AddPK();
  pk->SetName("C_PK$numero");
  pk->FObjectID = 22;
  pk->SetTableName("JB");
  pk->FTableObjectID = 1;
  pk->SetIndexName("pk");
  pk->FIndexObjectID = 7;
  pk->AddColumn("numero", 2);

  TORBConstraintDefUnique* unique = defs.AddUnique();
  unique->SetName("C_Unique$tab1$tab2");
  unique->FObjectID = 23;
  unique->SetTableName("JB");
  unique->FTableObjectID = 1;
  unique->SetIndexName("u");
  unique->FIndexObjectID = 8;
  unique->AddColumn("tab1", 3);
  unique->AddColumn("tab2", 4);
}

std::vector<uint8_t> ExpectedSampleStream() {
  Bytes b;
  b.I32(4);
  b.U8(ctNotNull).Short("C_NN").I32(20).I32(-1).I32(1).I32(3);
  Counted8(Counted8(Counted8(b, ""), "JB"), "tab1");
  b.U8(ctCheck).Short("C_CK").I32(21).I32(-1).I32(1).I32(2);
  Counted8(Counted8(Counted8(b, "S"), "JB"), "numero");
  b.U8(bftSignedInt32).U8(0).I32(4).I32(10);  // minimum 10
  b.U8(bftUnknown).U8(1);                     // no maximum
  b.U8(ctPK).Short("C_PK$numero").I32(22).I32(-1).I32(1).I32(7);
  Counted32(Counted32(Counted32(b, ""), "JB"), "pk");
  Counted32(b.I32(1).I32(2), "numero");
  b.U8(ctUnique).Short("C_Unique$tab1$tab2").I32(23).I32(-1).I32(1).I32(8);
  Counted32(Counted32(Counted32(b, ""), "JB"), "u");
  Counted32(b.I32(2).I32(3), "tab1");
  Counted32(b.I32(4), "tab2");
  return b.data();
}

TEST(ConstraintDefsTest, StreamIsByteExactAndRoundTrips) {
  TORBConstraintDefs defs;
  AddSample(defs);
  ASSERT_EQ(Save(defs), ExpectedSampleStream());

  TORBConstraintDefs loaded;
  auto stream = StreamOf(ExpectedSampleStream());
  loaded.LoadFromStream(*stream);
  ASSERT_EQ(loaded.GetCount(), 4);
  EXPECT_EQ(loaded.FLoadedItemCount, 4);
  auto* not_null = dynamic_cast<TORBConstraintDefNotNull*>(loaded.GetDef(0));
  ASSERT_NE(not_null, nullptr);
  EXPECT_EQ(not_null->GetConstraintType(), ctNotNull);
  EXPECT_EQ(not_null->GetColumnName(), "tab1");
  EXPECT_EQ(not_null->GetTableName(), "JB");
  EXPECT_EQ(not_null->FColumnObjectID, 3);
  auto* check = dynamic_cast<TORBConstraintDefCheck*>(loaded.GetDef(1));
  ASSERT_NE(check, nullptr);
  EXPECT_EQ(check->GetTableSchemaName(), "S");
  EXPECT_EQ(check->FMinValue.AsInteger(), 10);
  EXPECT_TRUE(check->FMaxValue.IsNull());
  auto* pk = dynamic_cast<TORBConstraintDefPrimary*>(loaded.GetDef(2));
  ASSERT_NE(pk, nullptr);
  EXPECT_EQ(pk->GetConstraintType(), ctPK);
  EXPECT_EQ(pk->GetIndexName(), "pk");
  auto* unique = dynamic_cast<TORBConstraintDefUnique*>(loaded.GetDef(3));
  ASSERT_NE(unique, nullptr);
  EXPECT_EQ(unique->GetConstraintType(), ctUnique);
  ASSERT_EQ(unique->GetColumnCount(), 2);
  EXPECT_EQ(unique->Columns()[1].ColumnName, "tab2");
  EXPECT_EQ(unique->Columns()[1].ColumnObjectID, 4);
  EXPECT_EQ(Save(loaded), ExpectedSampleStream());
}

// Layout of the sample stream. Count 0..3.
// Not-null: type 4, header 5..13, ids 14, 18, 22, schema count 26 and
// bytes 27, table count 28 and bytes 29..31, column count 32 and bytes
// 33..37.
// Check: type 38, header 39..47, ids 48, 52, 56, schema 60/61, table 63/64,
// column 67/68, minimum: kind 75, null 76, size 77, data 81; maximum: kind
// 85, null 86.
// Primary key: type 87, header 88..103, ids 104, 108, 112, schema count 116
// and bytes 120, table 121/125, index 128/132, column count 135, column:
// id 139, count 143, bytes 147..153.
// Unique: type 154, header 155..177, ..., column count 208, end 238.
TEST(ConstraintDefsTest, DamagedStreamsRaiseTheItemCode) {
  const std::vector<uint8_t> full = ExpectedSampleStream();
  ASSERT_EQ(full.size(), 238u);
  struct Case {
    const char* what;
    size_t offset;
    std::vector<uint8_t> bytes;
    int32_t code;
  };
  const Case cases[] = {
      {"negative count", 0, {0xff, 0xff, 0xff, 0xff}, 10159},
      {"foreign key type", 4, {ctFK}, 30316},
      {"unknown type", 4, {9}, 30316},
      {"name count of zero", 26, {0}, 10252},
      {"name count disagreeing with the length byte", 28, {2}, 10255},
      {"column name count of zero", 32, {0}, 10256},
      {"check name count of zero", 60, {0}, 10233},
      {"unique name count above 256", 116, {0x01, 0x01, 0x00, 0x00}, 30305},
      {"negative unique name count", 116, {0xff, 0xff, 0xff, 0xff}, 30305},
      {"unique name length byte disagrees", 120, {7}, 30306},
      {"negative unique column count", 135, {0xff, 0xff, 0xff, 0xff}, 30309},
      // Columns are read one by one: the second one is missing.
      {"unique column count the stream cannot hold", 208, {0xff, 0xff, 0xff, 0x7f}, 30310},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> bytes = full;
    std::copy(c.bytes.begin(), c.bytes.end(), bytes.begin() + static_cast<ptrdiff_t>(c.offset));
    auto stream = StreamOf(bytes);
    TORBConstraintDefs defs;
    EXPECT_EQ(RaisedCode([&] { defs.LoadFromStream(*stream); }), c.code);
  }
  auto stream = StreamOf(std::vector<uint8_t>{1, 0, 0, 0, 7});
  TORBConstraintDefs defs;
  EXPECT_EQ(RaisedMessage([&] { defs.LoadFromStream(*stream); }),
            "Unknown Constraint Type: '7' - Native error: 30316");
}

TEST(ConstraintDefsTest, TruncatedStreamsRaiseTheItemCodeAndKeepCompleteDefinitions) {
  const std::vector<uint8_t> full = ExpectedSampleStream();
  struct Case {
    size_t length;
    int32_t code;
    int32_t kept;
  };
  const Case cases[] = {
      {4, 10220, 0},   {5, 10166, 0},   {10, 10169, 0},  {14, 10249, 0},  {18, 10250, 0},  {22, 10251, 0},
      {26, 10252, 0},  {27, 10253, 0},  {28, 10254, 0},  {30, 10255, 0},  {32, 10256, 0},  {33, 10257, 0},
      {38, 10220, 1},  {48, 10230, 1},  {52, 10231, 1},  {56, 10232, 1},  {60, 10233, 1},  {61, 10234, 1},
      {63, 10235, 1},  {64, 10236, 1},  {67, 10237, 1},  {68, 10238, 1},  {75, 10183, 1},  {76, 10184, 1},
      {77, 10185, 1},  {81, 10185, 1},  {85, 10183, 1},  {86, 10184, 1},  {87, 10220, 2},  {88, 10166, 2},
      {104, 30303, 2}, {108, 30304, 2}, {112, 30317, 2}, {116, 30305, 2}, {120, 30306, 2}, {121, 30307, 2},
      {125, 30308, 2}, {128, 30321, 2}, {132, 30322, 2}, {135, 30309, 2}, {139, 30310, 2}, {143, 30311, 2},
      {147, 30312, 2}, {154, 10220, 3}, {237, 30312, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    auto stream = StreamOf(std::vector<uint8_t>(full.begin(), full.begin() + c.length));
    TORBConstraintDefs defs;
    EXPECT_EQ(RaisedCode([&] { defs.LoadFromStream(*stream); }), c.code);
    EXPECT_EQ(defs.GetCount(), c.kept);
  }
}

TEST(ConstraintDefsTest, NamesTheStoredFormsCannotHoldAreRefused) {
  TORBConstraintDefs defs;
  TORBConstraintDefNotNull* not_null = defs.AddNotNull();
  const std::u16string longest(254, u'c');
  not_null->SetNames(longest, longest, longest);
  EXPECT_EQ(not_null->GetColumnName(), std::string(254, 'c'));
  // 255 bytes need a count of 256 in one byte.
  const std::u16string too_long(255, u'c');
  EXPECT_EQ(RaisedCode([&] { not_null->SetNames(too_long, u"t", u""); }), kErrConstraintNameTooLong);
  EXPECT_EQ(RaisedCode([&] { not_null->SetNames(u"c", std::u16string(400, u't'), u""); }),
            kErrConstraintNameTooLong);
  EXPECT_EQ(RaisedCode([&] { not_null->SetTableName(std::string(255, 't')); }), kErrConstraintNameTooLong);
  EXPECT_EQ(RaisedCode([&] { defs.AddCheck()->SetColumnName(std::string(255, 'c')); }), kErrConstraintNameTooLong);
  // A refused call changes nothing.
  EXPECT_EQ(not_null->GetColumnName(), std::string(254, 'c'));
  EXPECT_EQ(not_null->GetTableName(), std::string(254, 'c'));

  TORBConstraintDefUnique* unique = defs.AddUnique();
  unique->SetTableName(std::string(255, 't'));
  unique->AddColumn(std::string(255, 'c'));
  EXPECT_EQ(RaisedCode([&] { unique->SetIndexName(std::string(256, 'i')); }), kErrConstraintNameTooLong);
  EXPECT_EQ(RaisedCode([&] { unique->AddColumn(std::string(256, 'c')); }), kErrConstraintNameTooLong);
  EXPECT_EQ(unique->GetColumnCount(), 1);

  // What could be defined can be read back.
  defs.Delete(1);
  const std::vector<uint8_t> bytes = Save(defs);
  TORBConstraintDefs loaded;
  auto stream = StreamOf(bytes);
  loaded.LoadFromStream(*stream);
  ASSERT_EQ(loaded.GetCount(), 2);
  EXPECT_EQ(Save(loaded), bytes);
}

TEST(ConstraintDefsTest, AssignCopiesByTypeWithoutCheckingNames) {
  TORBConstraintDefs source;
  AddSample(source);
  source.GetDef(1)->SetName("C_NN");
  TORBConstraintDefs copy;
  copy.Assign(source);
  ASSERT_EQ(copy.GetCount(), 4);
  EXPECT_EQ(Save(copy), Save(source));
  EXPECT_NE(dynamic_cast<TORBConstraintDefPrimary*>(copy.GetDef(2)), nullptr);
  // The copies own their limits.
  static_cast<TORBConstraintDefCheck*>(source.GetDef(1))->FMinValue.SetAsInteger(99);
  EXPECT_EQ(static_cast<TORBConstraintDefCheck*>(copy.GetDef(1))->FMinValue.AsInteger(), 10);

  // Primary key and unique share their form: assigning one from the other
  // takes its type.
  TORBConstraintDefUnique unique;
  unique.Assign(*source.GetDef(2));
  EXPECT_EQ(unique.GetConstraintType(), ctPK);
  EXPECT_EQ(unique.GetIndexName(), "pk");
  TORBConstraintDefNotNull not_null;
  not_null.Assign(*source.GetDef(1));
  EXPECT_EQ(not_null.GetConstraintType(), ctNotNull);
  EXPECT_EQ(not_null.GetColumnName(), "numero");
}

TEST(ConstraintDefsTest, AssignRefusesDefinitionsWithoutConstraintClass) {
  TORBMetaObjectDefs* generic = nullptr;
  TORBIndexDefs indexes;
  indexes.AddCreated()->SetName("ix");
  generic = &indexes;
  TORBConstraintDefs defs;
  EXPECT_EQ(RaisedMessage([&] { defs.Assign(*generic); }), "Not implemented yet - Native error: 30035");
  EXPECT_EQ(RaisedCode([&] { defs.AddCreated(); }), 30339);
}

TEST(ConstraintForIndexTest, UniqueAndPrimaryIndexesImplyConstraints) {
  TORBIndexDef index;
  index.SetName("ix");
  index.FObjectID = 40;
  index.AssignByNames({u"X", u"Y"}, {u"", u""}, {u"", u""});
  TORBConstraintDefs defs;
  EXPECT_EQ(AddConstraintForIndex(index, defs), nullptr);
  EXPECT_EQ(defs.GetCount(), 0);

  index.FUnique = true;
  TORBConstraintDef* unique = AddConstraintForIndex(index, defs);
  ASSERT_NE(unique, nullptr);
  EXPECT_EQ(unique->GetConstraintType(), ctUnique);
  EXPECT_EQ(unique->GetName(), "C_Unique$X$Y");
  auto* columns = dynamic_cast<TORBConstraintDefUnique*>(unique);
  ASSERT_NE(columns, nullptr);
  EXPECT_EQ(columns->GetIndexName(), "ix");
  EXPECT_EQ(columns->FIndexObjectID, 40);
  ASSERT_EQ(columns->GetColumnCount(), 2);
  EXPECT_EQ(columns->Columns()[0].ColumnName, "X");
  EXPECT_EQ(columns->Columns()[1].ColumnName, "Y");

  index.FPrimary = true;
  TORBConstraintDef* pk = AddConstraintForIndex(index, defs);
  ASSERT_NE(pk, nullptr);
  EXPECT_EQ(pk->GetConstraintType(), ctPK);
  EXPECT_NE(dynamic_cast<TORBConstraintDefPrimary*>(pk), nullptr);
  EXPECT_EQ(pk->GetName(), "C_PK$X$Y");
  EXPECT_EQ(defs.GetCount(), 2);
  EXPECT_EQ(defs.GetDef(1), pk);
}

TEST(ConstraintForIndexTest, LongColumnNamesGiveANameCutTo255Characters) {
  TORBIndexDef index;
  index.FPrimary = true;
  index.AssignByNames({std::u16string(200, u'a'), std::u16string(200, u'b')}, {u"", u""}, {u"", u""});
  TORBConstraintDefs defs;
  TORBConstraintDef* pk = AddConstraintForIndex(index, defs);
  ASSERT_NE(pk, nullptr);
  const std::string expected = "C_PK$" + std::string(200, 'a') + "$" + std::string(200, 'b');
  EXPECT_EQ(pk->GetName(), expected.substr(0, 255));
  const std::vector<uint8_t> bytes = Save(defs);
  TORBConstraintDefs loaded;
  auto stream = StreamOf(bytes);
  loaded.LoadFromStream(*stream);
  EXPECT_EQ(loaded.GetDef(0)->GetName(), expected.substr(0, 255));
}

}  // namespace
}  // namespace orb
