#include "engine/base/field_manager.h"

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/base/orb_exception.h"
#include "tests/support/raised.h"
#include "engine/base/field_data.h"
#include "engine/base/stream_memory.h"
#include "engine/base/variant.h"

namespace orb {
namespace {

using test::RaisedCode;

class FakeSession : public TORBAutoincSession {
 public:
  explicit FakeSession(bool multi_user) : FMultiUser(multi_user) {}
  bool IsMultiUser() const override { return FMultiUser; }
  void SetSequenceLastValue(int32_t object_id, std::string_view, int64_t value) override { FValues[object_id] = value; }
  bool GetSequenceLastValue(int32_t object_id, int64_t& value) const override {
    auto it = FValues.find(object_id);
    if (it == FValues.end()) return false;
    value = it->second;
    return true;
  }

 private:
  bool FMultiUser;
  std::map<int32_t, int64_t> FValues;
};

class FieldManagerTest : public ::testing::Test {
 protected:
  TORBFieldDef* Add(const char* name, TORBAdvancedFieldType aft, int32_t size = 0) {
    TORBFieldDef* def = FManager.FieldDefs().AddCreated();
    def->SetName(std::string_view(name));
    def->FObjectID = 100 + FManager.FieldDefs().GetCount();
    def->SetFieldDefDataType(aft, size);
    return def;
  }
  void Ready() {
    FManager.RecalcFieldOffsets();
    FManager.InitLastAutoIncValues();
  }
  std::vector<uint8_t> NewRecord() {
    std::vector<uint8_t> r(FManager.GetMemoryRecordBufferSize(), 0);
    for (int i = 0; i < FManager.FieldDefs().GetCount(); ++i) SetNullFlag(true, i, r.data());
    return r;
  }
  const uint8_t* FieldData(const std::vector<uint8_t>& r, int i) {
    return r.data() + FManager.FieldDefs().GetDef(i)->FMemoryOffset;
  }

