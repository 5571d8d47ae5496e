// A random run of inserts, updates and deletes through the table data on
// three record indexes (unique ascending ID, descending VAL, NAME cut to
// 20 of 40 characters), compared with a model after every batch.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "engine/base/error_codes.h"
#include "tests/engine/data/record_index_fixture.h"

namespace orb::test {
namespace {

struct Row {
  int32_t id;
  std::optional<int32_t> val;
  std::optional<std::string> name;
};

class RecordIndexRandomTest : public RecordIndexFixture, public ::testing::WithParamInterface<uint32_t> {
 protected:
  // IDs of the model's rows in each index's order (equal keys by slot).
  std::vector<int32_t> Expected(const std::string& index) const {
    std::vector<std::pair<int32_t, Row>> rows(FModel.begin(), FModel.end());
    auto key_less = [&](const Row& a, const Row& b) -> int {
      if (index == "U_ID") return a.id < b.id ? -1 : a.id > b.id;
      if (index == "BY_VAL") {  // descending: nulls last
        if (a.val == b.val) return 0;
        if (!a.val) return 1;
        if (!b.val) return -1;
        return *a.val > *b.val ? -1 : 1;
      }
      if (a.name == b.name) return 0;  // ascending: nulls first
      if (!a.name) return -1;
      if (!b.name) return 1;
      return *a.name < *b.name ? -1 : 1;
    };
    std::sort(rows.begin(), rows.end(), [&](const auto& a, const auto& b) {
      const int c = key_less(a.second, b.second);
      return c != 0 ? c < 0 : a.first < b.first;
    });
    std::vector<int32_t> ids;
    for (const auto& r : rows) ids.push_back(r.second.id);
    return ids;
  }
  bool IdTaken(int32_t id, int32_t except_slot) const {
    for (const auto& [slot, row] : FModel)
      if (row.id == id && slot != except_slot) return true;
    return false;
  }

  std::map<int32_t, Row> FModel;  // by slot
};

TEST_P(RecordIndexRandomTest, IndexesFollowTheModel) {
  TORBIndexDefs indexes;
  AddIndex(indexes, "U_ID", {{u"ID"}}, true);
  AddIndex(indexes, "BY_VAL", {{u"VAL", true}});
  AddIndex(indexes, "BY_NAME", {{u"NAME"}});
  Create(indexes);
  FakeCursor cursor(FTable);
  std::mt19937 rng(GetParam());
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<uint32_t>(n)); };
  const std::vector<std::string> prefixes = {"aaaaaaaaaaaaaaaaaaaa", "aaaaaaaaaaaaaaaaaaab", "b", ""};
  auto random_row = [&]() {
    Row row{pick(400), std::nullopt, std::nullopt};
    if (pick(10) != 0) row.val = pick(40);
    if (pick(8) != 0) {
      std::string name = prefixes[static_cast<size_t>(pick(4))];
      const int extra = pick(21);
      for (int i = 0; i < extra && name.size() < 40; ++i) name += static_cast<char>('a' + pick(3));
      row.name = name;
    }
    return row;
  };
  int max_depth = 0;
  for (int batch = 0; batch < 25; ++batch) {
    const bool grow = batch < 12;
    for (int op = 0; op < 40; ++op) {
      const int kind = pick(10);
      if (FModel.empty() || kind < (grow ? 6 : 3)) {
        const Row row = random_row();
        const bool taken = IdTaken(row.id, -1);
        const int32_t code = Add(cursor, row.id, row.val, row.name);
        ASSERT_EQ(code, taken ? kErrIndexDuplicateKey : 0);
        if (!taken) FModel[cursor.GetCurrentRecordID().PageNo] = row;
        continue;
      }
      auto it = std::next(FModel.begin(), pick(static_cast<int>(FModel.size())));
      const int32_t slot = it->first;
      MoveTo(cursor, slot);
      if (kind < (grow ? 8 : 6)) {
        cursor.FEdit = cursor.FCurrent;
        Row row = it->second;
        const Row fresh = random_row();
        switch (pick(4)) {
          case 0: row.id = fresh.id; break;
          case 1: row.val = fresh.val; break;
          case 2: row.name = fresh.name; break;
          default: row = fresh; break;
        }
        uint8_t* record = cursor.GetCurrentRecordBuffer();
        SetInt(*FTable, record, kID, row.id);
        SetInt(*FTable, record, kVal, row.val);
        SetName(record, row.name);
        const bool taken = IdTaken(row.id, slot);
        int32_t code = 0;
        try {
          EXPECT_TRUE(FTable->UpdateRecord(&cursor));
        } catch (const EORBException& e) {
          code = e.NativeError();
        }
        ASSERT_EQ(code, taken ? kErrIndexDuplicateKey : 0);
        if (!taken) it->second = row;
      } else {
        ASSERT_TRUE(FTable->DeleteRecord(&cursor));
        FModel.erase(it);
      }
    }
    if (batch % 3 == 0) FPages.ApplyChanges(0);
    for (const char* name : {"U_ID", "BY_VAL", "BY_NAME"}) {
      Index(name)->CheckIntegrity(0);
      max_depth = std::max(max_depth, Index(name)->GetDepth(0));
      const std::vector<int32_t> expected = Expected(name);
      ASSERT_EQ(WalkIndex(cursor, name), expected) << name << " batch " << batch;
      ASSERT_EQ(WalkIndex(cursor, name, false), std::vector<int32_t>(expected.rbegin(), expected.rend())) << name;
    }
  }
  // The run went through splits into deeper trees and back.
  EXPECT_GE(max_depth, 2);
}

INSTANTIATE_TEST_SUITE_P(Seeds, RecordIndexRandomTest, ::testing::Values(1u, 2u, 3u));

}  // namespace
}  // namespace orb::test
