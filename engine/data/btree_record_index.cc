#include "engine/data/btree_record_index.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>
#include <vector>

#include "engine/base/error_codes.h"
#include "engine/base/orb_exception.h"
#include "engine/data/cursor_interface.h"
#include "engine/data/index_manager.h"
#include "engine/data/record_bitmap.h"
#include "engine/data/record_manager.h"
#include "engine/data/scan_condition.h"
#include "engine/data/table_data.h"
#include "engine/table/btree_builder.h"
#include "engine/table/btree_page.h"
#include "engine/table/page_manager.h"

namespace orb {

namespace {

constexpr int32_t kErrDeleteEntryOnDelete = 20027;
constexpr int32_t kErrGetRecordCurrentMode = 20053;
constexpr int32_t kErrInvalidPosition = 20068;
constexpr int32_t kErrEmptyIndexRecNo = 20074;
constexpr int32_t kErrRecNoTooLarge = 20075;
constexpr int32_t kErrDistinctNoBitmap = 20076;
constexpr int32_t kErrNoSearchInfo = 20077;
constexpr int32_t kErrSearchParams = 20078;
constexpr int32_t kErrRootDrop = 20119;
constexpr int32_t kErrRootEmpty = 20120;
constexpr int32_t kErrRootFirst = 20121;
constexpr int32_t kErrRootLast = 20122;
constexpr int32_t kErrRootNavigation = 20123;
constexpr int32_t kErrRootPosition = 20124;
constexpr int32_t kErrRootRangeCount = 20125;
constexpr int32_t kErrRootUniqueness = 20126;
constexpr int32_t kErrRootInsert = 20127;
constexpr int32_t kErrDeleteEntryOnUpdate = 20250;
constexpr int32_t kErrRootClosest = 20293;
constexpr int32_t kErrNilPosition1 = 10384;
constexpr int32_t kErrNilPosition2 = 10385;
constexpr std::string_view kMsgEntryNotFound = "Index error: cannot delete entry. Entry not found";

std::vector<uint8_t> Reference(const TORBPageItemID& record_id) {
  std::vector<uint8_t> reference(kPageItemIDSize);
  StorePageItemID(reference.data(), record_id);
  return reference;
}

const TORBKeyPath& PathOf(const TORBIndexPosition& position) {
  return static_cast<const TORBBTreeIndexPosition&>(position).Path;
}
TORBKeyPath& PathOf(TORBIndexPosition& position) { return static_cast<TORBBTreeIndexPosition&>(position).Path; }

// Zero-filled key buffer of the key reference's short key size; short
// keys live on the stack, longer ones on the heap.
class TKeyBuffer {
 public:
  explicit TKeyBuffer(const TORBRecordKeyRef& key_ref) {
    const size_t size = static_cast<size_t>(std::max(key_ref.ShortKeySize(), 1));
    if (size <= sizeof(FSmall)) {
      std::memset(FSmall, 0, size);
      FBuffer = FSmall;
    } else {
      FLarge.assign(size, 0);
      FBuffer = FLarge.data();
    }
  }
  TKeyBuffer(const TKeyBuffer&) = delete;
  TKeyBuffer& operator=(const TKeyBuffer&) = delete;
  uint8_t* Get() const { return FBuffer; }

