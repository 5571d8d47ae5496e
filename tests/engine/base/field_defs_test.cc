#include "engine/base/field_defs.h"

#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <string>

#include "engine/platform/codepage.h"
#include "tests/engine/base/metadata_test_util.h"

namespace orb {
namespace {

using testing::Bytes;
using testing::Contents;
using testing::RaisedCode;
using testing::RaisedMessage;
using testing::StreamOf;

constexpr int64_t kMaxInt64 = std::numeric_limits<int64_t>::max();

std::unique_ptr<TORBFieldDef> MakeField(std::string_view name, TORBAdvancedFieldType type, int32_t size,
                                        int32_t object_id) {
  auto field = std::make_unique<TORBFieldDef>();
  field->SetName(name);
  field->SetFieldDefDataType(type, size);
  field->FObjectID = object_id;
  return field;
}

// The application's table: an integer, a formatted memo, three keywords.
void AddJBFields(TORBFieldDefs& defs) {
  defs.Add(MakeField("numero", aftInteger, 0, 1));
  defs.Add(MakeField("info", aftFormattedMemo, 0, 2));
  defs.Add(MakeField("tab1", aftString, 20, 3));
  defs.Add(MakeField("tab2", aftString, 20, 4));
  defs.Add(MakeField("tab3", aftString, 20, 5));
}

// Auto-increment settings of a new field, then a null default of no kind.
Bytes& NewFieldTail(Bytes& b) { return b.I64(1).I64(0).I64(0).I64(kMaxInt64).U8(0).U8(0).U8(1); }

std::vector<uint8_t> ExpectedJBStream() {
  Bytes b;
  b.I32(5);
  NewFieldTail(b.Short("numero").I32(1).U8(bftSignedInt32).U8(aftInteger).I32(0));
  NewFieldTail(b.Short("info").I32(2).U8(bftClob).U8(aftFormattedMemo).I32(0).U8(acaNone).U8(0).I32(102400));
  NewFieldTail(b.Short("tab1").I32(3).U8(bftVarchar).U8(aftString).I32(20));
  NewFieldTail(b.Short("tab2").I32(4).U8(bftVarchar).U8(aftString).I32(20));
  NewFieldTail(b.Short("tab3").I32(5).U8(bftVarchar).U8(aftString).I32(20));
  return b.data();
}

// Where the fields of the JB stream begin and end.
constexpr size_t kInfo = 56;
constexpr size_t kFieldEnds[] = {56, 112, 162, 212, 262};

std::vector<uint8_t> Save(const TORBFieldDefs& defs) {
  TORBMemoryStream stream;
  defs.SaveToStream(stream);
  return Contents(stream);
}

TEST(FieldDefTest, NewDefinitionDefaults) {
  TORBFieldDef field;
  EXPECT_EQ(field.GetName(), "");
  EXPECT_EQ(field.FObjectID, -1);
  EXPECT_EQ(field.FSchemaID, -1);
  EXPECT_EQ(field.FBaseFieldType, bftUnknown);
  EXPECT_EQ(field.FAdvancedFieldType, aftUnknown);
  EXPECT_TRUE(field.FDefaultValue.IsNull());
  EXPECT_EQ(field.FDefaultValue.DataType(), bftUnknown);
  EXPECT_EQ(field.FDefaultValueExpr, nullptr);
  EXPECT_EQ(field.FBLOBCompressionAlgorithm, acaNone);
  EXPECT_EQ(field.FBLOBBlockSize, 102400);
  EXPECT_EQ(field.FAutoincIncrement, 1);
  EXPECT_EQ(field.FAutoincInitialValue, 0);
  EXPECT_EQ(field.FAutoincMinValue, 0);
  EXPECT_EQ(field.FAutoincMaxValue, kMaxInt64);
  EXPECT_FALSE(field.FAutoincCycled);
}

TEST(FieldDefTest, SetDataTypeDerivesTheOtherTypeAndSizes) {
  TORBFieldDef field;
  field.SetFieldDefDataType(aftGuid, 38);
  EXPECT_EQ(field.FBaseFieldType, bftChar);
  EXPECT_EQ(field.FMemoryDataSize, 39);
  field.SetFieldDefDataType(bftClob, 0);
  EXPECT_EQ(field.FAdvancedFieldType, aftMemo);
  EXPECT_EQ(field.FMemoryDataSize, 14);
  EXPECT_EQ(field.FDiskDataSize, 6);
  field.SetFieldDefDataType(aftWideString, 20);
  EXPECT_EQ(field.FBaseFieldType, bftWideVarchar);
  EXPECT_EQ(field.FMemoryDataSize, 42);
  EXPECT_EQ(field.FDiskDataSize, 42);
}

TEST(FieldDefTest, TypesWithoutCounterpartAreRefusedAndLeaveTheFieldAlone) {
  TORBFieldDef field;
  field.SetFieldDefDataType(aftInteger, 0);
  EXPECT_EQ(RaisedMessage([&] { field.SetFieldDefDataType(aftUnknown, 0); }),
            "Unsupported data type 'Unknown' - Native error: 30007");
  EXPECT_EQ(RaisedCode([&] { field.SetFieldDefDataType(bftBFile, 0); }), 30008);
  EXPECT_EQ(RaisedCode([&] { field.SetFieldDefDataType(bftUnknown, 0); }), 30008);
  EXPECT_EQ(field.FAdvancedFieldType, aftInteger);
  EXPECT_EQ(field.FBaseFieldType, bftSignedInt32);
  EXPECT_EQ(field.FMemoryDataSize, 4);
}

TEST(FieldDefTest, LongNamesKeepTheirFirst255Characters) {
  TORBFieldDef field;
  field.SetName(std::u16string(300, u'x'));
  EXPECT_EQ(field.GetName(), std::string(255, 'x'));
  field.SetName(std::string(256, 'y'));
  EXPECT_EQ(field.GetName(), std::string(255, 'y'));
  // UTF-16 names are held in the code page.
  field.SetName(u"caf\u00e9");
  EXPECT_EQ(field.GetName(), "caf\xe9");
  EXPECT_EQ(field.GetWideName(), u"caf\u00e9");
}

TEST(FieldDefsTest, JBTableStreamIsByteExact) {
  TORBFieldDefs defs;
  AddJBFields(defs);
  EXPECT_EQ(Save(defs), ExpectedJBStream());

  TORBFieldDefs loaded;
  auto stream = StreamOf(ExpectedJBStream());
  loaded.LoadFromStream(*stream);
  EXPECT_EQ(stream->GetPosition(), stream->GetSize());
  EXPECT_EQ(loaded.FLoadedItemCount, 5);
  ASSERT_EQ(loaded.GetCount(), 5);
  EXPECT_EQ(loaded.GetDef(1)->GetName(), "info");
  EXPECT_EQ(loaded.GetDef(1)->FObjectID, 2);
  EXPECT_EQ(loaded.GetDef(1)->FAdvancedFieldType, aftFormattedMemo);
  EXPECT_EQ(loaded.GetDef(1)->FBaseFieldType, bftClob);
  EXPECT_EQ(loaded.GetDef(4)->FFieldSize, 20);
  EXPECT_EQ(Save(loaded), ExpectedJBStream());
}

TEST(FieldDefsTest, LoadComputesSizesAndOffsets) {
  auto stream = StreamOf(ExpectedJBStream());
  TORBFieldDefs defs;
  defs.LoadFromStream(*stream);
  struct Layout {
    int32_t memory_size, disk_size, memory_offset, disk_offset;
  };
  // One bitmap byte; the memo takes 14 bytes in memory and 6 on disk, so
  // later offsets differ by 8.
  const Layout expected[] = {{4, 4, 1, 1}, {14, 6, 5, 5}, {21, 21, 19, 11}, {21, 21, 40, 32}, {21, 21, 61, 53}};
  for (int32_t i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(defs.GetDef(i)->FMemoryDataSize, expected[i].memory_size);
    EXPECT_EQ(defs.GetDef(i)->FDiskDataSize, expected[i].disk_size);
    EXPECT_EQ(defs.GetDef(i)->FMemoryOffset, expected[i].memory_offset);
    EXPECT_EQ(defs.GetDef(i)->FDiskOffset, expected[i].disk_offset);
  }
  EXPECT_EQ(defs.GetMemoryRecordBufferSize(), 82);
  EXPECT_EQ(defs.GetDiskRecordBufferSize(), 74);
}

TEST(FieldDefsTest, RecordSizesFollowTheNullBitmap) {
  TORBFieldDefs defs;
  EXPECT_EQ(defs.GetMemoryRecordBufferSize(), 0);
  EXPECT_EQ(defs.GetDiskRecordBufferSize(), 0);
  const char* names[] = {"f0", "f1", "f2", "f3", "f4", "f5", "f6", "f7"};
  for (int i = 0; i < 8; ++i) defs.Add(MakeField(names[i], aftByte, 0, i));
  EXPECT_EQ(defs.GetMemoryRecordBufferSize(), 1 + 8);
  defs.Add(MakeField("f8", aftByte, 0, 8));
  defs.RecalcFieldOffsets();
  EXPECT_EQ(defs.GetMemoryRecordBufferSize(), 2 + 9);
  EXPECT_EQ(defs.GetDef(0)->FMemoryOffset, 2);
  EXPECT_EQ(defs.GetDef(8)->FDiskOffset, 10);
}

TEST(FieldDefsTest, SettingsAndDefaultValueSurviveARoundTrip) {
  TORBFieldDefs defs;
  TORBFieldDef* counter = defs.AddCreated();
  counter->SetName("counter");
  counter->SetFieldDefDataType(aftAutoIncLargeint, 0);
  counter->FAutoincIncrement = 5;
  counter->FAutoincInitialValue = 10;
  counter->FAutoincMinValue = -3;
  counter->FAutoincMaxValue = 0;
  counter->FAutoincCycled = true;
  counter->FDefaultValue.SetAsInt64(42);
  TORBFieldDef* memo = defs.AddCreated();
  memo->SetName("memo");
  memo->SetFieldDefDataType(aftWideMemo, 0);
  memo->FBLOBCompressionAlgorithm = acaBZIP;
  memo->FBLOBCompressionMode = 9;
  memo->FBLOBBlockSize = 4096;
  TORBFieldDef* name = defs.AddCreated();
  name->SetName("name");
  name->SetFieldDefDataType(aftString, 30);
  name->FDefaultValue.SetAsAnsiString("nobody");

  const std::vector<uint8_t> bytes = Save(defs);
  TORBFieldDefs loaded;
  auto stream = StreamOf(bytes);
  loaded.LoadFromStream(*stream);
  ASSERT_EQ(loaded.GetCount(), 3);
  const TORBFieldDef* c = loaded.GetDef(0);
  EXPECT_EQ(c->FAutoincIncrement, 5);
  EXPECT_EQ(c->FAutoincInitialValue, 10);
  EXPECT_EQ(c->FAutoincMinValue, -3);
  EXPECT_EQ(c->FAutoincMaxValue, 0);
  EXPECT_TRUE(c->FAutoincCycled);
  EXPECT_EQ(c->FDefaultValue.DataType(), bftSignedInt64);
  EXPECT_EQ(c->FDefaultValue.AsInt64(), 42);
  const TORBFieldDef* m = loaded.GetDef(1);
  EXPECT_EQ(m->FBLOBCompressionAlgorithm, acaBZIP);
  EXPECT_EQ(m->FBLOBCompressionMode, 9);
  EXPECT_EQ(m->FBLOBBlockSize, 4096);
  EXPECT_EQ(loaded.GetDef(2)->FDefaultValue.AsAnsiString(), "nobody");
  EXPECT_EQ(Save(loaded), bytes);
}

TEST(FieldDefsTest, OnlyBlobFieldsStoreCompressionSettings) {
  struct Case {
    TORBAdvancedFieldType type;
    size_t extra;
  };
  const Case cases[] = {{aftInteger, 0}, {aftString, 0}, {aftBytes, 0}, {aftBlob, 6},
                        {aftGraphic, 6}, {aftMemo, 6},   {aftWideMemo, 6}};
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.type));
    TORBFieldDefs defs;
    TORBFieldDef* field = defs.AddCreated();
    field->SetFieldDefDataType(c.type, 10);
    field->FBLOBCompressionAlgorithm = acaZLIB;
    field->FBLOBCompressionMode = 6;
    // Count, header, types and size, auto-increment settings, null default.
    EXPECT_EQ(Save(defs).size(), 4 + 5 + 6 + 33 + 2 + c.extra);
  }
}

