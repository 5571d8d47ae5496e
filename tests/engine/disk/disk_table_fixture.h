#pragma once

// A database file in a temp folder with one table's field manager and
// record manager over it, for the record and BLOB storage tests.

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/base/field_manager.h"
#include "engine/base/record_layout.h"
#include "engine/disk/disk_page_manager.h"
#include "engine/disk/disk_record_manager.h"
#include "engine/disk/free_space.h"
#include "engine/platform/byte_order.h"
#include "tests/support/disk_scratch.h"

namespace orb::testing {

inline constexpr int32_t kSession = 1;
inline constexpr int32_t kTableID = 77;

struct FieldSpec {
  const char* Name;
  TORBAdvancedFieldType Type;
  int32_t Size;
};

class DiskTable {
 public:
  DiskTable(uint16_t page_size, const std::vector<FieldSpec>& fields, const std::string& password = "",
            int32_t table_id = kTableID)
      : FPageSize(page_size) {
    TORBPassword pw;
    pw.Password = password;
    FPm.CreateAndOpenDatabase(FDir.WFile("t.orb"), pw, page_size, 8);
    for (const FieldSpec& f : fields) {
      TORBFieldDef* def = FFields.FieldDefs().AddCreated();
      def->SetName(std::string_view(f.Name));
      def->FObjectID = 100 + FFields.FieldDefs().GetCount();
      def->SetFieldDefDataType(f.Type, f.Size);
    }
    FFields.RecalcFieldOffsets();
    FFields.InitLastAutoIncValues();
    FRecords = std::make_unique<TORBDiskRecordManager>(&FPm, &FFields, table_id);
    FRecords->Init(FFields.GetMemoryRecordBufferSize(), FFields.GetDiskRecordBufferSize(),
                   FFields.FieldDefs().GetCount());
    FRecords->CreateRecordPageIndex();
    FPm.ApplyChanges(TORBPageManager::kSystemSession);
  }
  ~DiskTable() { FRecords.reset(); }

  // A record with every field null but the first, an integer.
  std::vector<uint8_t> Row(int32_t key) const {
    std::vector<uint8_t> r(static_cast<size_t>(FFields.GetMemoryRecordBufferSize()), 0);
    for (int i = 0; i < FFields.FieldDefs().GetCount(); ++i) SetNullFlag(true, i, r.data());
    SetNullFlag(false, 0, r.data());
    StoreI32LE(r.data() + FFields.FieldDefs().GetDef(0)->FMemoryOffset, key);
    return r;
  }
  int32_t Key(const std::vector<uint8_t>& r) const {
    return LoadI32LE(r.data() + FFields.FieldDefs().GetDef(0)->FMemoryOffset);
  }
  TORBPageItemID Add(int32_t key, int32_t session = kSession) {
    TORBPageItemID id;
    std::vector<uint8_t> r = Row(key);
    EXPECT_TRUE(FRecords->AddRecord(session, r.data(), id));
    return id;
  }
  // Pages the free-space map marks in use.
  int32_t UsedPages() {
    int32_t used = 0;
    const int32_t total = FPm.GetPageCount();
    for (int32_t p = 0; p < total; ++p) used += FPm.FreeSpaceManager()->GetPageUsageFromPFS(p) ? 1 : 0;
    return used;
  }
  std::string File() const { return FDir.File("t.orb"); }
  int64_t PageOffset(int32_t page_no) const { return FPm.GetPageOffset(page_no); }

  uint16_t FPageSize;
  DiskScratch FDir;
  TORBDiskPageManager FPm;
  TORBBaseFieldManager FFields{nullptr};
  std::unique_ptr<TORBDiskRecordManager> FRecords;
};

}  // namespace orb::testing
