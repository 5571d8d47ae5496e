#include "engine/disk/integrity_tables.h"

#include <cstring>
#include <stdexcept>
#include <utility>
#include <set>
#include <string>
#include <vector>

#include "engine/base/constraint_defs.h"
#include "engine/base/error_codes.h"
#include "engine/base/field_manager.h"
#include "engine/base/index_defs.h"
#include "engine/base/orb_exception.h"
#include "engine/base/record_layout.h"
#include "engine/base/stream_memory.h"
#include "engine/data/btree_record_index.h"
#include "engine/data/index_manager.h"
#include "engine/data/table_data.h"
#include "engine/disk/disk_blob_manager.h"
#include "engine/disk/integrity_context.h"
#include "engine/disk/internal_file.h"
#include "engine/disk/small_record_page.h"
#include "engine/platform/byte_order.h"
#include "engine/table/btree_page_index.h"
#include "engine/table/page.h"
#include "engine/table/page_guard.h"
#include "engine/table/page_header.h"
#include "engine/table/page_manager.h"

namespace orb {

namespace {

using Kind = TORBIntegrityFindingKind;
constexpr int32_t kSession = 0;

// The checked file's pages through the page cache interface, read-only.
// Nothing stays cached, so every page a walk reaches passes through
// InternalReadPage and is noted.
class TCheckPageSource : public TORBPageManager {
 public:
  explicit TCheckPageSource(TORBIntegrityContext& context) : FContext(context) {
    SetPageSizes(context.Layout().PageSize, static_cast<uint16_t>(TORBDiskPageHeader::kSize));
    SetCacheCapacity(0);
    FPageCount = static_cast<int32_t>(context.Layout().ReadablePageCount);
  }
  ~TCheckPageSource() override {
    try {
      DiscardAllPages();
    } catch (...) {
    }
  }
  // Pages read since the last call.
  std::set<int32_t> TakeReadPages() { return std::exchange(FRead, {}); }

 protected:
  void InternalAddPage(TORBPage&) override { ReadOnly(); }
  void InternalRemovePage(int32_t) override { ReadOnly(); }
  void InternalWritePage(TORBPage&) override { ReadOnly(); }
  bool InternalReadPage(TORBPage& page) override {
    const int32_t page_no = page.PageNo();
    bool checksum_ok = true;
    std::vector<uint8_t> bytes;
    if (!FContext.IsReadable(page_no) || !FContext.ReadPage(page_no, bytes, &checksum_ok) || !checksum_ok ||
        bytes.size() < FPageSize)
      return false;
    if (page.FPageBuffer == nullptr) page.AllocPageBuffer();
    std::memcpy(page.FPageBuffer, bytes.data(), FPageSize);
    FRead.insert(page_no);
    return true;
  }

 private:
  [[noreturn]] static void ReadOnly() { RaiseORB(kErrCheckReadOnly, "The database is checked read-only"); }

  TORBIntegrityContext& FContext;
  std::set<int32_t> FRead;
};

// Just enough of a table for its index objects: the fields and the pages.
class TCheckTable : public TORBTableData {
 public:
  explicit TCheckTable(TORBPageManager* pages) : TORBTableData(nullptr, u"") {
    FPageManager = pages;
    FFieldManager = std::make_unique<TORBBaseFieldManager>(this);
    FIndexManager = std::make_unique<TORBBaseIndexManager>(this, nullptr);
  }
  ~TCheckTable() override { FIndexManager.reset(); }