TEST(FieldDefsTest, TruncatedStreamRaisesTheCodeOfTheMissingItem) {
  const std::vector<uint8_t> full = ExpectedJBStream();
  // Offsets into the first field ("numero", from 4) and the second ("info",
  // from kInfo).
  struct Case {
    size_t length;
    int32_t code;
  };
  const Case cases[] = {
      {0, 10159},  {3, 10159},  {4, 10166},  {5, 10167},  {11, 10169}, {15, 10187}, {16, 10188},
      {17, 10189}, {21, 30407}, {29, 30408}, {37, 30409}, {45, 30410}, {53, 30411}, {54, 10183},
      {55, 10184}, {kInfo + 15, 10192}, {kInfo + 16, 10193}, {kInfo + 17, 10194},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    auto stream = StreamOf(std::vector<uint8_t>(full.begin(), full.begin() + c.length));
    TORBFieldDefs defs;
    EXPECT_EQ(RaisedCode([&] { defs.LoadFromStream(*stream); }), c.code);
  }
  // Every shorter stream fails with an engine error; what was read
  // completely stays.
  for (size_t length = 0; length < full.size(); ++length) {
    SCOPED_TRACE(length);
    auto stream = StreamOf(std::vector<uint8_t>(full.begin(), full.begin() + length));
    TORBFieldDefs defs;
    AddJBFields(defs);
    EXPECT_NE(RaisedCode([&] { defs.LoadFromStream(*stream); }), 0);
    int32_t complete = 0;
    for (size_t end : kFieldEnds) complete += end <= length ? 1 : 0;
    EXPECT_EQ(defs.GetCount(), complete);
  }
}

