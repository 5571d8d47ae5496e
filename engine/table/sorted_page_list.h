#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace orb {

class TORBPage;

// A page with its last-use stamp.
struct TORBPageElement {
  TORBPage* Page = nullptr;
  int64_t LRUCount = 0;
};

// Pages sorted by page number, each stamped with a last-use counter. Holds
// references only; the pages are owned elsewhere. A page number appears at
// most once.
class TORBSortedPageList {
 public:
  TORBSortedPageList() = default;
  TORBSortedPageList(const TORBSortedPageList&) = delete;
  TORBSortedPageList& operator=(const TORBSortedPageList&) = delete;

  int32_t Count() const { return ItemCount; }
  // Element storage reserved (grows and shrinks in steps, see SetSize).
  int32_t Capacity() const { return AllocItemCount; }
  int32_t GetAllocBy() const { return AllocBy; }
  int32_t GetDeAllocBy() const { return deAllocBy; }

  // Page and key at `pos` in ascending page-number order.
  TORBPage* PageAt(int32_t pos) const { return ValueItems[pos].Page; }
  int32_t KeyAt(int32_t pos) const { return KeyItems[pos]; }
  int64_t StampAt(int32_t pos) const { return ValueItems[pos].LRUCount; }

  // Adds `page` with a new stamp. Adding a page number that is already
  // present is a programming error (std::logic_error).
  void Insert(TORBPage* page);
  // Removes the element with `page_no`: 20165 on an empty list, 20166 when
  // the number is absent.
  void Delete(int32_t page_no);
  TORBPage* Find(int32_t page_no) const;
  // True when this very page object is in the list.
  bool Contains(const TORBPage* page) const;
  // Index of `page_no`, or -1.
  int32_t FindPosition(int32_t page_no) const;
  // Index of `page_no` when present, else where it would be inserted.
  int32_t FindPositionForInsert(int32_t page_no) const;
  // Inserts `page` at `pos` with a new stamp; the caller keeps the order.
  void InsertByPosition(int32_t pos, TORBPage* page);
  void DeleteByPosition(int32_t pos);
  // Removes every element whose position is marked in `marked` (one flag
  // per position, Count() of them) in one pass, keeping the order.
  void DeleteMarked(const std::vector<bool>& marked);
  // Gives `page` a new stamp; 20167 when it is not in the list.
  void UpdateLRU(const TORBPage* page);
  // Least recently used page, then the next ones by ascending stamp; null at
  // the end. Elements may be deleted between the calls.
  TORBPage* FirstByLRU();
  TORBPage* NextByLRU();
  // Forgets all elements (does not destroy the pages).
  void Clear();
  // Sets the element count, growing or cutting the storage in steps.
  void SetSize(int32_t size);

 private:
  static constexpr int32_t kInitialAllocBy = 1000;

  std::vector<int32_t> KeyItems;
  int32_t ItemCount = 0;
  int32_t AllocBy = kInitialAllocBy;
  int32_t deAllocBy = kInitialAllocBy;
  int32_t MaxAllocBy = 10000;
  int32_t AllocItemCount = 0;
  int64_t LRUCount = 0;
  int64_t LRULastFound = 0;
  std::vector<TORBPageElement> ValueItems;
  // Positions where page numbers were last found, by page number modulo
  // the size. A position is used only after its key proves it (keys are
  // unique): a stale one costs the binary search, never a wrong answer.
  static constexpr size_t kFoundSlots = 64;
  mutable std::array<int32_t, kFoundSlots> FFoundPositions{};
};

}  // namespace orb
