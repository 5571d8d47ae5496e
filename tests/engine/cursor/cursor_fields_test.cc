#include <gtest/gtest.h>

#include <cstring>

#include "tests/engine/cursor/cursor_fixture.h"

namespace orb::test {
namespace {

using FieldsTest = CursorTest;

TEST_F(FieldsTest, ValuesOfEachMainTypeSurviveAPostAndARead) {
  CreateStandardTable();
  TORBLocalCursor& c = Open();
  c.InternalInitRecord(c.FCurrentRecordBuffer, true);
  SetInt(c, kID, -123456);
  SetText(c, kName, "Grace Hopper");
  TORBVariant born(bftDate), score(bftDouble), active(bftLogical);
  born.SetAsORBDate(700123);
  score.SetAsDouble(-1.25e10);
  active.SetAsBoolean(true);
  c.SetFieldValue(born, kBorn, false);
  c.SetFieldValue(score, kScore, false);
  c.SetFieldValue(active, kActive, false);
  WriteMemo(c, kNote, std::string(5000, 'm') + "end", true);
  c.InternalPost(true);
  ASSERT_EQ(c.FErrorCode, 0);

  // Read back through a fresh buffer.
  std::memset(c.FCurrentRecordBuffer, 0, static_cast<size_t>(c.FRecordBufferSize));
  c.InternalFirst();
  ASSERT_EQ(c.GetRecordBuffer(grmNext), grrOK);
  EXPECT_EQ(GetInt(c, kID), -123456);
  EXPECT_EQ(GetText(c, kName), "Grace Hopper");
  TORBVariant v;
  c.GetFieldValue(v, kBorn, false);
  EXPECT_EQ(v.AsORBDate(), 700123);
  c.GetFieldValue(v, kScore, false);
  EXPECT_EQ(v.AsDouble(), -1.25e10);
  c.GetFieldValue(v, kActive, false);
  EXPECT_TRUE(v.AsBoolean());
  EXPECT_EQ(ReadMemo(c, kNote), std::string(5000, 'm') + "end");
  c.GetFieldValue(v, kGroup, false);
  EXPECT_TRUE(v.IsNull());

  // The framework's field data form.
  int32_t id = 0;
  EXPECT_TRUE(c.GetFieldData(kID, &id, c.FCurrentRecordBuffer));
  EXPECT_EQ(id, -123456);
  EXPECT_FALSE(c.GetFieldData(kGroup, &id, c.FCurrentRecordBuffer));
  const int32_t seven = 7;
  c.SetFieldData(kGroup, &seven, c.FCurrentRecordBuffer);
  EXPECT_EQ(GetInt(c, kGroup), 7);
  c.SetFieldData(kGroup, nullptr, c.FCurrentRecordBuffer);
  EXPECT_EQ(GetInt(c, kGroup), std::nullopt);
  // A null value sets the null flag.
  c.SetFieldValue(TORBVariant(bftSignedInt32), kID, false);
  EXPECT_EQ(GetInt(c, kID), std::nullopt);
}

TEST_F(FieldsTest, StringsAreCutToTheFieldAndNeverReadPastTheValue) {
  CreateStandardTable();
  TORBLocalCursor& c = Open();
  c.InternalInitRecord(c.FCurrentRecordBuffer, true);
  const TORBFieldDef& name = *c.FFieldDefs.GetDef(kName);
  SetText(c, kName, std::string(100, 'x'));
  EXPECT_EQ(GetText(c, kName), std::string(static_cast<size_t>(name.FMemoryDataSize) - 1, 'x'));
  // The neighbouring field is untouched.
  EXPECT_TRUE(CheckNullFlag(kBorn, c.FCurrentRecordBuffer));
  SetText(c, kName, "ab");
  EXPECT_EQ(GetText(c, kName), "ab");
  const uint8_t* data = c.FCurrentRecordBuffer + name.FMemoryOffset;
  for (int32_t i = 2; i < name.FMemoryDataSize; ++i) ASSERT_EQ(data[i], 0) << i;
}

TEST_F(FieldsTest, ClearStringFieldsGarbageZeroesTheTails) {
  CreateStandardTable();
  TORBLocalCursor& c = Open();
  uint8_t* key = c.AllocateKeyRecordBuffer();
  c.InternalInitKeyBuffer(key);
  const TORBFieldDef& name = *c.FFieldDefs.GetDef(kName);
  uint8_t* data = key + name.FMemoryOffset;
  std::memset(data, 'z', static_cast<size_t>(name.FMemoryDataSize));
  c.ClearStringFieldsGarbage(key);  // null: all zero
  for (int32_t i = 0; i < name.FMemoryDataSize; ++i) ASSERT_EQ(data[i], 0) << i;
  std::memset(data, 'z', static_cast<size_t>(name.FMemoryDataSize));
  std::memcpy(data, "abc", 4);
  SetNullFlag(false, kName, key);
  c.ClearStringFieldsGarbage(key);
  EXPECT_STREQ(reinterpret_cast<const char*>(data), "abc");
  for (int32_t i = 3; i < name.FMemoryDataSize; ++i) ASSERT_EQ(data[i], 0) << i;
  c.FreeKeyRecordBuffer(key);
}

TEST_F(FieldsTest, FieldNumbersOutOfRangeRaiseTheirCodes) {
  CreateStandardTable();
  TORBLocalCursor& c = Open();
  uint8_t* b = c.FCurrentRecordBuffer;
  TORBVariant v(bftSignedInt32);
  int32_t scratch = 0;
  struct Case {
    const char* What;
    std::function<void()> Call;
    int32_t Code;
  };
  const std::vector<Case> cases{
      {"get data", [&] { c.GetFieldData(7, &scratch, b); }, kErrGetFieldDataNo},
      {"set data", [&] { c.SetFieldData(-1, &scratch, b); }, kErrSetFieldDataNo},
      {"get value", [&] { c.GetFieldValue(v, 7, false); }, kErrGetFieldValueNo},
      {"get value direct", [&] { c.GetFieldValue(v, 7, true); }, kErrGetFieldValueDirectNo},
      {"set value direct", [&] { c.SetFieldValue(v, 7, true); }, kErrSetFieldValueDirectNo},
      {"set value", [&] { c.SetFieldValue(v, 7, false); }, kErrSetFieldValueNo},
      {"copy source", [&] { c.CopyFieldValue(9, false, 0, c); }, kErrCopyFieldSourceNo},
      {"copy destination", [&] { c.CopyFieldValue(0, false, 9, c); }, kErrCopyFieldDestNo},
      {"blob open", [&] { c.InternalCreateBlobStream(false, false, 7, bomRead, false); }, kErrBLOBOpenFieldNo},
  };
  for (const Case& k : cases) EXPECT_EQ(RaisedCode(k.Call), k.Code) << k.What;
  EXPECT_EQ(RaisedMessage([&] { c.GetFieldValue(v, 7, false); }),
            "Invalid field number - FieldNo = 7, FieldCount = 7 - Native error: 10317");
}

TEST_F(FieldsTest, ProjectionShowsNamedFieldsUnderAliases) {
  CreateStandardTable();
  TORBLocalCursor& c = Open();
  InsertRows(c, FiveRows());
  c.ApplyProjection({u"NAME", u"ID", u"GRP"}, {u"a", u"a", u""});
  ASSERT_EQ(c.VisibleFieldCount(), 3);
  EXPECT_EQ(c.FVisibleFieldDefs.GetDef(0)->GetName(), "a");
  EXPECT_EQ(c.FVisibleFieldDefs.GetDef(1)->GetName(), "a_1");
  EXPECT_EQ(c.FVisibleFieldDefs.GetDef(2)->GetName(), "GRP");
  ASSERT_TRUE(c.Locate(u"a_1", {[] {
                         TORBVariant v(bftSignedInt32);
                         v.SetAsInteger(4);
                         return v;
                       }()},
                       false, false));
  TORBVariant v;
  c.GetFieldValue(v, 0, false);
  EXPECT_EQ(v.AsAnsiString(), "bob");
  c.GetFieldValue(v, 0, true);
  EXPECT_EQ(v.AsInteger(), 4) << "direct access uses physical numbers";
  // A filter names visible or physical fields.
  c.ActivateFilters(u"a = 'erin' OR NAME = 'dave'", false, false);
  EXPECT_EQ(c.GetRecordCount(), 2);
  c.DeactivateFilters();

  EXPECT_EQ(RaisedCode([&] { c.ApplyProjection({u"ID"}, {}); }), kErrProjectionLengths);
  EXPECT_EQ(RaisedCode([&] { c.ApplyProjection({}, {}); }), kErrProjectionEmpty);
  EXPECT_EQ(RaisedCode([&] { c.ApplyProjection({u"NOPE"}, {u""}); }), kErrProjectionField);
  EXPECT_EQ(c.VisibleFieldCount(), 3) << "a failed projection changes nothing";
}

TEST_F(FieldsTest, CopyFieldValueBetweenCursorsCopiesValuesNullsAndMemos) {
  CreateStandardTable();
  TORBLocalCursor& source = Open();
  InsertRows(source, {{1, "ann", 5, true, "memo text", 3}});
  ASSERT_TRUE(MoveToID(source, 1));
  TORBLocalCursor& dest = Open();
  dest.InternalInitRecord(dest.FCurrentRecordBuffer, true);
  for (int32_t f : {kID, kName, kScore, kNote, kBorn}) source.CopyFieldValue(f, false, f, dest);
  // A different type goes through a value.
  source.CopyFieldValue(kID, false, kGroup, dest);
  EXPECT_EQ(GetInt(dest, kID), 1);
  EXPECT_EQ(GetText(dest, kName), "ann");
  EXPECT_EQ(GetInt(dest, kGroup), 1);
  TORBVariant v;
  dest.GetFieldValue(v, kBorn, false);
  EXPECT_TRUE(v.IsNull());
  dest.InternalPost(true);
  ASSERT_EQ(dest.FErrorCode, 0);
  ASSERT_TRUE(MoveToID(dest, 1));
  ASSERT_EQ(dest.GetRecordBuffer(grmNext), grrOK);
  EXPECT_EQ(ReadMemo(dest, kNote), "memo text");
}

}  // namespace
}  // namespace orb::test
