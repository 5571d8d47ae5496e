#pragma once

// Keys of the record indexes: built from the index columns of a
// memory-form record buffer, ordered by the engine's value order.
//
// Key part layout (short and full keys alike), parts back to back in
// index column order:
// | offset | size         | meaning                                        |
// |      0 | 1            | marker: 1 the field is null, 0 it is not       |
// |      1 | ShortSize-1  | short key: the first ShortSize-AddedSize-1     |
// |        | (FullSize-1) | bytes of the field in record memory form, then |
// |        |              | AddedSize zero bytes ending a cut string; full |
// |        |              | key: every byte of the field                   |
// A null field leaves its bytes zero.
//
// Long string columns are stored cut to a prefix (AddedSize 2). Two
// prefixes that tie at full stored width are ordered by the full keys of
// their records, read through the table's record manager.

#include <algorithm>
#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

#include "engine/base/index_defs.h"
#include "engine/base/page_item_id.h"
#include "engine/table/btree_key_ref.h"

namespace orb {

class TORBTableData;

inline constexpr uint8_t BTreeKeyIsNull = 1;
inline constexpr uint8_t BTreeKeyIsNotNull = 0;

class TORBRecordKeyRef : public TORBBTreeKeyRef {
 public:
  TORBRecordKeyRef() { FReferenceSize = kPageItemIDSize; }

  // Parts from the index columns: 20043 for an unknown column, 20295 for a
  // BLOB column, 20044 / 20045 for a table without field manager or
  // definitions. REQUIRES: `table_data` outlives the key reference.
  void Assign(const TORBIndexDef& index_def, TORBTableData* table_data);
  // Also compares every part whole.
  void SetPartCount(int32_t count) override;

  // Remembers `record_buffer` as the source of the key's full key.
  void MakeShortKeyFromRecordBuffer(const uint8_t* record_buffer, uint8_t* key_buffer);
  void MakeFullKeyFromRecordBuffer(const uint8_t* record_buffer, uint8_t* key_buffer) const;

  // Part by part over FCompareFieldCount parts: nulls first, descending
  // parts inverted. Prefixes tied at full stored width are resolved with
  // `may_use_full_keys` through the full keys of the records the
  // references name; one side without a reference is the record buffer a
  // short key was last made from. Unresolved ties compare equal.
  int CompareShortKeys(const uint8_t* key1, const uint8_t* key2, bool may_use_full_keys, int32_t session_id,
                       const uint8_t* reference1, const uint8_t* reference2) override;
  int CompareFullKeys(const uint8_t* key1, const uint8_t* key2) override;
  // CompareShortKeys with both full keys at hand (no record is read).
  int CompareShortKeysWithFullKeys(const uint8_t* key1, const uint8_t* key2, const uint8_t* full_key1,
                                   const uint8_t* full_key2);

  // With `partial_compare`, every string part that is not null in
  // `record_buffer` compares over that string's length only; otherwise
  // (and for all other parts) whole values compare.
  void SetPartialCompare(const uint8_t* record_buffer, bool partial_compare);
  // Reads the record and builds its full key; 20170 when it cannot be read.
  void RetrieveFullKeyByRecordID(const TORBPageItemID& record_id, uint8_t* key_buffer, int32_t session_id);

  // Gives the open cache scope the full key of a record, so that no
  // comparison reads it. REQUIRES: a TORBFullKeyCacheScope is open.
  void RememberFullKey(const TORBPageItemID& record_id, const uint8_t* full_key);

  std::vector<int32_t>& CompareLengths() { return FCompareLengths; }
  // Every part compares, whole (the state SetPartialCompare(nullptr,
  // false) and a full FCompareFieldCount give).
  bool ComparesWholeKeys() const {
    return FCompareFieldCount == GetPartCount() && FCompareLengths.size() == FParts.size() &&
           std::all_of(FCompareLengths.begin(), FCompareLengths.end(), [](int32_t length) { return length == -1; });
  }
  // Records read to resolve prefixes, since creation.
  int64_t RecordReads() const { return FRecordReads; }