 private:
  uint8_t FSmall[256];
  std::vector<uint8_t> FLarge;
  uint8_t* FBuffer;
};

}  // namespace

void TORBBTreeIndexPosition::Assign(const TORBIndexPosition& source) { Path.Assign(PathOf(source)); }

TORBBTreeRecordIndex::TORBBTreeRecordIndex(const TORBIndexDef& index_def, TORBBaseIndexManager* index_manager)
    : TORBIndex(index_def, index_manager), FKeyRef(std::make_unique<TORBRecordKeyRef>()) {}

TORBBTreeRecordIndex::~TORBBTreeRecordIndex() = default;

TORBPageManager* TORBBTreeRecordIndex::PageManager() const { return FIndexManager->GetPageManager(*this); }

void TORBBTreeRecordIndex::BuildKeyRef() {
  FKeyRef = std::make_unique<TORBRecordKeyRef>();
  FKeyRef->Assign(FIndexDef, FIndexManager->TableData());
}

TORBBTreePage TORBBTreeRecordIndex::GetRoot(int32_t session_id, int32_t invalid_page_code) {
  if (FIndexDef.FRootPageNo < 0) RaiseORB(invalid_page_code, "Invalid page number");
  TORBBTreePage root(PageManager(), FKeyRef.get());
  root.GetIndexPage(session_id, FIndexDef.FRootPageNo);
  return root;
}

void TORBBTreeRecordIndex::OpenIndex(const TORBIndexDef& index_def) {
  TORBIndex::OpenIndex(index_def);
  BuildKeyRef();
}

void TORBBTreeRecordIndex::CreateIndex(TORBCursorInterface* cursor, const TORBIndexDef& index_def) {
  TORBIndex::CreateIndex(cursor, index_def);
  BuildKeyRef();
  TORBPageManager* page_manager = PageManager();
  TORBBTreePage::CheckEntrySize(page_manager->GetPageDataSize(), *FKeyRef);
  const int32_t session_id = cursor != nullptr ? cursor->GetSessionID() : TORBPageManager::kSystemSession;
  {
    TORBBTreePage root(page_manager, FKeyRef.get());
    root.AddIndexPage(session_id);
    root.InitAsRoot();
    FIndexDef.FRootPageNo = root.PageNo();
  }
  if (cursor == nullptr) return;
  try {
    LoadRecords(session_id);
  } catch (...) {
    try {
      DropIndex(session_id);
    } catch (...) {
    }
    throw;
  }
}

void TORBBTreeRecordIndex::LoadRecords(int32_t session_id) {
  TORBTableData* table = FIndexManager->TableData();
  TORBBaseRecordManager* records = table->RecordManager();
  const size_t short_size = static_cast<size_t>(FKeyRef->ShortKeySize());
  const size_t full_size = static_cast<size_t>(std::max(FKeyRef->FullKeySize(), 1));
  // Short key, full key and record ID of every record, in physical order.
  std::vector<uint8_t> short_keys, full_keys;
  std::vector<TORBPageItemID> ids;
  std::vector<uint8_t> buffer(static_cast<size_t>(std::max(records->FRecordBufferSize, 1)));
  TORBNavigationInfo info;
  info.GetRecordMode = grmNext;
  info.RecordBuffer = buffer.data();
  info.FirstPosition = true;
  for (;;) {
    records->GetRecordBuffer(session_id, info);
    if (info.GetRecordResult != grrOK) break;
    const size_t n = ids.size();
    short_keys.resize((n + 1) * short_size);
    full_keys.resize((n + 1) * full_size);
    FKeyRef->MakeShortKeyFromRecordBuffer(buffer.data(), short_keys.data() + n * short_size);
    FKeyRef->MakeFullKeyFromRecordBuffer(buffer.data(), full_keys.data() + n * full_size);
    ids.push_back(info.RecordID);
  }
  FKeyRef->LRecordBuffer = nullptr;
  // Sorted by the tree's own order: keys (prefix ties through the full
  // keys at hand, no record read), then record IDs.
  std::vector<size_t> order(ids.size());
  std::iota(order.begin(), order.end(), size_t{0});
  auto compare_keys = [&](size_t a, size_t b) {
    return FKeyRef->CompareShortKeysWithFullKeys(short_keys.data() + a * short_size, short_keys.data() + b * short_size,
                                                 full_keys.data() + a * full_size, full_keys.data() + b * full_size);
  };
  std::vector<std::vector<uint8_t>> references;
  references.reserve(ids.size());
  for (const TORBPageItemID& id : ids) references.push_back(Reference(id));
  std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    const int c = compare_keys(a, b);
    if (c != 0) return c < 0;
    return TORBBTreeKeyRef::CompareReferences(references[a].data(), references[b].data(), kPageItemIDSize) < 0;
  });
  // The builder checks the order it is given: the full keys at hand
  // answer its prefix ties.
  TORBFullKeyCacheScope cache(*FKeyRef);
  for (size_t i = 0; i < ids.size(); ++i) FKeyRef->RememberFullKey(ids[i], full_keys.data() + i * full_size);
  TORBBTreeBuilder builder(PageManager(), FKeyRef.get(), session_id, FIndexDef.FRootPageNo);
  for (size_t i = 0; i < order.size(); ++i) {
    if (i > 0 && IsUnique() && compare_keys(order[i - 1], order[i]) == 0)
      RaiseORB(kErrIndexBuildDuplicateKey, "Cannot create unique index '%s': records with equal keys exist",
               {FIndexDef.GetName()});
    builder.Add(short_keys.data() + order[i] * short_size, references[order[i]].data());
  }
  builder.Finish();
}