TEST(FieldDefsTest, DamagedValuesAreRefusedBeforeUse) {
  const std::vector<uint8_t> full = ExpectedJBStream();
  struct Case {
    const char* what;
    size_t offset;
    std::vector<uint8_t> bytes;
    int32_t code;
  };
  const Case cases[] = {
      {"negative count", 0, {0xff, 0xff, 0xff, 0xff}, 10159},
      // Read item by item: the sixth field is missing.
      {"count the stream cannot hold", 0, {0x00, 0x00, 0x00, 0x10}, 10166},
      {"unknown base type", 15, {200}, 10187},
      {"unknown declared type", 16, {99}, 10188},
      {"unstorable base type", 15, {bftBFile}, 30050},
      {"unknown compression", kInfo + 15, {4}, 10192},
      {"unknown default kind", 53 + 1, {77}, 10183},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> bytes = full;
    std::copy(c.bytes.begin(), c.bytes.end(), bytes.begin() + static_cast<ptrdiff_t>(c.offset));
    auto stream = StreamOf(bytes);
    TORBFieldDefs defs;
    EXPECT_EQ(RaisedCode([&] { defs.LoadFromStream(*stream); }), c.code);
  }
  // A string field with a negative size cannot be laid out.
  Bytes b;
  NewFieldTail(b.I32(1).Short("s").I32(1).U8(bftVarchar).U8(aftString).I32(-5));
  auto stream = StreamOf(b.data());
  TORBFieldDefs defs;
  EXPECT_EQ(RaisedCode([&] { defs.LoadFromStream(*stream); }), 30053);
  // Two fields that each fit but together reach 2 GiB.
  Bytes huge;
  huge.I32(2);
  NewFieldTail(huge.Short("a").I32(1).U8(bftVarchar).U8(aftString).I32(2000000000));
  NewFieldTail(huge.Short("b").I32(2).U8(bftVarchar).U8(aftString).I32(2000000000));
  auto huge_stream = StreamOf(huge.data());
  TORBFieldDefs huge_defs;
  EXPECT_EQ(RaisedCode([&] { huge_defs.LoadFromStream(*huge_stream); }), 30056);
  EXPECT_EQ(RaisedCode([&] { huge_defs.GetDiskRecordBufferSize(); }), 30056);
}