  void CreateRecordManager() override {}
  void CreateTable(TORBCursorInterface*, const TORBFieldDefs&, const TORBIndexDefs&,
                   const TORBConstraintDefs&) override {}
  int64_t GetBitmapRecordCount(int32_t) override { return 0; }
  int64_t GetBitmapRecNoByRecordID(const TORBPageItemID&) override { return 0; }
  TORBPageItemID GetRecordIDByBitmapRecNo(int64_t) override { return {}; }
  void WriteBLOBFieldToRecordBuffer(int32_t, int32_t, TStream&, uint8_t*) override {}
  std::unique_ptr<TStream> InternalCreateBlobStream(TORBCursorInterface*, int32_t, uint8_t*, bool) override {
    return nullptr;
  }
  std::vector<uint8_t> GetDirectBlobData(int32_t, int32_t, const uint8_t*) override { return {}; }
  void SetDirectBlobData(int32_t, int32_t, uint8_t*, const std::vector<uint8_t>&) override {}
  void FreeDirectBlobData(int32_t, int32_t, uint8_t*) override {}
  TORBPageItemID InternalSetRecNo(int32_t, int64_t) override { return {}; }
  int64_t InternalGetRecNo(int32_t, const TORBPageItemID&) override { return 0; }
  int64_t InternalGetRecordCount(int32_t) override { return 0; }
  std::unique_ptr<TORBIndex> CreateIndexObject(const TORBIndexDef&) override { return nullptr; }
};

// The record page index with its page values readable.
class TCheckRecordPageIndex : public TORBBTreeRecordPageIndex {
 public:
  using TORBBTreeRecordPageIndex::TORBBTreeRecordPageIndex;
  using TORBBTreePageIndex::GetPageValue;
};

std::string Num(int64_t value) { return std::to_string(value); }

class TTableWalk {
 public:
  TTableWalk(TORBIntegrityContext& context, const TORBTableListItem& item)
      : FContext(context), FItem(item), FSource(context), FTable(&FSource), FLabel("table '" + item.TableName + "'") {}

  void Run() {
    if (!LoadMetadata()) return;
    LoadStoredRowCount();
    WalkRows();
    WalkBlobPageIndex();
    WalkIndexes();
  }

 private:
  void Finding(int64_t page_no, const std::string& what) {
    FContext.Report().Add(Kind::TableStructure, page_no, FLabel + ": " + what);
  }
  // Claims the pages read since the last call for a new owner.
  void ClaimRead(const std::string& owner, uint16_t page_type) {
    const std::set<int32_t> pages = FSource.TakeReadPages();
    if (pages.empty()) return;
    const int32_t id = FContext.NewOwner(FLabel + " " + owner, page_type);
    for (int32_t page : pages) FContext.Claim(page, id);
  }

  bool LoadMetadata() {
    try {
      TORBInternalDBTransactedAccessFile file(&FSource, kPageTypeTableMetaData);
      file.OpenFile(FItem.MetaDataFilePageNo);
      std::vector<uint8_t> bytes;
      file.ReadAll(kSession, bytes, false);
      FSource.TakeReadPages();  // the system files check owns them
      TORBMemoryStream stream(std::move(bytes));
      stream.SetPosition(0);
      FTable.FieldManager()->LoadMetadata(stream);
      FTable.IndexManager()->LoadMetadata(stream);
      TORBConstraintDefs constraints;
      constraints.LoadFromStream(stream);
      uint8_t roots[8];
      LoadDataFromStream(roots, 8, stream, kErrDiskTableMetadataShort);
      FRecordIndexRoot = LoadI32LE(roots);
      FBlobIndexRoot = LoadI32LE(roots + 4);
      const TORBFieldDefs& fields = FTable.FieldManager()->FieldDefs();
      if (fields.GetCount() == 0) {
        Finding(FItem.MetaDataFilePageNo, "metadata holds no fields");
        return false;
      }
      FDiskRecordSize = fields.GetDiskRecordBufferSize();
      FMaxRecordsOnPage = TORBSmallRecordPage::MaxRecordsOnPage(FSource.GetPageDataSize(), FDiskRecordSize);
      if (FMaxRecordsOnPage <= 0) {
        Finding(FItem.MetaDataFilePageNo, "rows do not fit a page");
        return false;
      }
      return true;
    } catch (const EORBException& e) {
      FSource.TakeReadPages();
      Finding(FItem.MetaDataFilePageNo, std::string("metadata cannot be read: ") + e.what());
      return false;
    }
  }