void TORBBTreeRecordIndex::DropIndex(int32_t session_id) {
  {
    TORBBTreePage root = GetRoot(session_id, kErrRootDrop);
    root.FreeAllPages(session_id, false);
  }
  FIndexDef.FRootPageNo = -1;
}

void TORBBTreeRecordIndex::EmptyIndex(int32_t session_id) {
  TORBBTreePage root = GetRoot(session_id, kErrRootEmpty);
  root.FreeAllPages(session_id, true);
  root.InitAsRoot();
}

void TORBBTreeRecordIndex::RebuildTemporaryIndex(TORBCursorInterface* cursor) {
  const int32_t session_id = cursor != nullptr ? cursor->GetSessionID() : TORBPageManager::kSystemSession;
  if (FIndexDef.FRootPageNo >= 0) DropIndex(session_id);
  TORBIndexDef def;
  def.Assign(FIndexDef);
  CreateIndex(cursor, def);
}

// --- Navigation ---

void TORBBTreeRecordIndex::ReadAtPath(int32_t session_id, const TORBKeyPath& path,
                                      TORBNavigationInfo& navigation_info, TORBIndexPositionCache* cache,
                                      int32_t table_state) {
  if (path.Count() == 0) RaiseORB(kErrInvalidPosition, "Index error: invalid position");
  uint8_t reference[kPageItemIDSize];
  {
    TORBBTreePage root = GetRoot(session_id, kErrRootNavigation);
    root.GetEntryAtPosition(session_id, path, nullptr, reference);
  }
  const TORBPageItemID record_id = LoadPageItemID(reference);
  navigation_info.RecordID = record_id;
  navigation_info.GetRecordResult =
      FIndexManager->TableData()->ReadRecordByID(session_id, record_id, navigation_info.RecordBuffer);
  navigation_info.FirstPosition = false;
  navigation_info.LastPosition = false;
  if (navigation_info.GetRecordResult != grrOK || cache == nullptr) return;
  if (dynamic_cast<TORBBTreeIndexPosition*>(cache->Position.get()) == nullptr)
    cache->Position = std::make_unique<TORBBTreeIndexPosition>();
  PathOf(*cache->Position).Assign(path);
  cache->IndexID = FIndexDef.FObjectID;
  cache->RecordID = record_id;
  cache->TableState = table_state;
}

void TORBBTreeRecordIndex::GetRecordBuffer(int32_t session_id, TORBNavigationInfo& navigation_info,
                                           TORBIndexPositionCache* cache, int32_t table_state) {
  if (navigation_info.GetRecordMode == grmCurrent)
    RaiseORB(kErrGetRecordCurrentMode, "Invalid 'get record' mode for index: grmCurrent");
  const bool forward = navigation_info.GetRecordMode == grmNext;
  TORBFullKeyCacheScope full_keys(*FKeyRef, true);
  TORBKeyPath path;
  {
    TORBBTreePage root = GetRoot(session_id, kErrRootNavigation);
    if (navigation_info.FirstPosition || navigation_info.LastPosition) {
      // From BOF the first entry, from EOF the last, whatever the direction.
      const bool found = navigation_info.FirstPosition ? root.GetFirstPosition(session_id, path)
                                                        : root.GetLastPosition(session_id, path);
      if (!found) {
        navigation_info.FirstPosition = !forward;
        navigation_info.LastPosition = forward;
        navigation_info.GetRecordResult = forward ? grrEOF : grrBOF;
        return;
      }
    } else {
      const bool cached = cache != nullptr && cache->IndexID == FIndexDef.FObjectID &&
                          cache->RecordID == navigation_info.RecordID && cache->TableState == table_state &&
                          dynamic_cast<TORBBTreeIndexPosition*>(cache->Position.get()) != nullptr;
      if (cached) {
        path.Assign(PathOf(*cache->Position));
      } else {
        TKeyBuffer key(*FKeyRef);
        FKeyRef->MakeShortKeyFromRecordBuffer(navigation_info.RecordBuffer, key.Get());
        const std::vector<uint8_t> reference = Reference(navigation_info.RecordID);
        if (!root.FindEntry(session_id, key.Get(), reference.data(), path)) {
          navigation_info.GetRecordResult = grrError;
          return;
        }
      }
      const bool moved = forward ? root.GetNextPosition(session_id, path) : root.GetPriorPosition(session_id, path);
      if (!moved) {
        navigation_info.FirstPosition = !forward;
        navigation_info.LastPosition = forward;
        navigation_info.GetRecordResult = forward ? grrEOF : grrBOF;
        return;
      }
    }
  }
  ReadAtPath(session_id, path, navigation_info, cache, table_state);
}

