#include "engine/base/field_types.h"

#include <gtest/gtest.h>

#include "engine/base/orb_exception.h"
#include "tests/support/raised.h"

namespace orb {
namespace {

using test::RaisedCode;

TEST(FieldTypesTest, FirstMatchLookups) {
  EXPECT_EQ(aftWideChar, FieldTypeToORBAdvFieldType(ftWideString));
  EXPECT_EQ(aftDouble, FieldTypeToORBAdvFieldType(ftBCD));
  for (TFieldType ft : {ftBlob, ftParadoxOle, ftTypedBinary, ftDBaseOle, ftOraBlob, ftOraClob})
    EXPECT_EQ(aftBlob, FieldTypeToORBAdvFieldType(ft)) << int(ft);
  EXPECT_EQ(aftString, BaseFieldTypeToAdvancedFieldType(bftVarchar));
  EXPECT_EQ(aftMemo, BaseFieldTypeToAdvancedFieldType(bftClob));
  EXPECT_EQ(aftChar, BaseFieldTypeToAdvancedFieldType(bftChar));
  EXPECT_EQ(aftUnknown, BaseFieldTypeToAdvancedFieldType(bftBFile));
  EXPECT_EQ(u"FLOAT", AftToStr(aftDouble));
  EXPECT_EQ(u"MEMO", BftToStr(bftClob));
  EXPECT_EQ(u"DATETIME", BftToStr(bftDateTime));
  EXPECT_EQ(u"Unknown", BftToStr(bftUnknown));
  EXPECT_EQ(u"Unknown", AftToStr(aftUnknown));
  EXPECT_EQ(ftUnknown, ORBAdvFieldTypeToFieldType(aftUnknown));
  EXPECT_EQ(bftUnknown, AdvancedFieldTypeToBaseFieldType(aftUnknown));
  for (TFieldType ft : {ftFMTBcd, ftVariant, ftADT, ftUnknown})
    EXPECT_EQ(30289, RaisedCode([&] { FieldTypeToORBAdvFieldType(ft); })) << int(ft);
}

// Every user type maps to the storage and framework type of its first row.
TEST(FieldTypesTest, AdvancedTypeMapping) {
  struct Row {
    TORBAdvancedFieldType aft;
    TORBBaseFieldType bft;
    TFieldType ft;
  };
  const Row rows[] = {
      {aftChar, bftChar, ftFixedChar},
      {aftString, bftVarchar, ftString},
      {aftWideChar, bftWideChar, ftWideString},
      {aftWideString, bftWideVarchar, ftWideString},
      {aftShortint, bftSignedInt8, ftSmallint},
      {aftSmallint, bftSignedInt16, ftSmallint},
      {aftInteger, bftSignedInt32, ftInteger},
      {aftLargeint, bftSignedInt64, ftLargeint},
      {aftByte, bftUnsignedInt8, ftWord},
      {aftWord, bftUnsignedInt16, ftWord},
      {aftCardinal, bftUnsignedInt32, ftLargeint},
      {aftAutoInc, bftSignedInt32, ftAutoInc},
      {aftAutoIncShortint, bftSignedInt8, ftAutoInc},
      {aftAutoIncSmallint, bftSignedInt16, ftAutoInc},
      {aftAutoIncInteger, bftSignedInt32, ftAutoInc},
      {aftAutoIncLargeint, bftSignedInt64, ftLargeint},
      {aftAutoIncByte, bftUnsignedInt8, ftAutoInc},
      {aftAutoIncWord, bftUnsignedInt16, ftAutoInc},
      {aftAutoIncCardinal, bftUnsignedInt32, ftAutoInc},
      {aftSingle, bftSingle, ftFloat},
      {aftDouble, bftDouble, ftFloat},
      {aftExtended, bftExtended, ftFloat},
      {aftBoolean, bftLogical, ftBoolean},
      {aftCurrency, bftCurrency, ftCurrency},
      {aftDate, bftDate, ftDate},
      {aftTime, bftTime, ftTime},
      {aftDateTime, bftDateTime, ftDateTime},
      {aftTimeStamp, bftDateTime, ftTimeStamp},
      {aftBytes, bftBytes, ftBytes},
      {aftVarBytes, bftVarBytes, ftVarBytes},
      {aftBlob, bftBlob, ftBlob},
      {aftGraphic, bftBlob, ftGraphic},
      {aftMemo, bftClob, ftMemo},
      {aftFormattedMemo, bftClob, ftFmtMemo},
      {aftWideMemo, bftWideClob, ftWideMemo},
      {aftGuid, bftChar, ftGuid},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(r.bft, AdvancedFieldTypeToBaseFieldType(r.aft)) << int(r.aft);
    EXPECT_EQ(r.ft, ORBAdvFieldTypeToFieldType(r.aft)) << int(r.aft);
  }
}

TEST(FieldTypesTest, Predicates) {
  EXPECT_TRUE(IsBLOBFieldType(bftWideClob));
  EXPECT_FALSE(IsBLOBFieldType(bftBFile));
  EXPECT_TRUE(IsBLOBFieldType(aftGraphic));
  EXPECT_FALSE(IsBLOBFieldType(aftBytes));
  EXPECT_TRUE(IsStringFieldType(aftGuid));
  EXPECT_FALSE(IsSizebleFieldType(aftGuid));
  EXPECT_TRUE(IsSizebleFieldType(aftVarBytes));
  EXPECT_TRUE(IsSizebleFieldType(aftWideString));
  EXPECT_FALSE(IsSizebleFieldType(aftInteger));
  EXPECT_FALSE(IsWideStringFieldType(aftWideMemo));
  EXPECT_TRUE(IsAutoincFieldType(aftAutoInc));
  EXPECT_TRUE(IsAutoincFieldType(aftAutoIncCardinal));
  EXPECT_FALSE(IsAutoincFieldType(aftSingle));
  EXPECT_FALSE(IsAutoincFieldType(aftCardinal));
  EXPECT_TRUE(IsNumericFieldType(bftCurrency));
  EXPECT_TRUE(IsNumericFieldType(aftAutoIncWord));
  EXPECT_FALSE(IsNumericFieldType(aftBoolean));
  EXPECT_FALSE(IsNumericFieldType(bftDate));
  EXPECT_TRUE(IsDateTimeFieldType(aftTimeStamp));
  EXPECT_FALSE(IsDateTimeFieldType(aftInteger));
  for (auto aft : {aftUnknown, aftBytes, aftVarBytes, aftBlob, aftGraphic, aftGuid})
    EXPECT_FALSE(IsConvertableFieldType(aft)) << int(aft);
  for (auto aft : {aftMemo, aftWideMemo, aftDate, aftChar}) EXPECT_TRUE(IsConvertableFieldType(aft)) << int(aft);
}

TEST(FieldTypesTest, DataSizes) {
  struct Row {
    TORBBaseFieldType bft;
    int32_t size;
    int32_t memory;
    int32_t disk;
  };
  const Row rows[] = {
      {bftChar, 20, 21, 21},        {bftVarchar, 20, 21, 21},       {bftWideChar, 20, 42, 42},
      {bftWideVarchar, 20, 42, 42}, {bftBytes, 16, 17, 17},         {bftVarBytes, 0, 1, 1},
      {bftSignedInt8, 99, 1, 1},    {bftUnsignedInt8, 0, 1, 1},     {bftSignedInt16, 0, 2, 2},
      {bftUnsignedInt16, 0, 2, 2},  {bftLogical, 0, 2, 2},          {bftSignedInt32, 0, 4, 4},
      {bftUnsignedInt32, 0, 4, 4},  {bftSingle, 0, 4, 4},           {bftDate, 0, 4, 4},
      {bftTime, 0, 4, 4},           {bftSignedInt64, 0, 8, 8},      {bftDouble, 0, 8, 8},
      {bftExtended, 0, 8, 8},       {bftDateTime, 0, 8, 8},         {bftCurrency, 0, 8, 8},
      {bftBlob, 0, 14, 6},          {bftClob, 0, 14, 6},            {bftWideClob, 0, 14, 6},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(r.memory, GetDataSizeInMemory(r.bft, r.size)) << int(r.bft);
    EXPECT_EQ(r.disk, GetDataSizeOnDisk(r.bft, r.size)) << int(r.bft);
  }
  for (auto bft : {bftUnknown, bftBFile, static_cast<TORBBaseFieldType>(200)})
    EXPECT_EQ(30050, RaisedCode([&] { GetDataSizeInMemory(bft, 10); })) << int(bft);
}

// A size whose layout cannot be represented is refused instead of wrapping.
TEST(FieldTypesTest, UnrepresentableSizesAreRefused) {
  EXPECT_EQ(30053, RaisedCode([] { GetDataSizeInMemory(bftChar, -1); }));
  EXPECT_EQ(30053, RaisedCode([] { GetDataSizeInMemory(bftChar, INT32_MAX); }));
  EXPECT_EQ(30053, RaisedCode([] { GetDataSizeInMemory(bftWideChar, INT32_MAX / 2); }));
  EXPECT_EQ(INT32_MAX - 1, GetDataSizeInMemory(bftWideChar, INT32_MAX / 2 - 1));
}

}  // namespace
}  // namespace orb