TEST(FieldDefsTest, LookupsIgnoreLetterCase) {
  TORBFieldDefs defs;
  AddJBFields(defs);
  defs.Add(MakeField("caf\xe9", aftInteger, 0, 9));
  EXPECT_EQ(defs.GetDefNumberByName("TAB2"), 3);
  EXPECT_EQ(defs.GetDefNumberByName(u"Tab2"), 3);
  EXPECT_EQ(defs.GetDefNumberByName("CAF\xc9"), 5);
  EXPECT_EQ(defs.GetDefNumberByName(u"CAF\u00c9"), 5);
  EXPECT_EQ(defs.GetFieldDefByName(u"INFO")->FObjectID, 2);
  EXPECT_EQ(defs.GetDefNumberByName("tab"), -1);
  EXPECT_EQ(defs.GetFieldDefByName("nothing"), nullptr);
  EXPECT_EQ(defs.GetDefNumberByObjectId(4), 3);
  EXPECT_EQ(defs.GetDefByObjectId(1)->GetName(), "numero");
  EXPECT_EQ(defs.GetDefNumberByObjectId(77), -1);
  EXPECT_EQ(defs.GetDefByObjectId(77), nullptr);
}

TEST(FieldDefsTest, LookupsReturnTheFirstMatch) {
  TORBFieldDefs defs;
  defs.Add(MakeField("a", aftInteger, 0, 7));
  defs.Add(MakeField("A", aftInteger, 0, 7));
  EXPECT_EQ(defs.GetDefNumberByName("a"), 0);
  EXPECT_EQ(defs.GetDefNumberByName("A"), 0);
  EXPECT_EQ(defs.GetDefNumberByObjectId(7), 0);
}