  void LoadStoredRowCount() {
    try {
      TORBInternalDBTransactedAccessFile file(&FSource, kPageTypeTableMostUpdated);
      file.OpenFile(FItem.MostUpdatedFilePageNo);
      std::vector<uint8_t> bytes;
      file.ReadAll(kSession, bytes, false);
      FSource.TakeReadPages();
      const int64_t size = static_cast<int64_t>(bytes.size());
      if (size < 4) throw std::runtime_error("too short");
      const int64_t slots = LoadI32LE(bytes.data());
      const int64_t count_at = 4 + 8 * slots + 4;
      if (slots < 0 || count_at + 4 > size) throw std::runtime_error("too short");
      FStoredRowCount = LoadU32LE(bytes.data() + count_at);
    } catch (const std::exception& e) {
      FSource.TakeReadPages();
      Finding(FItem.MostUpdatedFilePageNo, std::string("row count cannot be read: ") + e.what());
    }
  }

  void WalkRows() {
    std::vector<int32_t> record_pages;
    TCheckRecordPageIndex page_index(&FSource);
    try {
      page_index.OpenIndex(FRecordIndexRoot);
      page_index.SetMaxRecordsOnPage(FMaxRecordsOnPage);
      page_index.CheckIntegrity(kSession);
      int32_t page_no = -1;
      const int64_t limit = FContext.Layout().TotalPageCount;
      for (bool more = page_index.GetFirstRecordPage(kSession, page_no); more;
           more = page_index.GetNextRecordPage(kSession, page_no, page_no)) {
        if (static_cast<int64_t>(record_pages.size()) >= limit) {
          Finding(FRecordIndexRoot, "record page index does not end");
          break;
        }
        record_pages.push_back(page_no);
      }
    } catch (const EORBException& e) {
      Finding(FRecordIndexRoot, std::string("record page index damaged: ") + e.what());
    }
    ClaimRead("record page index", kPageTypeTableIndex);

    const int32_t record_owner = FContext.NewOwner(FLabel + " record pages", kPageTypeTableRecord);
    const int32_t blob_owner = FContext.NewOwner(FLabel + " BLOB values", kPageTypeTableBlob);
    TORBDiskBlobManager blobs(&FSource, FTable.FieldManager(), nullptr);
    std::vector<uint8_t> disk(static_cast<size_t>(FDiskRecordSize));
    std::vector<uint8_t> memory(static_cast<size_t>(FTable.FieldManager()->GetMemoryRecordBufferSize()));
    const TORBFieldDefs& fields = FTable.FieldManager()->FieldDefs();
    int64_t rows = 0;
    for (int32_t page_no : record_pages) {
      if (!FContext.IsReadable(page_no)) {
        Finding(page_no, "record page outside the file");
        continue;
      }
      FContext.Claim(page_no, record_owner);
      try {
        TORBPageGuard guard = FSource.GetPageGuard(kSession, page_no, kPageTypeTableRecord, false);
        if (guard->ReadHeader().ObjectID != FItem.TableID)
          Finding(page_no, "record page of table " + Num(guard->ReadHeader().ObjectID));
        TORBSmallRecordPage page(guard, FDiskRecordSize, FMaxRecordsOnPage);
        const int32_t count = page.GetRecordCount();
        rows += count;
        int32_t listed = 0;
        if (page_index.GetPageValue(kSession, page_no, listed) && listed != count)
          Finding(page_no, "record page holds " + Num(count) + " rows, its index says " + Num(listed));
        if (count == 0) continue;
        TORBPageItemID id;
        page.GetFirstRecordID(id);
        do {
          if (!page.GetRecordBuffer(id, disk.data())) break;
          FTable.FieldManager()->DiskRecordBufferToMemRecordBuffer(disk.data(), memory.data());
          for (int32_t f = 0; f < fields.GetCount(); ++f) {
            const TORBBaseFieldType type = fields.GetDef(f)->FBaseFieldType;
            if (type != bftBlob && type != bftClob && type != bftWideClob) continue;
            if (CheckNullFlag(f, memory.data())) continue;
            const TORBPageItemID location = LoadPageItemID(memory.data() + fields.GetDef(f)->FMemoryOffset);
            if (location.PageNo == 0 || location.PageNo == -1) continue;
            CheckBlob(blobs, location, page_no, id, blob_owner);
          }
        } while (page.GetNextRecordID(id));
      } catch (const EORBException& e) {
        Finding(page_no, std::string("record page damaged: ") + e.what());
      }
      FSource.TakeReadPages();
    }
    ClaimRead("record pages", kPageTypeTableRecord);
    if (FStoredRowCount >= 0 && rows != FStoredRowCount)
      Finding(FItem.MostUpdatedFilePageNo,
              "row count " + Num(FStoredRowCount) + " differs from the rows stored, " + Num(rows));
  }