void TORBBTreeRecordIndex::GetClosestRecordBuffer(int32_t session_id, TORBNavigationInfo& navigation_info,
                                                  TORBIndexPositionCache* cache, int32_t table_state) {
  const bool forward = navigation_info.GetRecordMode != grmPrior;
  TORBFullKeyCacheScope full_keys(*FKeyRef, true);
  TORBKeyPath path;
  {
    TORBBTreePage root = GetRoot(session_id, kErrRootClosest);
    TKeyBuffer key(*FKeyRef);
    FKeyRef->MakeShortKeyFromRecordBuffer(navigation_info.RecordBuffer, key.Get());
    if (!root.FindByCondition(session_id, forward, key.Get(), forward ? scGreater : scLower, path)) {
      navigation_info.FirstPosition = !forward;
      navigation_info.LastPosition = forward;
      navigation_info.GetRecordResult = forward ? grrEOF : grrBOF;
      return;
    }
  }
  ReadAtPath(session_id, path, navigation_info, cache, table_state);
}

// --- Positions and record numbers ---

std::unique_ptr<TORBIndexPosition> TORBBTreeRecordIndex::CreateIndexPosition() {
  return std::make_unique<TORBBTreeIndexPosition>();
}

bool TORBBTreeRecordIndex::GetIndexPosition(int32_t session_id, const TORBPageItemID& record_id,
                                            const uint8_t* record_buffer, TORBIndexPosition& position) {
  TORBFullKeyCacheScope full_keys(*FKeyRef, true);
  TORBBTreePage root = GetRoot(session_id, kErrRootPosition);
  TKeyBuffer key(*FKeyRef);
  FKeyRef->MakeShortKeyFromRecordBuffer(record_buffer, key.Get());
  const std::vector<uint8_t> reference = Reference(record_id);
  return root.FindEntry(session_id, key.Get(), reference.data(), PathOf(position));
}

int TORBBTreeRecordIndex::CompareRecordPositionsInIndex(const TORBIndexPosition& position1,
                                                        const TORBIndexPosition& position2) {
  const auto* p1 = dynamic_cast<const TORBBTreeIndexPosition*>(&position1);
  const auto* p2 = dynamic_cast<const TORBBTreeIndexPosition*>(&position2);
  if (p1 == nullptr) RaiseORB(kErrNilPosition1, kMsgNilPointer);
  if (p2 == nullptr) RaiseORB(kErrNilPosition2, kMsgNilPointer);
  return p1->Path.Compare(p2->Path);
}

int64_t TORBBTreeRecordIndex::GetRecNoByRecordID(int32_t session_id, const TORBPageItemID& record_id,
                                                 const uint8_t* record_buffer) {
  TORBBTreeIndexPosition position;
  if (!GetIndexPosition(session_id, record_id, record_buffer, position)) return -1;
  TORBBTreePage root = GetRoot(session_id, kErrIndexNoRootPage);
  return root.GetRecNoByPosition(session_id, position.Path) + 1;
}

TORBPageItemID TORBBTreeRecordIndex::GetRecordIDByRecNo(int32_t session_id, int64_t rec_no) {
  TORBBTreePage root = GetRoot(session_id, kErrIndexNoRootPage);
  TORBKeyPath first;
  if (!root.GetFirstPosition(session_id, first))
    RaiseORB(kErrEmptyIndexRecNo, "Cannot retrieve record from empty index");
  TKeyBuffer key(*FKeyRef);
  uint8_t reference[kPageItemIDSize];
  // Numbers at or below 0 mean the first record.
  if (!root.GetEntryByRecNo(session_id, std::max<int64_t>(rec_no, 1) - 1, key.Get(), reference))
    RaiseORB(kErrRecNoTooLarge, "Cannot set RecNo greater than RecordCount");
  return LoadPageItemID(reference);
}

