#pragma once

// A table of integer fields ID and VAL on the fake engine, with helpers to
// fill it and to read what a cursor stands on.

#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "tests/engine/data/fake_engine.h"
#include "tests/engine/data/mem_page_manager.h"

namespace orb::test {

class TableFixture : public ::testing::Test {
 protected:
  static constexpr int32_t kID = 0;
  static constexpr int32_t kVal = 1;

  // Creates table T with fields ID and VAL and the given indexes and
  // constraints.
  void CreateTable(const TORBIndexDefs& index_defs = TORBIndexDefs(),
                   const TORBConstraintDefs& constraint_defs = TORBConstraintDefs()) {
    TORBFieldDefs fields;
    AddIntField(fields, u"ID");
    AddIntField(fields, u"VAL");
    CreateTableWith(fields, index_defs, constraint_defs);
  }
  void CreateTableWith(const TORBFieldDefs& fields, const TORBIndexDefs& index_defs,
                       const TORBConstraintDefs& constraint_defs) {
    auto table = std::make_unique<FakeTableData>(&FDatabase, u"T");
    if (FRecordIndexes) table->UseRecordIndexes(&FPages);
    FTable = static_cast<FakeTableData*>(FDatabase.AddTableData(std::move(table)));
    FTable->CreateTable(nullptr, fields, index_defs, constraint_defs);
    // Indexes made without a cursor belong to the system session until
    // applied, as the engines do after creating a table.
    if (FRecordIndexes) FPages.ApplyChanges(TORBPageManager::kSystemSession);
  }

  // Inserts (id, val) through `cursor`; returns the record's slot.
  int32_t Insert(FakeCursor& cursor, std::optional<int32_t> id, std::optional<int32_t> val) {
    SetInt(*FTable, cursor.GetCurrentRecordBuffer(), kID, id);
    SetInt(*FTable, cursor.GetCurrentRecordBuffer(), kVal, val);
    EXPECT_TRUE(FTable->InsertRecord(&cursor));
    return cursor.GetCurrentRecordID().PageNo;
  }
  // Moves the cursor onto the record in `slot` and reads it.
  void MoveTo(FakeCursor& cursor, int32_t slot) {
    cursor.SetFirstPosition(false);
    cursor.SetLastPosition(false);
    cursor.SetCurrentRecordID({slot, 0});
    ASSERT_EQ(FTable->GetRecordBuffer(&cursor, grmCurrent), grrOK);
  }
  // IDs of the records the cursor walks through from BOF (or from EOF
  // backwards).
  std::vector<int32_t> Walk(FakeCursor& cursor, bool forward = true) {
    std::vector<int32_t> ids;
    if (forward)
      cursor.First();
    else
      cursor.Last();
    while (FTable->GetRecordBuffer(&cursor, forward ? grmNext : grmPrior) == grrOK)
      ids.push_back(*GetInt(*FTable, cursor.GetCurrentRecordBuffer(), kID));
    return ids;
  }
  int32_t IndexID(const std::string& name) const {
    return FTable->IndexManager()->IndexDefs().GetIndexDefByName(std::string_view(name))->FObjectID;
  }
  std::optional<int32_t> StoredVal(int32_t slot) const {
    return GetInt(*FTable, FTable->Records()->FSlots.at(static_cast<size_t>(slot))->data(), kVal);
  }

  // Indexes are B-tree record indexes on FPages instead of fake ones.
  bool FRecordIndexes = false;
  MemPageManager FPages;
  FakeDatabaseData FDatabase;
  FakeTableData* FTable = nullptr;
};

}  // namespace orb::test
