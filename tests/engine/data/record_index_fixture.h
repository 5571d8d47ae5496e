#pragma once

// A table of ID, VAL (integers) and NAME (VARCHAR(40)) whose indexes are
// B-tree record indexes on an in-memory page store.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "engine/data/btree_record_index.h"
#include "engine/data/scan_condition.h"
#include "tests/engine/data/table_fixture.h"

namespace orb::test {

struct Column {
  std::u16string name;
  bool descending = false;
  bool case_insensitive = false;
  int32_t max_indexed_size = 20;
};

class RecordIndexFixture : public TableFixture {
 protected:
  static constexpr int32_t kName = 2;

  void SetUp() override { FRecordIndexes = true; }

  static TORBIndexDef* AddIndex(TORBIndexDefs& defs, const std::string& name, const std::vector<Column>& columns,
                                bool unique = false) {
    TORBIndexDef* d = defs.AddCreated();
    d->SetName(std::string_view(name));
    d->SetColumnCount(static_cast<int32_t>(columns.size()));
    for (size_t i = 0; i < columns.size(); ++i) {
      TORBIndexColumn* c = d->GetIndexColumn(static_cast<int32_t>(i));
      c->SetFieldName(columns[i].name);
      c->FDescending = columns[i].descending;
      c->FCaseInsensitive = columns[i].case_insensitive;
      c->FMaxIndexedSize = columns[i].max_indexed_size;
    }
    d->FUnique = unique;
    return d;
  }

  void Create(const TORBIndexDefs& indexes) {
    TORBFieldDefs fields;
    AddIntField(fields, u"ID");
    AddIntField(fields, u"VAL");
    TORBFieldDef* name = fields.AddCreated();
    name->SetName(std::u16string_view(u"NAME"));
    name->SetFieldDefDataType(aftString, 40);
    CreateTableWith(fields, indexes, TORBConstraintDefs());
  }

  void SetName(uint8_t* record, const std::optional<std::string>& name) const {
    const TORBFieldDef* f = FTable->FieldManager()->FieldDefs().GetDef(kName);
    SetNullFlag(!name.has_value(), kName, record);
    std::memset(record + f->FMemoryOffset, 0, static_cast<size_t>(f->FMemoryDataSize));
    if (name) std::memcpy(record + f->FMemoryOffset, name->data(), std::min<size_t>(name->size(), 40));
  }
  std::optional<std::string> GetName(const uint8_t* record) const {
    if (CheckNullFlag(kName, record)) return std::nullopt;
    return std::string(
        reinterpret_cast<const char*>(record + FTable->FieldManager()->FieldDefs().GetDef(kName)->FMemoryOffset));
  }
  // A record buffer with the three fields.
  std::vector<uint8_t> Record(std::optional<int32_t> id, std::optional<int32_t> val,
                              std::optional<std::string> name) const {
    std::vector<uint8_t> record(static_cast<size_t>(FTable->GetRecordBufferSize()), 0);
    SetInt(*FTable, record.data(), kID, id);
    SetInt(*FTable, record.data(), kVal, val);
    SetName(record.data(), name);
    return record;
  }
  // Inserts through the table data; returns the raised code (0: stored).
  int32_t Add(FakeCursor& cursor, std::optional<int32_t> id, std::optional<int32_t> val,
              std::optional<std::string> name = std::nullopt) {
    const std::vector<uint8_t> record = Record(id, val, name);
    std::memcpy(cursor.GetCurrentRecordBuffer(), record.data(), record.size());
    int32_t code = 0;
    try {
      EXPECT_TRUE(FTable->InsertRecord(&cursor));
    } catch (const EORBException& e) {
      code = e.NativeError();
    }
    return code;
  }
  TORBBTreeRecordIndex* Index(const std::string& name) const {
    return static_cast<TORBBTreeRecordIndex*>(FTable->IndexManager()->OpenIndex(IndexID(name)));
  }
  // IDs in the index's order, walked by the table's navigation.
  std::vector<int32_t> WalkIndex(FakeCursor& cursor, const std::string& name, bool forward = true) {
    cursor.SetIndex(IndexID(name));
    std::vector<int32_t> ids = Walk(cursor, forward);
    cursor.SetIndex(-1);
    return ids;
  }
};

}  // namespace orb::test