int64_t TORBBTreeRecordIndex::GetMaxEntriesPerPage() {
  return PageManager()->GetPageDataSize() / (FKeyRef->ShortKeySize() + TORBBTreePage::kNodeReferenceSize);
}

void TORBBTreeRecordIndex::GetRecordIDByIndexPosition(int32_t session_id, const TORBIndexPosition& position,
                                                      TORBPageItemID& record_id) {
  TORBKeyPath path;
  path.Assign(PathOf(position));
  TORBBTreePage root = GetRoot(session_id, kErrIndexNoRootPage);
  uint8_t reference[kPageItemIDSize];
  TKeyBuffer key(*FKeyRef);
  if (!root.GetEntryByIndexPosition(session_id, path, key.Get(), reference))
    RaiseORB(kErrInvalidPosition, "Index error: invalid position");
  record_id = LoadPageItemID(reference);
}

int64_t TORBBTreeRecordIndex::GetBitNoByIndexPosition(const TORBIndexPosition& position) {
  return PathOf(position).GetBitmapRecNoByIndexPosition(static_cast<int32_t>(GetMaxEntriesPerPage()));
}

void TORBBTreeRecordIndex::GetIndexPositionByBitNo(int64_t bit_no, TORBIndexPosition& position) {
  PathOf(position).FillItemsByBitmapRecNo(bit_no, static_cast<int32_t>(GetMaxEntriesPerPage()));
}

void TORBBTreeRecordIndex::ApplyDistinctToRecordBitmap(int32_t session_id, TORBRecordBitmap* bitmap,
                                                       int32_t distinct_field_count) {
  if (bitmap == nullptr) RaiseORB(kErrDistinctNoBitmap, "Pointer is nil");
  TORBCompareStateSaver saver(*FKeyRef);
  FKeyRef->SetPartialCompare(nullptr, false);
  FKeyRef->FCompareFieldCount = std::clamp(distinct_field_count, 0, FKeyRef->GetPartCount());
  TORBFullKeyCacheScope full_keys(*FKeyRef, true);
  TORBBTreePage root = GetRoot(session_id, kErrIndexNoRootPage);
  TORBBTreeIndexPosition position;
  if (!root.GetFirstPosition(session_id, position.Path)) return;
  TKeyBuffer key(*FKeyRef);
  std::vector<uint8_t> last_key(static_cast<size_t>(FKeyRef->ShortKeySize()));
  uint8_t reference[kPageItemIDSize];
  uint8_t last_reference[kPageItemIDSize];
  bool have_last = false;
  const int32_t index_id = FIndexDef.FObjectID;
  do {
    root.GetEntryAtPosition(session_id, position.Path, key.Get(), reference);
    const TORBPageItemID record_id = LoadPageItemID(reference);
    const bool visible = bitmap->FIndexBased ? bitmap->IsRecordVisible(index_id, position)
                                             : bitmap->IsRecordVisible(record_id);
    if (!visible) continue;
    if (have_last &&
        FKeyRef->CompareShortKeys(key.Get(), last_key.data(), true, session_id, reference, last_reference) == 0) {
      if (bitmap->FIndexBased)
        bitmap->HideRecord(index_id, position);
      else
        bitmap->HideRecord(record_id);
    } else {
      std::memcpy(last_key.data(), key.Get(), last_key.size());
      std::memcpy(last_reference, reference, kPageItemIDSize);
      have_last = true;
    }
  } while (root.GetNextPosition(session_id, position.Path));
}

// --- Searches ---

std::unique_ptr<TORBIndexSearchInfo> TORBBTreeRecordIndex::CreateSearchInfo() {
  return std::make_unique<TORBBTreeSearchInfo>();
}

bool TORBBTreeRecordIndex::FindByScanCondition(int32_t session_id, TORBBTreePage& root,
                                               const TORBScanCondition& condition, bool first, TORBKeyPath& path) {
  const int32_t parts = FKeyRef->GetPartCount();
  FKeyRef->FCompareFieldCount =
      condition.KeyFieldCount > 0 && condition.KeyFieldCount < parts ? condition.KeyFieldCount : parts;
  FKeyRef->SetPartialCompare(condition.KeyRecordBuffer, condition.PartialCompare);
  if (condition.KeyRecordBuffer == nullptr || condition.Condition == scNone)
    return root.FindByCondition(session_id, first, nullptr, scNone, path);
  TKeyBuffer key(*FKeyRef);
  FKeyRef->MakeShortKeyFromRecordBuffer(condition.KeyRecordBuffer, key.Get());
  return root.FindByCondition(session_id, first, key.Get(), condition.Condition, path);
}

