#include "engine/table/key_path.h"

#include <limits>

#include "engine/base/error_codes.h"
#include "engine/base/orb_exception.h"

namespace orb {

void TORBKeyPath::Clear() {
  FCount = 0;
  FItemNo = 0;
  FPositionType = kppUnknown;
}

void TORBKeyPath::AddItem(int32_t page_no, int32_t entry_no, int32_t entry_count) {
  if (FCount >= kMaxLevels) RaiseORB(kErrBTreeTooDeep, "Index tree is deeper than %d levels. PageNo=%d", {kMaxLevels, page_no});
  FItems[static_cast<size_t>(FCount)] = {page_no, entry_no, entry_count};
  FItemNo = FCount;
  ++FCount;
}

void TORBKeyPath::DeleteLastItem() {
  if (FCount == 0) return;
  --FCount;
  if (FItemNo >= FCount) FItemNo = FCount > 0 ? FCount - 1 : 0;
}

bool TORBKeyPath::PageExists(int32_t page_no) const {
  for (int32_t l = 0; l < FCount; ++l) {
    if (FItems[static_cast<size_t>(l)].PageNo == page_no) return true;
  }
  return false;
}

int TORBKeyPath::Compare(const TORBKeyPath& other) const {
  if (FCount != other.FCount) RaiseORB(20051, "Invalid index key path");
  for (int32_t l = 0; l < FCount; ++l) {
    const TORBKeyPathItem& a = FItems[static_cast<size_t>(l)];
    const TORBKeyPathItem& b = other.FItems[static_cast<size_t>(l)];
    if (a.PageNo != b.PageNo) RaiseORB(20052, "Invalid index key path");
    if (a.EntryNo != b.EntryNo) return a.EntryNo < b.EntryNo ? -1 : 1;
  }
  return 0;
}

double TORBKeyPath::GetApproxRecNoInPercents() const {
  double sum = 0;
  double factor = 1;
  for (int32_t l = FCount - 1; l >= 0; --l) {
    const TORBKeyPathItem& item = FItems[static_cast<size_t>(l)];
    sum += factor * item.EntryNo;
    factor *= item.EntryCount > 0 ? item.EntryCount : 1;
  }
  return FCount == 0 ? 0.0 : sum / factor;
}

int64_t TORBKeyPath::GetBitmapRecNoByIndexPosition(int32_t max_entries_per_page) const {
  if (max_entries_per_page <= 0)
    RaiseORB(kErrBitmapRecNoInvalid, "Invalid index record number %d for MaxEntriesPerPage=%d",
             {0, max_entries_per_page});
  const int64_t base = static_cast<int64_t>(max_entries_per_page) + 1;
  // Horner's scheme: value = value * base + digit, checked before each step.
  int64_t value = 0;
  for (int32_t l = 0; l < FCount; ++l) {
    int32_t entry_no = FItems[static_cast<size_t>(l)].EntryNo;
    if (entry_no < 0 || entry_no >= max_entries_per_page)
      RaiseORB(kErrBitmapRecNoInvalid, "Invalid index record number %d for MaxEntriesPerPage=%d",
               {entry_no, max_entries_per_page});
    const int64_t digit = static_cast<int64_t>(entry_no) + 1;
    if (value > (std::numeric_limits<int64_t>::max() - digit) / base)
      RaiseORB(kErrBitmapRecNoOverflow, "Index position does not fit a record number. Levels=%d, MaxEntriesPerPage=%d",
               {FCount, max_entries_per_page});
    value = value * base + digit;
  }
  return value;
}

void TORBKeyPath::FillItemsByBitmapRecNo(int64_t rec_no, int32_t max_entries_per_page) {
  auto invalid = [&] {
    RaiseORB(kErrBitmapRecNoInvalid, "Invalid index record number %d for MaxEntriesPerPage=%d",
             {static_cast<long long>(rec_no), max_entries_per_page});
  };
  if (max_entries_per_page <= 0 || rec_no <= 0) invalid();
  const int64_t base = static_cast<int64_t>(max_entries_per_page) + 1;
  std::array<int32_t, kMaxLevels> digits{};
  int32_t count = 0;
  for (int64_t rest = rec_no; rest > 0; rest /= base) {
    int64_t digit = rest % base;
    if (digit == 0 || count == kMaxLevels) invalid();
    digits[static_cast<size_t>(count++)] = static_cast<int32_t>(digit);
  }
  Clear();
  for (int32_t i = count - 1; i >= 0; --i) AddItem(-1, digits[static_cast<size_t>(i)] - 1, 0);
}

}  // namespace orb
