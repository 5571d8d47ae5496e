#pragma once

// A position in a B-tree: the page and entry number on every level from
// the root (level 0) down to the leaf.

#include <array>
#include <cstddef>
#include <cstdint>

namespace orb {

enum TORBKeyPathPosition : uint8_t {
  kppUnknown = 0,
  kppOnKey = 1,      // on an entry equal to the key searched
  kppBeforeKey = 2,  // on the first entry above the key searched
  kppAfterKey = 3,
  kppBOF = 4,
  kppEOF = 5,
};

// Which of several equal entries a search in a page reports.
enum TORBKeySearchType : uint8_t { kstFirst = 0, kstLast = 1, kstAny = 2 };

struct TORBKeyPathItem {
  int32_t PageNo = -1;
  int32_t EntryNo = 0;
  // Entries of the page when the level was recorded.
  int32_t EntryCount = 0;
};

class TORBKeyPath {
 public:
  // Trees are at most this many levels deep.
  static constexpr int32_t kMaxLevels = 32;

  TORBKeyPath() = default;

  // No levels; current level 0.
  void Clear();
  void Assign(const TORBKeyPath& source) { *this = source; }
  // Appends a level below the last one and makes it current. A path that
  // already holds kMaxLevels levels raises 30651.
  void AddItem(int32_t page_no, int32_t entry_no, int32_t entry_count);
  // Drops the last level (no-op without levels).
  void DeleteLastItem();
  void IncLevel() { ++FItemNo; }
  void DecLevel() { --FItemNo; }

  // Page of the current level. REQUIRES: 0 <= ItemNo() < Count().
  int32_t GetCurrentPageNo() const { return FItems[static_cast<size_t>(FItemNo)].PageNo; }
  void SetCurrentPageNo(int32_t page_no) { FItems[static_cast<size_t>(FItemNo)].PageNo = page_no; }
  // True when some level is on page `page_no`.
  bool PageExists(int32_t page_no) const;

  // Orders two positions of one tree: -1, 0 or 1, decided by the first
  // level whose entry numbers differ. Both paths must have the same number
  // of levels (else 20051) and be on the same pages down to the deciding
  // level (else 20052): below it the pages differ by nature.
  int Compare(const TORBKeyPath& other) const;

  // Relative position in [0, 1) from entry numbers and counts alone.
  double GetApproxRecNoInPercents() const;
  // Order-preserving number of the position for record bitmaps: with k
  // levels, sum over level l of (EntryNo_l + 1) * (M + 1)^(k - 1 - l) for
  // M = `max_entries_per_page`. Exact 64-bit integer arithmetic; a value
  // that does not fit raises 30652, an entry number outside [0, M) raises
  // 30653.
  int64_t GetBitmapRecNoByIndexPosition(int32_t max_entries_per_page) const;
  // The inverse: the base-(M + 1) digits of `rec_no`, most significant
  // first, become entry numbers (digit - 1) of levels with page -1 and
  // count 0. A number with a zero digit, or with more digits than a path
  // holds, raises 30653.
  void FillItemsByBitmapRecNo(int64_t rec_no, int32_t max_entries_per_page);

  int32_t Count() const { return FCount; }
  int32_t ItemNo() const { return FItemNo; }
  void SetItemNo(int32_t item_no) { FItemNo = item_no; }
  // REQUIRES: 0 <= level < kMaxLevels.
  TORBKeyPathItem& Item(int32_t level) { return FItems[static_cast<size_t>(level)]; }
  const TORBKeyPathItem& Item(int32_t level) const { return FItems[static_cast<size_t>(level)]; }
  // REQUIRES: Count() > 0.
  TORBKeyPathItem& Leaf() { return FItems[static_cast<size_t>(FCount - 1)]; }
  const TORBKeyPathItem& Leaf() const { return FItems[static_cast<size_t>(FCount - 1)]; }

  TORBKeyPathPosition PositionType() const { return FPositionType; }
  void SetPositionType(TORBKeyPathPosition type) { FPositionType = type; }
  int32_t IndexState() const { return FIndexState; }
  void SetIndexState(int32_t state) { FIndexState = state; }

 private:
  std::array<TORBKeyPathItem, kMaxLevels> FItems{};
  int32_t FCount = 0;
  int32_t FItemNo = 0;
  TORBKeyPathPosition FPositionType = kppUnknown;
  int32_t FIndexState = 0;
};

}  // namespace orb