bool TORBBTreeRecordIndex::FindRecord(int32_t session_id, bool restart, bool go_forward,
                                      const TORBScanCondition* start_condition,
                                      const TORBScanCondition* end_condition, uint8_t* record_buffer,
                                      TORBPageItemID& record_id, TORBIndexSearchInfo* search_info) {
  auto* info = dynamic_cast<TORBBTreeSearchInfo*>(search_info);
  if (info == nullptr) RaiseORB(kErrNoSearchInfo, "Pointer is nil");
  if (restart && info->IsFilled) RaiseORB(kErrSearchParams, "Index error: invalid params");
  TORBCompareStateSaver saver(*FKeyRef);
  TORBFullKeyCacheScope full_keys(*FKeyRef, true);
  TORBBTreePage root = GetRoot(session_id, kErrIndexNoRootPage);
  const bool started = info->IsFilled;
  if (started) go_forward = info->GoForward;
  bool step = !restart;
  if (restart || !started) {
    TORBKeyPath& path = info->CurrentKeyPath;
    path.Clear();
    if (start_condition != nullptr) {
      if (!FindByScanCondition(session_id, root, *start_condition, go_forward, path)) return false;
      FKeyRef->SetPartialCompare(nullptr, false);
      FKeyRef->FCompareFieldCount = FKeyRef->GetPartCount();
      if (!restart) {
        // Continue from the current record unless it lies before the
        // range's first entry in scan direction: then that entry is next.
        TORBKeyPath current;
        TKeyBuffer key(*FKeyRef);
        if (record_buffer != nullptr) FKeyRef->MakeShortKeyFromRecordBuffer(record_buffer, key.Get());
        const std::vector<uint8_t> reference = Reference(record_id);
        if (record_buffer != nullptr && root.FindEntry(session_id, key.Get(), reference.data(), current)) {
          const int order = current.Compare(path);
          if (go_forward ? order >= 0 : order <= 0)
            path.Assign(current);
          else
            step = false;
        } else {
          step = false;
        }
      }
    } else if (restart) {
      if (!(go_forward ? root.GetFirstPosition(session_id, path) : root.GetLastPosition(session_id, path)))
        return false;
    } else {
      TKeyBuffer key(*FKeyRef);
      if (record_buffer == nullptr) return false;
      FKeyRef->MakeShortKeyFromRecordBuffer(record_buffer, key.Get());
      const std::vector<uint8_t> reference = Reference(record_id);
      if (!root.FindEntry(session_id, key.Get(), reference.data(), path)) return false;
    }
  }
  if (!started) {
    // The last entry in range, in scan direction.
    info->HasEndKeyPath = false;
    const TORBScanCondition* end = end_condition != nullptr ? end_condition : start_condition;
    if (end != nullptr) {
      if (!FindByScanCondition(session_id, root, *end, !go_forward, info->EndKeyPath)) return false;
      info->HasEndKeyPath = true;
    }
  }
  TORBKeyPath& path = info->CurrentKeyPath;
  if (step && !(go_forward ? root.GetNextPosition(session_id, path) : root.GetPriorPosition(session_id, path)))
    return false;
  if (info->HasEndKeyPath) {
    const int order = path.Compare(info->EndKeyPath);
    if (go_forward ? order > 0 : order < 0) return false;
  }
  uint8_t reference[kPageItemIDSize];
  root.GetEntryAtPosition(session_id, path, nullptr, reference);
  record_id = LoadPageItemID(reference);
  info->IsFilled = true;
  info->GoForward = go_forward;
  return true;
}