TEST(FieldDefsTest, AssignCopiesEverythingAndRefusesDuplicateNames) {
  TORBFieldDefs source;
  AddJBFields(source);
  source.GetDef(2)->FDefaultValue.SetAsAnsiString("abc");
  source.GetDef(2)->FFieldNoReference = 3;
  source.GetDef(2)->FSchemaName = std::u16string(2, u's');
  source.RecalcFieldOffsets();
  TORBFieldDefs copy;
  copy.Add(MakeField("old", aftInteger, 0, 99));
  copy.Assign(source);
  ASSERT_EQ(copy.GetCount(), 5);
  EXPECT_EQ(Save(copy), Save(source));
  EXPECT_EQ(copy.GetDef(2)->FDefaultValue.AsAnsiString(), "abc");
  EXPECT_EQ(copy.GetDef(2)->FFieldNoReference, 3);
  EXPECT_EQ(copy.GetDef(2)->FSchemaName, u"ss");
  EXPECT_EQ(copy.GetDef(4)->FMemoryOffset, 61);
  // The copy owns its default value.
  source.GetDef(2)->FDefaultValue.SetAsAnsiString("changed");
  EXPECT_EQ(copy.GetDef(2)->FDefaultValue.AsAnsiString(), "abc");

  source.Add(MakeField("TAB1", aftInteger, 0, 6));
  EXPECT_EQ(RaisedMessage([&] { copy.Assign(source); }), "Duplicate field name TAB1 - Native error: 10424");
}

