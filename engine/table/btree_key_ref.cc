#include "engine/table/btree_key_ref.h"

#include "engine/base/page_item_id.h"
#include "engine/platform/byte_order.h"
#include "engine/table/memory_manager.h"

namespace orb {

void TORBBTreeKeyRef::SetPartCount(int32_t count) {
  FParts.resize(count < 0 ? 0 : static_cast<size_t>(count));
  FCompareFieldCount = GetPartCount();
}

uint8_t* TORBBTreeKeyRef::AllocShortKeyBuffer() const {
  return MemoryManager().AllocMem(static_cast<size_t>(FShortKeySize > 0 ? FShortKeySize : 1));
}

uint8_t* TORBBTreeKeyRef::AllocFullKeyBuffer() const {
  return MemoryManager().AllocMem(static_cast<size_t>(FFullKeySize > 0 ? FFullKeySize : 1));
}

void TORBBTreeKeyRef::FreeAndNilKeyBuffer(uint8_t*& buffer) { MemoryManager().FreeAndNillMem(buffer); }

int TORBBTreeKeyRef::CompareReferences(const uint8_t* reference1, const uint8_t* reference2, int32_t size) {
  if (size == kPageItemIDSize) {
    TORBPageItemID a = LoadPageItemID(reference1);
    TORBPageItemID b = LoadPageItemID(reference2);
    if (a.PageNo != b.PageNo) return a.PageNo < b.PageNo ? -1 : 1;
    if (a.PageItemNo != b.PageItemNo) return a.PageItemNo < b.PageItemNo ? -1 : 1;
    return 0;
  }
  for (int32_t i = 0; i < size; ++i) {
    if (reference1[i] != reference2[i]) return reference1[i] < reference2[i] ? -1 : 1;
  }
  return 0;
}

TORBPageKeyRef::TORBPageKeyRef() {
  SetPartCount(1);
  TORBKeyPart& part = FParts[0];
  part.DataType = bftSignedInt32;
  part.ShortSize = 4;
  part.FullSize = 4;
  FShortKeySize = 4;
  FFullKeySize = 4;
  FReferenceSize = 2;
}

int TORBPageKeyRef::CompareShortKeys(const uint8_t* key1, const uint8_t* key2, bool, int32_t, const uint8_t*,
                                     const uint8_t*) {
  return CompareFullKeys(key1, key2);
}

int TORBPageKeyRef::CompareFullKeys(const uint8_t* key1, const uint8_t* key2) {
  int32_t a = LoadI32LE(key1);
  int32_t b = LoadI32LE(key2);
  return a < b ? -1 : (a > b ? 1 : 0);
}

}  // namespace orb