  const uint8_t* LRecordBuffer = nullptr;
  TORBTableData* LTableData = nullptr;

 private:
  friend class TORBFullKeyCacheScope;
  // Full key of the record a reference names, read once while a cache
  // scope is open (else once per comparison).
  const uint8_t* CachedFullKey(const uint8_t* reference, int32_t session_id);
  int CompareParts(const uint8_t* key1, const uint8_t* key2, bool short_keys, bool* need_full_keys);

  std::vector<int32_t> FCompareLengths;
  std::unordered_map<uint64_t, std::vector<uint8_t>> FFullKeyCache;
  std::vector<uint8_t> FBufferFullKey;
  std::vector<uint8_t> FRecordScratch;
  int32_t FCacheDepth = 0;
  int64_t FRecordReads = 0;
};

// Keeps the full keys read while it lives (one search, one build, one
// walk): each record is read at most once. Records must not change
// meanwhile. With `operation`, the scope is one index operation: the
// record buffer its keys were made from is forgotten at its end (the
// caller's buffer may not outlive it).
class TORBFullKeyCacheScope {
 public:
  explicit TORBFullKeyCacheScope(TORBRecordKeyRef& key_ref, bool operation = false)
      : FKeyRef(key_ref), FOperation(operation) {
    ++FKeyRef.FCacheDepth;
  }
  ~TORBFullKeyCacheScope() {
    // clear() walks the whole bucket array even when nothing is cached.
    if (--FKeyRef.FCacheDepth == 0 && !FKeyRef.FFullKeyCache.empty()) FKeyRef.FFullKeyCache.clear();
    if (FOperation) FKeyRef.LRecordBuffer = nullptr;
  }
  TORBFullKeyCacheScope(const TORBFullKeyCacheScope&) = delete;
  TORBFullKeyCacheScope& operator=(const TORBFullKeyCacheScope&) = delete;

 private:
  TORBRecordKeyRef& FKeyRef;
  bool FOperation;
};

// Restores the compared part count and the compare lengths on every exit.
// Lengths that are all -1 (whole values, the usual state) are restored
// without a copy.
class TORBCompareStateSaver {
 public:
  explicit TORBCompareStateSaver(TORBRecordKeyRef& key_ref)
      : FKeyRef(key_ref), FCount(key_ref.FCompareFieldCount), FLengthCount(key_ref.CompareLengths().size()) {
    const std::vector<int32_t>& lengths = key_ref.CompareLengths();
    FAllWhole = std::all_of(lengths.begin(), lengths.end(), [](int32_t length) { return length == -1; });
    if (!FAllWhole) FLengths = lengths;
  }
  ~TORBCompareStateSaver() {
    FKeyRef.FCompareFieldCount = FCount;
    if (FAllWhole)
      FKeyRef.CompareLengths().assign(FLengthCount, -1);
    else
      FKeyRef.CompareLengths().swap(FLengths);
  }
  TORBCompareStateSaver(const TORBCompareStateSaver&) = delete;
  TORBCompareStateSaver& operator=(const TORBCompareStateSaver&) = delete;

 private:
  TORBRecordKeyRef& FKeyRef;
  int32_t FCount;
  size_t FLengthCount;
  bool FAllWhole;
  std::vector<int32_t> FLengths;
};

// Whole-key comparison over every part while it lives, the previous
// state restored after; costs nothing when that state is set already (the
// usual case between operations).
class TORBWholeCompareScope {
 public:
  explicit TORBWholeCompareScope(TORBRecordKeyRef& key_ref) {
    if (key_ref.ComparesWholeKeys()) return;
    FSaver.emplace(key_ref);
    key_ref.SetPartialCompare(nullptr, false);
    key_ref.FCompareFieldCount = key_ref.GetPartCount();
  }
  TORBWholeCompareScope(const TORBWholeCompareScope&) = delete;
  TORBWholeCompareScope& operator=(const TORBWholeCompareScope&) = delete;

 private:
  std::optional<TORBCompareStateSaver> FSaver;
};

}  // namespace orb