TEST(FieldDefsTest, ListOperations) {
  TORBFieldDefs defs;
  AddJBFields(defs);
  defs.Move(0, 4);
  EXPECT_EQ(defs.GetDef(4)->GetName(), "numero");
  EXPECT_EQ(defs.GetDef(0)->GetName(), "info");
  defs.Delete(0);
  EXPECT_EQ(defs.GetCount(), 4);
  defs.Insert(0, MakeField("first", aftInteger, 0, 10));
  EXPECT_EQ(defs.GetDef(0)->GetName(), "first");
  defs.SetDef(1, MakeField("second", aftInteger, 0, 11));
  EXPECT_EQ(defs.GetDef(1)->GetName(), "second");
  EXPECT_EQ(defs.Add(MakeField("last", aftInteger, 0, 12)), 5);
  EXPECT_THROW(defs.GetDef(6), Exception);
  EXPECT_THROW(defs.Delete(-1), Exception);
  EXPECT_THROW(defs.Insert(8, MakeField("x", aftInteger, 0, 1)), Exception);
  EXPECT_THROW(defs.Add(nullptr), Exception);
  EXPECT_THROW(defs.SetDef(0, nullptr), Exception);
  EXPECT_EQ(defs.GetCount(), 6);
  defs.Clear();
  EXPECT_EQ(defs.GetCount(), 0);
}

TEST(MetaObjectDefsTest, BaseCollectionCannotCreateDefinitions) {
  TORBMetaObjectDefs defs;
  EXPECT_EQ(RaisedMessage([&] { defs.AddCreated(); }),
            "The method 'InternalAddCreated' is not overrided in class 'TORBMetaObjectDefs' - Native error: 30339");
  TORBFieldDefs fields;
  AddJBFields(fields);
  EXPECT_EQ(RaisedCode([&] { defs.Assign(fields); }), 30339);
  EXPECT_EQ(defs.GetCount(), 0);
}

// A default value counts as non-constant when its text is "NOW".
class NowExpr : public TORBDefaultValueExpr {
 public:
  void Evaluate(TORBVariant& result) override { result.SetAsAnsiString("evaluated"); }
};

std::unique_ptr<TORBDefaultValueExpr> ParseNow(const TORBVariant& value) {
  if (value.AsAnsiString() == "NOW") return std::make_unique<NowExpr>();
  return nullptr;
}

class DefaultValueExprTest : public ::testing::Test {
 protected:
  void SetUp() override { SetDefaultValueExprParser(&ParseNow); }
  void TearDown() override { SetDefaultValueExprParser(nullptr); }
};

TEST_F(DefaultValueExprTest, NonConstantDefaultsAreParsedOnAssignAndLoad) {
  TORBFieldDefs defs;
  TORBFieldDef* stamp = defs.AddCreated();
  stamp->SetName("stamp");
  stamp->SetFieldDefDataType(aftString, 30);
  stamp->FDefaultValue.SetAsAnsiString("NOW");
  stamp->CreateDefaultValueExprIfNeeded();
  ASSERT_NE(stamp->FDefaultValueExpr, nullptr);
  TORBVariant result;
  stamp->FDefaultValueExpr->Evaluate(result);
  EXPECT_EQ(result.AsAnsiString(), "evaluated");

  TORBFieldDef* literal = defs.AddCreated();
  literal->SetFieldDefDataType(aftString, 30);
  literal->FDefaultValue.SetAsAnsiString("hello");
  literal->CreateDefaultValueExprIfNeeded();
  EXPECT_EQ(literal->FDefaultValueExpr, nullptr);

  TORBFieldDefs copy;
  copy.Assign(defs);
  EXPECT_NE(copy.GetDef(0)->FDefaultValueExpr, nullptr);
  EXPECT_EQ(copy.GetDef(1)->FDefaultValueExpr, nullptr);

  TORBFieldDefs loaded;
  auto stream = StreamOf(Save(defs));
  loaded.LoadFromStream(*stream);
  EXPECT_NE(loaded.GetDef(0)->FDefaultValueExpr, nullptr);

  // A null default has no expression, whatever was parsed before.
  stamp->FDefaultValue.Clear(bftVarchar);
  stamp->CreateDefaultValueExprIfNeeded();
  EXPECT_EQ(stamp->FDefaultValueExpr, nullptr);
}

}  // namespace
}  // namespace orb