int TORBBTreeRecordIndex::CompareRecordBuffersByIndex(const uint8_t* record_buffer1, const uint8_t* record_buffer2,
                                                      int32_t field_count) {
  TORBCompareStateSaver saver(*FKeyRef);
  FKeyRef->SetPartialCompare(nullptr, false);
  FKeyRef->FCompareFieldCount = std::clamp(field_count, 0, FKeyRef->GetPartCount());
  std::vector<uint8_t> key1(static_cast<size_t>(std::max(FKeyRef->FullKeySize(), 1)));
  std::vector<uint8_t> key2(key1.size());
  FKeyRef->MakeFullKeyFromRecordBuffer(record_buffer1, key1.data());
  FKeyRef->MakeFullKeyFromRecordBuffer(record_buffer2, key2.data());
  return FKeyRef->CompareFullKeys(key1.data(), key2.data());
}

int TORBBTreeRecordIndex::CompareConditions(const TORBScanCondition& condition1, const TORBScanCondition&) {
  switch (condition1.Condition) {
    case scGreater:
    case scGreaterEqual:
      return -1;
    case scLower:
    case scLowerEqual:
      return 1;
    default:
      return 0;
  }
}

int64_t TORBBTreeRecordIndex::GetApproxRangeRecordCount(int32_t session_id, int64_t table_record_count,
                                                        const TORBScanCondition* condition1,
                                                        const TORBScanCondition* condition2) {
  TORBCompareStateSaver saver(*FKeyRef);
  TORBFullKeyCacheScope full_keys(*FKeyRef, true);
  TORBBTreePage root = GetRoot(session_id, kErrRootRangeCount);
  const TORBScanCondition* lower = nullptr;
  const TORBScanCondition* upper = nullptr;
  for (const TORBScanCondition* c : {condition1, condition2}) {
    if (c == nullptr) continue;
    const int side = CompareConditions(*c, *c);
    if (side < 0) lower = c;
    if (side > 0) upper = c;
    if (side == 0) lower = upper = c;
  }
  TORBKeyPath path;
  double from = 0.0;
  double to = 1.0;
  if (lower != nullptr) {
    if (!FindByScanCondition(session_id, root, *lower, true, path)) return 0;
    from = path.GetApproxRecNoInPercents();
  }
  if (upper != nullptr) {
    if (!FindByScanCondition(session_id, root, *upper, false, path)) return 0;
    to = path.GetApproxRecNoInPercents();
    // The last entry in range counts itself.
    if (path.Count() > 0) {
      double width = 1.0;
      for (int32_t l = 0; l < path.Count(); ++l) width /= std::max(path.Item(l).EntryCount, 1);
      to += width;
    }
  }
  const int64_t estimate = std::llround((to - from) * static_cast<double>(table_record_count));
  return std::clamp<int64_t>(estimate, 0, table_record_count);
}

// --- Uniqueness and maintenance ---

bool TORBBTreeRecordIndex::CanInsertRecord(int32_t session_id, const uint8_t* record_buffer) {
  if (!IsUnique()) return true;
  TORBWholeCompareScope whole(*FKeyRef);
  TORBFullKeyCacheScope full_keys(*FKeyRef, true);
  TORBBTreePage root = GetRoot(session_id, kErrRootUniqueness);
  TKeyBuffer key(*FKeyRef);
  FKeyRef->MakeShortKeyFromRecordBuffer(record_buffer, key.Get());
  TORBKeyPath path;
  return !root.FindByCondition(session_id, true, key.Get(), scEqual, path);
}

bool TORBBTreeRecordIndex::CanUpdateRecord(int32_t session_id, const uint8_t* old_record_buffer,
                                           const uint8_t* new_record_buffer) {
  if (!IsUnique()) return true;
  if (CompareRecordBuffersByIndex(old_record_buffer, new_record_buffer, FKeyRef->GetPartCount()) == 0) return true;
  return CanInsertRecord(session_id, new_record_buffer);
}