  void CheckBlob(TORBDiskBlobManager& blobs, const TORBPageItemID& location, int32_t page_no,
                 const TORBPageItemID& row, int32_t owner) {
    FSource.TakeReadPages();
    const std::string where = "row " + Num(row.PageNo) + ":" + Num(row.PageItemNo) + ": BLOB value at page " +
                              Num(location.PageNo);
    try {
      TORBDiskBLOBCache value;
      if (!blobs.LoadValue(kSession, location, value)) Finding(page_no, where + " not found");
    } catch (const EORBException& e) {
      Finding(location.PageNo, where + " damaged: " + e.what());
    }
    for (int32_t page : FSource.TakeReadPages())
      if (FContext.OwnerOf(page) != owner) FContext.Claim(page, owner);
  }

  void WalkBlobPageIndex() {
    if (FBlobIndexRoot < 0) return;
    try {
      TORBBTreeBlobPageIndex index(&FSource);
      index.OpenIndex(FBlobIndexRoot);
      index.CheckIntegrity(kSession);
    } catch (const EORBException& e) {
      Finding(FBlobIndexRoot, std::string("BLOB page index damaged: ") + e.what());
    }
    ClaimRead("BLOB page index", kPageTypeTableIndex);
  }

  void WalkIndexes() {
    TORBBaseIndexManager* indexes = FTable.IndexManager();
    for (int32_t i = 0; i < indexes->IndexDefs().GetCount(); ++i) {
      const TORBIndexDef* def = indexes->IndexDefs().GetIndexDef(i);
      if (def->FTemporary) continue;
      const std::string name = "index '" + def->GetName() + "'";
      try {
        auto* index = dynamic_cast<TORBBTreeRecordIndex*>(indexes->OpenIndex(def->FObjectID));
        if (index != nullptr) index->CheckIntegrity(kSession);
      } catch (const EORBException& e) {
        Finding(def->FRootPageNo, name + " damaged: " + e.what());
      }
      ClaimRead(name, kPageTypeTableIndex);
    }
  }

  TORBIntegrityContext& FContext;
  const TORBTableListItem& FItem;
  TCheckPageSource FSource;
  TCheckTable FTable;
  std::string FLabel;
  int32_t FRecordIndexRoot = -1;
  int32_t FBlobIndexRoot = -1;
  int32_t FDiskRecordSize = 0;
  int32_t FMaxRecordsOnPage = 0;
  int64_t FStoredRowCount = -1;
};

}  // namespace

void TORBTableStructuresCheck::Run(TORBIntegrityContext& context) {
  for (const TORBTableListItem& item : std::vector<TORBTableListItem>(context.Tables())) {
    TTableWalk walk(context, item);
    walk.Run();
  }
}

TORBIntegrityReport CheckDatabaseWithTables(const std::u16string& file_name, const TORBIntegrityCheckOptions& options) {
  TORBIntegrityChecker checker;
  checker.AddStep(std::make_unique<TORBTableStructuresCheck>());
  return checker.Check(file_name, options);
}

}  // namespace orb
