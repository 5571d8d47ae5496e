#include "engine/table/btree_builder.h"

#include <algorithm>
#include <cstring>

#include "engine/base/error_codes.h"
#include "engine/base/orb_exception.h"
#include "engine/platform/byte_order.h"
#include "engine/table/btree_page.h"
#include "engine/table/page_manager.h"

namespace orb {

namespace {

int32_t ChooseFill(int32_t requested, int32_t capacity) {
  int32_t fill = requested > 0 ? requested : capacity - 1;
  return std::clamp(fill, 2, capacity);
}

}  // namespace

TORBBTreeBuilder::TORBBTreeBuilder(TORBPageManager* page_manager, TORBBTreeKeyRef* key_ref, int32_t session_id,
                                   int32_t root_page_no, int32_t leaf_fill, int32_t node_fill)
    : LPageManager(page_manager), LKeyRef(key_ref), FSession(session_id), FRootPageNo(root_page_no) {
  const uint16_t data_size = page_manager->GetPageDataSize();
  TORBBTreePage::CheckEntrySize(data_size, *key_ref);
  const int32_t room = data_size - static_cast<int32_t>(TORBBTreePageHeader::kSize);
  FLeafEntrySize = key_ref->ShortKeySize() + key_ref->ReferenceSize();
  FLeafCapacity = room / FLeafEntrySize;
  FNodeCapacity = room / (key_ref->ShortKeySize() + TORBBTreePage::kNodeReferenceSize);
  FLeafFill = ChooseFill(leaf_fill, FLeafCapacity);
  FNodeFill = ChooseFill(node_fill, FNodeCapacity);
  TORBBTreePage root(page_manager, key_ref);
  root.GetIndexPage(session_id, root_page_no);
  if (!root.IsRoot() || !root.IsLeaf() || root.EntryCount() != 0)
    RaiseORB(kErrBulkLoadNotEmpty, "Index bulk load: the tree with root page %d is not empty", {root_page_no});
}

void TORBBTreeBuilder::Add(const uint8_t* key, const uint8_t* reference) {
  const int32_t key_size = LKeyRef->ShortKeySize();
  if (FCount > 0) {
    const uint8_t* last_key = FLastEntry.data();
    const uint8_t* last_reference = last_key + key_size;
    int c = LKeyRef->CompareShortKeys(last_key, key, true, FSession, last_reference, reference);
    if (c == 0 && LKeyRef->StoresWholeKeys())
      c = TORBBTreeKeyRef::CompareReferences(last_reference, reference, LKeyRef->ReferenceSize()) < 0 ? -1 : 1;
    if (c > 0)
      RaiseORB(kErrBulkLoadOrder, "Index bulk load: entry %d is not in ascending order",
               {static_cast<long long>(FCount)});
  }
  FLastEntry.assign(key, key + key_size);
  FLastEntry.insert(FLastEntry.end(), reference, reference + LKeyRef->ReferenceSize());
  FPending.insert(FPending.end(), FLastEntry.begin(), FLastEntry.end());
  ++FPendingCount;
  ++FCount;
  // Keep between one and two leaves pending, so the last two leaves can be
  // evened out at the end.
  if (FPendingCount == 2 * FLeafFill) WriteLeaf(FLeafFill);
}

void TORBBTreeBuilder::WriteLeaf(int32_t count) {
  const int32_t page_no = WritePage(true, FPending.data(), count, FLastLeafPageNo);
  const size_t bytes = static_cast<size_t>(count) * static_cast<size_t>(FLeafEntrySize);
  FLeaves.push_back({std::vector<uint8_t>(FPending.begin(), FPending.begin() + LKeyRef->ShortKeySize()), page_no});
  FPending.erase(FPending.begin(), FPending.begin() + static_cast<std::ptrdiff_t>(bytes));
  FPendingCount -= count;
  FLastLeafPageNo = page_no;
}

int32_t TORBBTreeBuilder::WritePage(bool leaf, const uint8_t* entries, int32_t count, int32_t previous_page_no) {
  TORBBTreePage page(LPageManager, LKeyRef);
  page.AddIndexPage(FSession);
  page.SetIsLeaf(leaf);
  page.SetKeyPrefixSize(static_cast<uint16_t>(LKeyRef->ShortKeySize()));
  page.SetLeftPageNo(previous_page_no);
  page.SetRightPageNo(-1);
  page.ReplaceEntries(entries, count);
  const int32_t page_no = page.PageNo();
  if (previous_page_no >= 0) {
    TORBBTreePage previous(LPageManager, LKeyRef);
    previous.GetIndexPage(FSession, previous_page_no);
    previous.SetRightPageNo(page_no);
  }
  return page_no;
}

std::vector<int32_t> TORBBTreeBuilder::PageSizes(int64_t total, int32_t fill) {
  std::vector<int32_t> sizes;
  for (int64_t rest = total; rest > 0; rest -= fill) sizes.push_back(static_cast<int32_t>(std::min<int64_t>(rest, fill)));
  if (sizes.size() >= 2) {
    const int32_t both = sizes[sizes.size() - 2] + sizes.back();
    sizes[sizes.size() - 2] = (both + 1) / 2;
    sizes.back() = both / 2;
  }
  return sizes;
}

void TORBBTreeBuilder::Finish() {
  if (FFinished) return;
  FFinished = true;
  TORBBTreePage root(LPageManager, LKeyRef);
  root.GetIndexPage(FSession, FRootPageNo);
  if (FLeaves.empty() && FPendingCount <= FLeafCapacity) {
    root.ReplaceEntries(FPending.data(), FPendingCount);
    FPending.clear();
    FPendingCount = 0;
    return;
  }
  root.PutIndexPage();
  for (int32_t size : PageSizes(FPendingCount, FLeafFill)) WriteLeaf(size);

  const int32_t key_size = LKeyRef->ShortKeySize();
  const size_t node_entry_size = static_cast<size_t>(key_size + TORBBTreePage::kNodeReferenceSize);
  auto node_entries = [&](const std::vector<TChild>& children, size_t from, int32_t count) {
    std::vector<uint8_t> bytes(static_cast<size_t>(count) * node_entry_size);
    for (int32_t i = 0; i < count; ++i) {
      uint8_t* at = bytes.data() + static_cast<size_t>(i) * node_entry_size;
      std::memcpy(at, children[from + static_cast<size_t>(i)].Key.data(), static_cast<size_t>(key_size));
      StoreI32LE(at + key_size, children[from + static_cast<size_t>(i)].PageNo);
    }
    return bytes;
  };

  std::vector<TChild> children = std::move(FLeaves);
  int32_t depth = 2;
  while (children.size() > static_cast<size_t>(FNodeCapacity)) {
    if (++depth > TORBKeyPath::kMaxLevels)
      RaiseORB(kErrBTreeTooDeep, "Index tree is deeper than %d levels. PageNo=%d", {TORBKeyPath::kMaxLevels, FRootPageNo});
    std::vector<TChild> level;
    size_t from = 0;
    int32_t previous = -1;
    for (int32_t size : PageSizes(static_cast<int64_t>(children.size()), FNodeFill)) {
      std::vector<uint8_t> bytes = node_entries(children, from, size);
      previous = WritePage(false, bytes.data(), size, previous);
      level.push_back({children[from].Key, previous});
      from += static_cast<size_t>(size);
    }
    children = std::move(level);
  }
  std::vector<uint8_t> bytes = node_entries(children, 0, static_cast<int32_t>(children.size()));
  root.GetIndexPage(FSession, FRootPageNo);
  root.SetIsLeaf(false);
  root.SetHasKeys(true);
  root.ReplaceEntries(bytes.data(), static_cast<int32_t>(children.size()));
}

}  // namespace orb