void TORBBTreeRecordIndex::InsertRecord(TORBCursorInterface* cursor) {
  const int32_t session_id = cursor->GetSessionID();
  TORBWholeCompareScope whole(*FKeyRef);
  TORBFullKeyCacheScope full_keys(*FKeyRef, true);
  TKeyBuffer key(*FKeyRef);
  FKeyRef->MakeShortKeyFromRecordBuffer(cursor->GetCurrentRecordBuffer(), key.Get());
  uint8_t reference[kPageItemIDSize];
  StorePageItemID(reference, cursor->GetCurrentRecordID());
  TORBPageManager* page_manager = PageManager();
  // Keys arriving in order go to the leaf the previous one went to: that
  // leaf takes the entry without a descent when it provably is its place.
  if (FLeafHint.PageManager == page_manager && FLeafHint.Session == session_id && FIndexDef.FRootPageNo >= 0 &&
      FLeafHint.RootPageNo == FIndexDef.FRootPageNo) {
    TORBBTreePage page(page_manager, FKeyRef.get());
    const TORBLeafHintResult result = page.InsertAtLeafHint(session_id, FLeafHint.LeafPageNo, FLeafHint.ApplyCount,
                                                            key.Get(), reference, IsUnique());
    if (result == lhrInserted) {
      ++FLeafHintInserts;
      return;
    }
    if (result == lhrDuplicate)
      RaiseORB(kErrIndexDuplicateKey, "Key violation: index '%s' already holds this key", {FIndexDef.GetName()});
  }
  FLeafHint = TLeafHint();
  TORBBTreePage root = GetRoot(session_id, IsUnique() ? kErrRootUniqueness : kErrRootInsert);
  TORBKeyPath path;
  if (!IsUnique()) {
    root.InsertLeafEntry(session_id, key.Get(), reference, path);
  } else if (!root.InsertUniqueLeafEntry(session_id, key.Get(), reference, path)) {
    // The uniqueness check and the insertion share one descent; a key the
    // index holds already leaves the tree unchanged.
    RaiseORB(kErrIndexDuplicateKey, "Key violation: index '%s' already holds this key", {FIndexDef.GetName()});
  }
  // The leaf now holds the new entry and is private to the session.
  if (path.Count() > 0)
    FLeafHint = TLeafHint{page_manager, session_id, FIndexDef.FRootPageNo, path.Leaf().PageNo,
                          page_manager->ApplyCount()};
}

void TORBBTreeRecordIndex::DeleteRecord(TORBCursorInterface* cursor) {
  const int32_t session_id = cursor->GetSessionID();
  TORBWholeCompareScope whole(*FKeyRef);
  TORBFullKeyCacheScope full_keys(*FKeyRef, true);
  TORBBTreePage root = GetRoot(session_id, kErrIndexNoRootPage);
  TKeyBuffer key(*FKeyRef);
  FKeyRef->MakeShortKeyFromRecordBuffer(cursor->GetCurrentRecordBuffer(), key.Get());
  const std::vector<uint8_t> reference = Reference(cursor->GetCurrentRecordID());
  TORBKeyPath path;
  if (!root.DeleteLeafEntry(session_id, key.Get(), reference.data(), path))
    RaiseORB(kErrDeleteEntryOnDelete, kMsgEntryNotFound);
}

void TORBBTreeRecordIndex::UpdateRecord(TORBCursorInterface* cursor, bool before_new_record_is_stored) {
  const uint8_t* old_buffer = cursor->GetEditRecordBuffer();
  const uint8_t* new_buffer = cursor->GetCurrentRecordBuffer();
  if (CompareRecordBuffersByIndex(old_buffer, new_buffer, FKeyRef->GetPartCount()) == 0) return;
  if (!before_new_record_is_stored) {
    InsertRecord(cursor);
    return;
  }
  const int32_t session_id = cursor->GetSessionID();
  TORBWholeCompareScope whole(*FKeyRef);
  TORBFullKeyCacheScope full_keys(*FKeyRef, true);
  TORBBTreePage root = GetRoot(session_id, kErrIndexNoRootPage);
  TKeyBuffer key(*FKeyRef);
  FKeyRef->MakeShortKeyFromRecordBuffer(old_buffer, key.Get());
  const std::vector<uint8_t> reference = Reference(cursor->GetCurrentRecordID());
  TORBKeyPath path;
  if (!root.DeleteLeafEntry(session_id, key.Get(), reference.data(), path))
    RaiseORB(kErrDeleteEntryOnUpdate, kMsgEntryNotFound);
}

void TORBBTreeRecordIndex::CheckIntegrity(int32_t session_id) {
  TORBFullKeyCacheScope full_keys(*FKeyRef, true);
  GetRoot(session_id, kErrIndexNoRootPage).CheckIntegrity(session_id);
}

int32_t TORBBTreeRecordIndex::GetDepth(int32_t session_id) {
  return GetRoot(session_id, kErrIndexNoRootPage).GetDepth(session_id);
}

}  // namespace orb