  TORBBaseFieldManager FManager{nullptr};
};

TEST_F(FieldManagerTest, AutoincIncrementMaximumAndCycle) {
  Add("id", aftAutoInc);
  TORBFieldDef* capped = Add("capped", aftAutoInc);
  capped->FAutoincIncrement = 5;
  capped->FAutoincInitialValue = 10;
  capped->FAutoincMaxValue = 20;
  TORBFieldDef* cycled = Add("cycled", aftAutoInc);
  cycled->FAutoincIncrement = 5;
  cycled->FAutoincInitialValue = 10;
  cycled->FAutoincMaxValue = 20;
  cycled->FAutoincMinValue = 1;
  cycled->FAutoincCycled = true;
  Add("zero_step", aftAutoIncLargeint)->FAutoincIncrement = 0;
  Ready();

  EXPECT_EQ(1, FManager.GetNextAutoincVal(0));
  EXPECT_EQ(2, FManager.GetNextAutoincVal(0));
  EXPECT_EQ(15, FManager.GetNextAutoincVal(1));
  EXPECT_EQ(20, FManager.GetNextAutoincVal(1));
  try {
    FManager.GetNextAutoincVal(1);
    ADD_FAILURE();
  } catch (const EORBException& e) {
    EXPECT_EQ(20160, e.NativeError());
    EXPECT_NE(std::string::npos, std::string(e.what()).find("Autoinc max value exceeded for field 'capped'"));
  }
  EXPECT_EQ(25, FManager.LastAutoIncValues()[1]);
  for (int64_t expected : {15, 20, 1, 6}) EXPECT_EQ(expected, FManager.GetNextAutoincVal(2));
  EXPECT_EQ(1, FManager.GetNextAutoincVal(3));
  EXPECT_EQ(30402, RaisedCode([&] { FManager.GetNextAutoincVal(4); }));
  EXPECT_EQ(30402, RaisedCode([&] { FManager.GetNextAutoincVal(-1); }));
}

// A narrow field stops at its own largest value instead of wrapping.
TEST_F(FieldManagerTest, AutoincStaysInsideTheFieldsRange) {
  struct Row {
    TORBAdvancedFieldType aft;
    int64_t type_max;
  };
  for (Row r : {Row{aftAutoIncShortint, 127}, Row{aftAutoIncByte, 255}, Row{aftAutoIncSmallint, 32767},
                Row{aftAutoIncWord, 65535}, Row{aftAutoIncCardinal, 4294967295LL}, Row{aftAutoInc, 2147483647},
                Row{aftAutoIncLargeint, INT64_MAX}}) {
    TORBBaseFieldManager m(nullptr);
    TORBFieldDef* def = m.FieldDefs().AddCreated();
    def->SetName(std::string_view("n"));
    def->SetFieldDefDataType(r.aft, 0);
    def->FAutoincInitialValue = r.type_max - 1;
    m.RecalcFieldOffsets();
    m.InitLastAutoIncValues();
    EXPECT_EQ(r.type_max, m.GetNextAutoincVal(0)) << int(r.aft);
    EXPECT_EQ(20160, RaisedCode([&] { m.GetNextAutoincVal(0); })) << int(r.aft);
    EXPECT_EQ(20160, RaisedCode([&] { m.GetNextAutoincVal(0); })) << int(r.aft);
    // Cycling restarts inside the range.
    def->FAutoincCycled = true;
    def->FAutoincMinValue = 3;
    EXPECT_EQ(3, m.GetNextAutoincVal(0)) << int(r.aft);
  }
}

TEST_F(FieldManagerTest, AutoincsAppliedToRecords) {
  Add("id", aftAutoIncSmallint);
  Add("name", aftString, 10);
  Add("small", aftAutoIncShortint);
  Ready();
  FakeSession session(false);

  auto r1 = NewRecord();
  FManager.ApplyAutoincsToRecordBuffer(&session, r1.data());
  EXPECT_FALSE(CheckNullFlag(0, r1.data()));
  EXPECT_TRUE(CheckNullFlag(1, r1.data()));
  EXPECT_EQ(1, ReadStoredInteger(bftSignedInt16, FieldData(r1, 0)));
  EXPECT_EQ(1, ReadStoredInteger(bftSignedInt8, FieldData(r1, 2)));
  EXPECT_EQ(1, FManager.GetLastAutoinc(&session, 0));

  // A user-supplied value moves the sequence forward (autoincs travel as
  // 32-bit host integers).
  auto r2 = NewRecord();
  const int32_t supplied = 100;
  SetFieldData(0, FManager.FieldDefs(), &supplied, r2.data());
  FManager.ApplyAutoincsToRecordBuffer(&session, r2.data());
  EXPECT_EQ(100, FManager.GetLastAutoinc(&session, 0));
  EXPECT_EQ(101, FManager.GetNextAutoincVal(0));

  // A negative value in a signed field is a negative number, not 255.
  auto r3 = NewRecord();
  const int32_t minus_one = -1;
  SetFieldData(2, FManager.FieldDefs(), &minus_one, r3.data());
  FManager.ApplyAutoincsToRecordBuffer(&session, r3.data());
  EXPECT_EQ(2, FManager.LastAutoIncValues()[2]);
  EXPECT_EQ(3, FManager.GetNextAutoincVal(2));

  // A smaller supplied value changes nothing (r3 took 102).
  FManager.UpdateLastAutoinc(&session, 0, 50);
  EXPECT_EQ(102, FManager.LastAutoIncValues()[0]);
}

TEST_F(FieldManagerTest, LastAutoincPerSession) {
  Add("id", aftAutoInc);
  Add("name", aftString, 10);
  Ready();
  FakeSession single(false), multi(true), other(true);
  EXPECT_EQ(0, FManager.GetLastAutoinc(&single, 0));
  EXPECT_EQ(0, FManager.GetLastAutoinc(&single, 1));
  try {
    FManager.GetLastAutoinc(&multi, 0);
    ADD_FAILURE();
  } catch (const EORBException& e) {
    EXPECT_EQ(30012, e.NativeError());
    EXPECT_NE(std::string::npos, std::string(e.what()).find("sequence 'id'"));
  }
  EXPECT_EQ(1, FManager.GetNextAutoinc(&multi, 0));
  EXPECT_EQ(2, FManager.GetNextAutoinc(&other, 0));
  EXPECT_EQ(1, FManager.GetLastAutoinc(&multi, 0));
  EXPECT_EQ(2, FManager.GetLastAutoinc(&other, 0));
  EXPECT_EQ(2, FManager.GetLastAutoinc(&single, 0));
  EXPECT_EQ(10437, RaisedCode([&] { FManager.GetLastAutoinc(&single, 2); }));
}

TEST_F(FieldManagerTest, MostUpdatedBlock) {
  Add("a", aftAutoInc)->FAutoincInitialValue = 7;
  Add("b", aftString, 4);
  Add("c", aftAutoIncLargeint)->FAutoincInitialValue = -3;
  Ready();
  EXPECT_EQ((std::vector<int64_t>{7, 0, -3}), FManager.LastAutoIncValues());
  std::vector<uint8_t> buffer(2 + FManager.MostUpdatedSize(), 0xEE);
  int32_t offset = 2;
  FManager.SaveMostUpdated(buffer, offset);
  EXPECT_EQ(static_cast<int32_t>(buffer.size()), offset);
  const uint8_t head[] = {0xEE, 0xEE, 3, 0, 0, 0, 7, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(0, std::memcmp(head, buffer.data(), sizeof head));

  TORBBaseFieldManager other(nullptr);
  offset = 2;
  other.LoadMostUpdated(buffer, offset);
  EXPECT_EQ(FManager.LastAutoIncValues(), other.LastAutoIncValues());
  EXPECT_EQ(static_cast<int32_t>(buffer.size()), offset);

  // A count that runs past the buffer is refused.
  buffer[2] = 4;
  offset = 2;
  EXPECT_EQ(10436, RaisedCode([&] { other.LoadMostUpdated(buffer, offset); }));
  buffer[2] = 0xFF;
  buffer[5] = 0xFF;  // negative
  EXPECT_EQ(10436, RaisedCode([&] { other.LoadMostUpdated(buffer, offset); }));
  EXPECT_EQ(2, offset);
  std::vector<uint8_t> small(10);
  offset = 0;
  EXPECT_EQ(10436, RaisedCode([&] { FManager.SaveMostUpdated(small, offset); }));
}

TEST_F(FieldManagerTest, RecordFormsAndComparison) {
  Add("numero", aftInteger);
  Add("info", aftFormattedMemo)->FBLOBBlockSize = 0;
  Add("tab1", aftString, 20);
  Ready();
  EXPECT_EQ(1 + 4 + 14 + 21, FManager.GetMemoryRecordBufferSize());
  EXPECT_EQ(1 + 4 + 6 + 21, FManager.GetDiskRecordBufferSize());
  EXPECT_EQ(10421, RaisedCode([&] { FManager.BlobFieldsPresent(); }));
  FManager.FieldDefs().GetDef(1)->FBLOBBlockSize = 4096;
  EXPECT_TRUE(FManager.BlobFieldsPresent());

  auto mem = NewRecord();
  SetFieldData(2, FManager.FieldDefs(), "tab", mem.data());
  uint8_t* slot = mem.data() + FManager.FieldDefs().GetDef(1)->FMemoryOffset;
  for (int i = 0; i < 14; ++i) slot[i] = static_cast<uint8_t>(i + 1);
  SetNullFlag(false, 1, mem.data());

  std::vector<uint8_t> disk(FManager.GetDiskRecordBufferSize(), 0xEE);
  FManager.MemRecordBufferToDiskRecordBuffer(mem.data(), disk.data());
  EXPECT_EQ(0x01, disk[0]);
  EXPECT_EQ(0, std::memcmp(disk.data() + 5, "\x01\x02\x03\x04\x05\x06tab\0", 10));

  std::vector<uint8_t> back(FManager.GetMemoryRecordBufferSize(), 0xEE);
  FManager.DiskRecordBufferToMemRecordBuffer(disk.data(), back.data());
  EXPECT_TRUE(FManager.CompareRecordBuffers(mem.data(), back.data()));
  EXPECT_EQ(0, back[5 + 6]);  // cache reference not restored
  back[FManager.FieldDefs().GetDef(2)->FMemoryOffset] = 'T';
  EXPECT_FALSE(FManager.CompareRecordBuffers(mem.data(), back.data()));

  TORBBaseFieldManager no_blobs(nullptr);
  EXPECT_FALSE(no_blobs.BlobFieldsPresent());
}

class ConstantExpr : public TORBDefaultValueExpr {
 public:
  explicit ConstantExpr(int32_t v) : v_(v) {}
  void Evaluate(TORBVariant& result) override { result.SetAsInteger(v_); }

 private:
  int32_t v_;
};

TEST_F(FieldManagerTest, DefaultValues) {
  Add("n", aftSmallint)->FDefaultValue.SetAsSmallint(-4);
  Add("s", aftString, 3)->FDefaultValue.SetAsAnsiString("abcdef");
  Add("d", aftDate)->FDefaultValue.SetAsAnsiString("2024-05-17");
  Add("m", aftMemo)->FDefaultValue.SetAsAnsiString("memo");
  Add("none", aftInteger);
  Add("empty", aftString, 5)->FDefaultValue.SetAsAnsiString("");
  TORBFieldDef* computed = Add("e", aftLargeint);
  computed->FDefaultValue.SetAsAnsiString("expr");
  computed->FDefaultValueExpr = std::make_unique<ConstantExpr>(-9);
  Ready();

  auto r = NewRecord();
  FManager.ApplyDefaultValuesToRecordBuffer(nullptr, r.data());
  EXPECT_FALSE(CheckNullFlag(0, r.data()));
  EXPECT_EQ(-4, ReadStoredInteger(bftSignedInt16, FieldData(r, 0)));
  EXPECT_FALSE(CheckNullFlag(1, r.data()));
  EXPECT_EQ(0, std::memcmp("abc", FieldData(r, 1), 4));  // cut to the field, terminated
  EXPECT_FALSE(CheckNullFlag(2, r.data()));
  EXPECT_EQ(739023, ReadStoredInteger(bftSignedInt32, FieldData(r, 2)));
  EXPECT_TRUE(CheckNullFlag(3, r.data()));
  EXPECT_TRUE(CheckNullFlag(4, r.data()));
  EXPECT_TRUE(CheckNullFlag(5, r.data()));
  EXPECT_FALSE(CheckNullFlag(6, r.data()));
  EXPECT_EQ(-9, ReadStoredInteger(bftSignedInt64, FieldData(r, 6)));
}

TEST_F(FieldManagerTest, DefaultThatDoesNotConvertIsRefused) {
  Add("d", aftDate)->FDefaultValue.SetAsAnsiString("CURRENT_DATE");
  Ready();
  auto r = NewRecord();
  try {
    FManager.ApplyDefaultValuesToRecordBuffer(nullptr, r.data());
    ADD_FAILURE();
  } catch (const EORBException& e) {
    EXPECT_EQ(10433, e.NativeError());
    EXPECT_NE(std::string::npos, std::string(e.what()).find("field 'd'")) << e.what();
  }
  EXPECT_TRUE(CheckNullFlag(0, r.data()));
}

TEST_F(FieldManagerTest, MetadataRoundTripResetsLastValues) {
  Add("id", aftAutoInc)->FAutoincInitialValue = 41;
  Add("tab1", aftString, 20);
  Ready();
  FManager.GetNextAutoincVal(0);
  TORBMemoryStream stream;
  FManager.SaveMetadata(stream);
  stream.SetPosition(0);
  TORBBaseFieldManager loaded(nullptr);
  loaded.LoadMetadata(stream);
  ASSERT_EQ(2, loaded.FieldDefs().GetCount());
  EXPECT_EQ(5, loaded.FieldDefs().GetDef(1)->FMemoryOffset);
  EXPECT_EQ((std::vector<int64_t>{41, 0}), loaded.LastAutoIncValues());
  EXPECT_EQ(42, loaded.GetNextAutoincVal(0));
}

}  // namespace
}  // namespace orb
