#pragma once

// A small key reference over signed integer keys and a tree on the
// in-memory page store, for the B-tree tests.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "engine/base/page_item_id.h"
#include "engine/platform/byte_order.h"
#include "engine/table/btree_key_ref.h"
#include "engine/table/btree_page.h"
#include "tests/engine/table/fake_page_manager.h"

namespace orb::testing {

// Keys: a little-endian signed integer of 4 or 8 bytes, ascending or
// descending. References: 6-byte record IDs or any other size.
class IntKeyRef : public TORBBTreeKeyRef {
 public:
  explicit IntKeyRef(int32_t key_size = 8, bool descending = false, uint16_t reference_size = 6)
      : FDescending(descending) {
    SetPartCount(1);
    FParts[0].DataType = key_size == 4 ? bftSignedInt32 : bftSignedInt64;
    FParts[0].ShortSize = key_size;
    FParts[0].FullSize = key_size;
    FParts[0].Descending = descending;
    FShortKeySize = key_size;
    FFullKeySize = key_size;
    FReferenceSize = reference_size;
  }

  int CompareShortKeys(const uint8_t* key1, const uint8_t* key2, bool, int32_t, const uint8_t*,
                       const uint8_t*) override {
    ++FCompareCount;
    return CompareFullKeys(key1, key2);
  }
  int CompareFullKeys(const uint8_t* key1, const uint8_t* key2) override {
    int64_t a = Load(key1), b = Load(key2);
    int c = a < b ? -1 : (a > b ? 1 : 0);
    return FDescending ? -c : c;
  }

  int64_t Load(const uint8_t* key) const { return FShortKeySize == 4 ? LoadI32LE(key) : LoadI64LE(key); }
  std::vector<uint8_t> Key(int64_t value) const {
    std::vector<uint8_t> key(static_cast<size_t>(FShortKeySize));
    if (FShortKeySize == 4) StoreI32LE(key.data(), static_cast<int32_t>(value)); else StoreI64LE(key.data(), value);
    return key;
  }
  std::vector<uint8_t> Ref(uint32_t id) const {
    std::vector<uint8_t> ref(FReferenceSize, 0);
    if (FReferenceSize == kPageItemIDSize) {
      StorePageItemID(ref.data(), {static_cast<int32_t>(id / 65536), static_cast<uint16_t>(id % 65536)});
    } else {
      for (size_t i = 0; i < ref.size() && i < 4; ++i) ref[ref.size() - 1 - i] = static_cast<uint8_t>(id >> (8 * i));
    }
    return ref;
  }
  uint32_t RefId(const uint8_t* ref) const {
    if (FReferenceSize == kPageItemIDSize) {
      TORBPageItemID id = LoadPageItemID(ref);
      return static_cast<uint32_t>(id.PageNo) * 65536u + id.PageItemNo;
    }
    uint32_t v = 0;
    for (size_t i = 0; i < FReferenceSize && i < 4; ++i) v |= static_cast<uint32_t>(ref[FReferenceSize - 1 - i]) << (8 * i);
    return v;
  }

  bool FDescending;
  int64_t FCompareCount = 0;
};

using TEntry = std::pair<int64_t, uint32_t>;

// A tree on an in-memory page store; session 0.
class TreeFixture {
 public:
  static constexpr int32_t kSession = 0;

  explicit TreeFixture(uint16_t page_size, int32_t key_size = 8, bool descending = false, uint16_t reference_size = 6)
      : FPages(1000, page_size, 40), FKeyRef(key_size, descending, reference_size), FRoot(&FPages, &FKeyRef) {
    TORBBTreePage::CheckEntrySize(FPages.GetPageDataSize(), FKeyRef);
    FRoot.AddIndexPage(kSession);
    FRoot.InitAsRoot();
    FRootPageNo = FRoot.PageNo();
    FRoot.PutIndexPage();
  }

  // The root page, held until the returned object goes.
  TORBBTreePage Root() {
    TORBBTreePage root(&FPages, &FKeyRef);
    root.GetIndexPage(kSession, FRootPageNo);
    return root;
  }

  void Insert(int64_t key, uint32_t ref) {
    TORBKeyPath path;
    Root().InsertLeafEntry(kSession, FKeyRef.Key(key).data(), FKeyRef.Ref(ref).data(), path);
  }
  bool Delete(int64_t key, uint32_t ref) {
    TORBKeyPath path;
    return Root().DeleteLeafEntry(kSession, FKeyRef.Key(key).data(), FKeyRef.Ref(ref).data(), path);
  }
  TEntry At(const TORBKeyPath& path) {
    std::vector<uint8_t> key(static_cast<size_t>(FKeyRef.ShortKeySize())), ref(FKeyRef.ReferenceSize());
    Root().GetEntryAtPosition(kSession, path, key.data(), ref.data());
    return {FKeyRef.Load(key.data()), FKeyRef.RefId(ref.data())};
  }
  std::vector<TEntry> Forward() {
    std::vector<TEntry> out;
    TORBBTreePage root = Root();
    TORBKeyPath path;
    for (bool ok = root.GetFirstPosition(kSession, path); ok; ok = root.GetNextPosition(kSession, path))
      out.push_back(At(path));
    return out;
  }
  std::vector<TEntry> Backward() {
    std::vector<TEntry> out;
    TORBBTreePage root = Root();
    TORBKeyPath path;
    for (bool ok = root.GetLastPosition(kSession, path); ok; ok = root.GetPriorPosition(kSession, path))
      out.push_back(At(path));
    return out;
  }
  // Leaf pages, counted along the sibling links.
  int32_t LeafCount() {
    TORBBTreePage root = Root();
    TORBKeyPath path;
    if (!root.GetFirstPosition(kSession, path)) return 1;
    int32_t count = 0;
    for (int32_t page_no = path.Leaf().PageNo; page_no >= 0; ++count) {
      TORBBTreePage page(&FPages, &FKeyRef);
      page.GetIndexPage(kSession, page_no);
      page_no = page.RightPageNo();
    }
    return count;
  }
  int32_t Depth() { return Root().GetDepth(kSession); }
  void Check() { Root().CheckIntegrity(kSession); }

  FakePageManager FPages;
  IntKeyRef FKeyRef;
  TORBBTreePage FRoot;
  int32_t FRootPageNo = -1;
};

}  // namespace orb::testing
