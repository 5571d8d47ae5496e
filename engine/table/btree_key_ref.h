#pragma once

// Key semantics of a B-tree. The page code stores keys as opaque byte
// strings of a fixed size and asks a key reference to order them; the
// record index (keys built from record fields, references = record IDs)
// and the page indexes (keys = page numbers, references = a 16-bit value)
// each supply one.

#include <cstdint>
#include <vector>

#include "engine/base/field_types.h"

namespace orb {

// One key column: where its bytes sit in the short (stored) key, the full
// key and the record buffer, and how it orders.
struct TORBKeyPart {
  int32_t OffsetInShortKeyBuffer = 0;
  int32_t OffsetInFullKeyBuffer = 0;
  int32_t OffsetInRecordBuffer = 0;
  int32_t FieldNo = 0;
  int32_t ShortSize = 0;
  int32_t FullSize = 0;
  // Bytes of the short key beyond the stored prefix of a cut string.
  int32_t AddedSize = 0;
  TORBBaseFieldType DataType = bftUnknown;
  bool Descending = false;
  bool CaseInsensitive = false;
};

// Abstract key semantics. Sizes are fixed for the life of a tree: every
// leaf entry holds FShortKeySize key bytes and FReferenceSize reference
// bytes.
class TORBBTreeKeyRef {
 public:
  TORBBTreeKeyRef() = default;
  virtual ~TORBBTreeKeyRef() = default;
  TORBBTreeKeyRef(const TORBBTreeKeyRef&) = delete;
  TORBBTreeKeyRef& operator=(const TORBBTreeKeyRef&) = delete;

  // Resizes the parts (new parts default) and compares all of them.
  virtual void SetPartCount(int32_t count);
  int32_t GetPartCount() const { return static_cast<int32_t>(FParts.size()); }

  // Orders two short keys: -1, 0 or 1. With `may_use_full_keys` a key
  // reference whose short keys are cut prefixes may resolve a tie through
  // the records the references name (`reference1`/`reference2` may be
  // null: no record known for that side). References never decide here:
  // the tree compares them itself (CompareReferences) when keys tie.
  virtual int CompareShortKeys(const uint8_t* key1, const uint8_t* key2, bool may_use_full_keys,
                               int32_t session_id, const uint8_t* reference1,
                               const uint8_t* reference2) = 0;
  // Orders two full keys: -1, 0 or 1.
  virtual int CompareFullKeys(const uint8_t* key1, const uint8_t* key2) = 0;

  // Zero-filled key buffers from the engine's memory manager; give them
  // back with FreeAndNilKeyBuffer.
  uint8_t* AllocShortKeyBuffer() const;
  uint8_t* AllocFullKeyBuffer() const;
  static void FreeAndNilKeyBuffer(uint8_t*& buffer);

  // Orders two references of `size` bytes: record IDs (size 6) by PageNo
  // (signed) then PageItemNo; anything else as unsigned bytes from the
  // first.
  static int CompareReferences(const uint8_t* reference1, const uint8_t* reference2, int32_t size);

  int32_t ShortKeySize() const { return FShortKeySize; }
  int32_t FullKeySize() const { return FFullKeySize; }
  uint16_t ReferenceSize() const { return FReferenceSize; }
  // Short keys hold whole keys: equal keys are equal records' keys, so
  // equal keys must come with distinct references.
  bool StoresWholeKeys() const { return FShortKeySize == FFullKeySize; }
  std::vector<TORBKeyPart>& Parts() { return FParts; }
  const std::vector<TORBKeyPart>& Parts() const { return FParts; }

  int32_t FShortKeySize = 0;
  int32_t FFullKeySize = 0;
  uint16_t FReferenceSize = 0;
  bool FKeyIsReference = false;
  // Parts taking part in comparisons, from the first; normally all.
  int32_t FCompareFieldCount = 0;

 protected:
  std::vector<TORBKeyPart> FParts;
};

// Keys of the page indexes: one signed 32-bit page number (4 bytes,
// little-endian), references a 16-bit value.
class TORBPageKeyRef : public TORBBTreeKeyRef {
 public:
  TORBPageKeyRef();

  int CompareShortKeys(const uint8_t* key1, const uint8_t* key2, bool may_use_full_keys, int32_t session_id,
                       const uint8_t* reference1, const uint8_t* reference2) override;
  int CompareFullKeys(const uint8_t* key1, const uint8_t* key2) override;
};

}  // namespace orb
