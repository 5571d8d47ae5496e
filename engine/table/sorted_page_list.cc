#include "engine/table/sorted_page_list.h"

#include <algorithm>
#include <stdexcept>

#include "engine/base/orb_exception.h"
#include "engine/table/page.h"

namespace orb {

void TORBSortedPageList::Insert(TORBPage* page) {
  int32_t pos;
  if (ItemCount == 0) {
    pos = 0;
  } else {
    pos = FindPositionForInsert(page->PageNo());
    if (pos < ItemCount && KeyItems[pos] == page->PageNo()) {
      throw std::logic_error("page number already in the sorted page list");
    }
  }
  InsertByPosition(pos, page);
}

void TORBSortedPageList::Delete(int32_t page_no) {
  if (ItemCount == 0) RaiseORB(20165, "TSortedPageList.Delete - no elements in array!");
  int32_t pos = FindPosition(page_no);
  if (pos < 0) {
    RaiseORB(20166, "TSortedPageList.Delete - element not found, key = %d, itemCount = %d", {page_no, ItemCount});
  }
  DeleteByPosition(pos);
}

TORBPage* TORBSortedPageList::Find(int32_t page_no) const {
  int32_t pos = FindPosition(page_no);
  return pos < 0 ? nullptr : ValueItems[pos].Page;
}

bool TORBSortedPageList::Contains(const TORBPage* page) const {
  return page != nullptr && Find(page->PageNo()) == page;
}

int32_t TORBSortedPageList::FindPosition(int32_t page_no) const {
  int32_t& found = FFoundPositions[static_cast<uint32_t>(page_no) % kFoundSlots];
  if (found < ItemCount && KeyItems[found] == page_no) return found;
  int32_t pos = FindPositionForInsert(page_no);
  if (pos < ItemCount && KeyItems[pos] == page_no) {
    found = pos;
    return pos;
  }
  return -1;
}

int32_t TORBSortedPageList::FindPositionForInsert(int32_t page_no) const {
  auto begin = KeyItems.begin();
  return static_cast<int32_t>(std::lower_bound(begin, begin + ItemCount, page_no) - begin);
}

void TORBSortedPageList::InsertByPosition(int32_t pos, TORBPage* page) {
  int32_t old_count = ItemCount;
  SetSize(old_count + 1);
  std::move_backward(KeyItems.begin() + pos, KeyItems.begin() + old_count, KeyItems.begin() + old_count + 1);
  std::move_backward(ValueItems.begin() + pos, ValueItems.begin() + old_count, ValueItems.begin() + old_count + 1);
  KeyItems[pos] = page->PageNo();
  ValueItems[pos] = TORBPageElement{page, ++LRUCount};
}

void TORBSortedPageList::DeleteByPosition(int32_t pos) {
  std::move(KeyItems.begin() + pos + 1, KeyItems.begin() + ItemCount, KeyItems.begin() + pos);
  std::move(ValueItems.begin() + pos + 1, ValueItems.begin() + ItemCount, ValueItems.begin() + pos);
  ValueItems[ItemCount - 1] = TORBPageElement{};
  SetSize(ItemCount - 1);
}

void TORBSortedPageList::DeleteMarked(const std::vector<bool>& marked) {
  int32_t kept = 0;
  for (int32_t i = 0; i < ItemCount; ++i) {
    if (static_cast<size_t>(i) < marked.size() && marked[static_cast<size_t>(i)]) continue;
    KeyItems[kept] = KeyItems[i];
    ValueItems[kept] = ValueItems[i];
    ++kept;
  }
  for (int32_t i = kept; i < ItemCount; ++i) ValueItems[i] = TORBPageElement{};
  SetSize(kept);
}

void TORBSortedPageList::UpdateLRU(const TORBPage* page) {
  int32_t pos = page == nullptr ? -1 : FindPosition(page->PageNo());
  if (pos < 0 || ValueItems[pos].Page != page) RaiseORB(20167, "Page not found");
  ValueItems[pos].LRUCount = ++LRUCount;
}

TORBPage* TORBSortedPageList::FirstByLRU() {
  int32_t best = -1;
  for (int32_t i = 0; i < ItemCount; ++i) {
    if (best < 0 || ValueItems[i].LRUCount < ValueItems[best].LRUCount) best = i;
  }
  if (best < 0) return nullptr;
  LRULastFound = ValueItems[best].LRUCount;
  return ValueItems[best].Page;
}

TORBPage* TORBSortedPageList::NextByLRU() {
  int32_t best = -1;
  for (int32_t i = 0; i < ItemCount; ++i) {
    int64_t stamp = ValueItems[i].LRUCount;
    if (stamp > LRULastFound && (best < 0 || stamp < ValueItems[best].LRUCount)) best = i;
  }
  if (best < 0) return nullptr;
  LRULastFound = ValueItems[best].LRUCount;
  return ValueItems[best].Page;
}

void TORBSortedPageList::Clear() { SetSize(0); }

void TORBSortedPageList::SetSize(int32_t size) {
  if (size <= 0) {
    KeyItems = {};
    ValueItems = {};
    AllocItemCount = 0;
    ItemCount = 0;
    return;
  }
  if (size > AllocItemCount) {
    AllocBy = std::min(AllocBy * 2, MaxAllocBy);
    AllocItemCount = std::max(AllocItemCount + AllocBy, size);
    KeyItems.resize(AllocItemCount);
    ValueItems.resize(AllocItemCount);
  } else if (size < ItemCount && AllocItemCount - size > deAllocBy) {
    deAllocBy = std::min(deAllocBy * 2, MaxAllocBy);
    AllocItemCount = size;
    KeyItems.resize(AllocItemCount);
    KeyItems.shrink_to_fit();
    ValueItems.resize(AllocItemCount);
    ValueItems.shrink_to_fit();
  }
  ItemCount = size;
}

}  // namespace orb
