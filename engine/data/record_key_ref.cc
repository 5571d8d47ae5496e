#include "engine/data/record_key_ref.h"

#include <algorithm>
#include <cstring>

#include "engine/base/field_defs.h"
#include "engine/base/field_manager.h"
#include "engine/base/orb_exception.h"
#include "engine/base/record_layout.h"
#include "engine/base/variant_compare.h"
#include "engine/data/record_manager.h"
#include "engine/data/table_data.h"

namespace orb {

namespace {

constexpr int32_t kErrIndexFieldNotFound = 20043;
constexpr int32_t kErrIndexNoFieldManager = 20044;
constexpr int32_t kErrIndexNoFieldDefs = 20045;
constexpr int32_t kErrIndexBlobField = 20295;
constexpr int32_t kErrRetrieveRecord = 20170;

bool IsWide(TORBBaseFieldType type) { return type == bftWideChar || type == bftWideVarchar; }
bool IsCuttable(TORBBaseFieldType type) {
  return type == bftChar || type == bftVarchar || IsWide(type);
}

// The stored prefix has no terminator: the string may go on beyond it.
bool FillsStoredWidth(const uint8_t* value, int32_t stored_bytes, TORBBaseFieldType type) {
  if (IsWide(type)) {
    for (int32_t i = 0; i + 1 < stored_bytes; i += 2)
      if (value[i] == 0 && value[i + 1] == 0) return false;
    return true;
  }
  return std::memchr(value, 0, static_cast<size_t>(stored_bytes)) == nullptr;
}

// Orders two non-null integer values of `type` held in `size` bytes each,
// as the general value comparison does (host byte order, the integer's
// own width); false when `type` is no integer kind of at most `size`
// bytes, and the general comparison decides.
template <class T>
bool OrderOf(const uint8_t* a, const uint8_t* b, int32_t size, int& order) {
  if (size < static_cast<int32_t>(sizeof(T))) return false;
  T x, y;
  std::memcpy(&x, a, sizeof(T));
  std::memcpy(&y, b, sizeof(T));
  order = x < y ? -1 : (y < x ? 1 : 0);
  return true;
}

bool IntegerOrder(TORBBaseFieldType type, const uint8_t* a, const uint8_t* b, int32_t size, int& order) {
  switch (type) {
    case bftSignedInt8: return OrderOf<int8_t>(a, b, size, order);
    case bftSignedInt16: return OrderOf<int16_t>(a, b, size, order);
    case bftSignedInt32: return OrderOf<int32_t>(a, b, size, order);
    case bftSignedInt64: return OrderOf<int64_t>(a, b, size, order);
    case bftUnsignedInt8: return OrderOf<uint8_t>(a, b, size, order);
    case bftUnsignedInt16: return OrderOf<uint16_t>(a, b, size, order);
    case bftUnsignedInt32: return OrderOf<uint32_t>(a, b, size, order);
    case bftDate:
    case bftTime: return OrderOf<int32_t>(a, b, size, order);
    default: return false;
  }
}

}  // namespace

void TORBRecordKeyRef::SetPartCount(int32_t count) {
  TORBBTreeKeyRef::SetPartCount(count);
  FCompareLengths.assign(FParts.size(), -1);
}

void TORBRecordKeyRef::Assign(const TORBIndexDef& index_def, TORBTableData* table_data) {
  LTableData = table_data;
  if (table_data == nullptr || table_data->FieldManager() == nullptr)
    RaiseORB(kErrIndexNoFieldManager, "Pointer is nil");
  const TORBFieldDefs& fields = table_data->FieldManager()->FieldDefs();
  if (fields.GetCount() == 0) RaiseORB(kErrIndexNoFieldDefs, "Pointer is nil");
  SetPartCount(index_def.GetColumnCount());
  int32_t short_offset = 0;
  int32_t full_offset = 0;
  for (int32_t i = 0; i < index_def.GetColumnCount(); ++i) {
    const TORBIndexColumn* column = index_def.GetIndexColumn(i);
    const int32_t field_no = fields.GetDefNumberByName(std::u16string_view(column->GetFieldName()));
    if (field_no < 0) RaiseORB(kErrIndexFieldNotFound, "Cannot find index field '%s'", {column->GetFieldName()});
    const TORBFieldDef* field = fields.GetDef(field_no);
    const TORBBaseFieldType type = field->FBaseFieldType;
    if (type == bftBlob || type == bftClob || type == bftWideClob || type == bftBFile)
      RaiseORB(kErrIndexBlobField,
               "Cannot index BLOB field '%s'. Direct indexing of BLOB fields is not supported yet, please use "
               "CAST(blob_field, string) function to convert BLOB field to a string expression before indexing.",
               {column->GetFieldName()});
    TORBKeyPart& part = FParts[static_cast<size_t>(i)];
    part.OffsetInRecordBuffer = field->FMemoryOffset;
    part.FieldNo = field_no;
    part.DataType = type;
    part.Descending = column->FDescending;
    part.CaseInsensitive = column->FCaseInsensitive;
    part.FullSize = field->FMemoryDataSize + 1;
    // Only strings are cut (a cut number would not order), never to
    // nothing, and wide strings on whole characters.
    int32_t kept = column->FMaxIndexedSize;
    if (IsWide(type)) kept &= ~1;
    if (IsCuttable(type) && kept > 0 && kept < field->FMemoryDataSize) {
      part.AddedSize = 2;
      part.ShortSize = kept + 3;
    } else {
      part.AddedSize = 0;
      part.ShortSize = field->FMemoryDataSize + 1;
    }
    part.OffsetInShortKeyBuffer = short_offset;
    part.OffsetInFullKeyBuffer = full_offset;
    short_offset += part.ShortSize;
    full_offset += part.FullSize;
  }
  FShortKeySize = short_offset;
  FFullKeySize = full_offset;
  FReferenceSize = kPageItemIDSize;
  FCompareFieldCount = GetPartCount();
  FFullKeyCache.clear();
}

void TORBRecordKeyRef::MakeShortKeyFromRecordBuffer(const uint8_t* record_buffer, uint8_t* key_buffer) {
  LRecordBuffer = record_buffer;
  std::memset(key_buffer, 0, static_cast<size_t>(FShortKeySize));
  for (const TORBKeyPart& part : FParts) {
    uint8_t* out = key_buffer + part.OffsetInShortKeyBuffer;
    if (CheckNullFlag(part.FieldNo, record_buffer)) {
      out[0] = BTreeKeyIsNull;
      continue;
    }
    out[0] = BTreeKeyIsNotNull;
    std::memcpy(out + 1, record_buffer + part.OffsetInRecordBuffer,
                static_cast<size_t>(part.ShortSize - part.AddedSize - 1));
  }
}

void TORBRecordKeyRef::MakeFullKeyFromRecordBuffer(const uint8_t* record_buffer, uint8_t* key_buffer) const {
  std::memset(key_buffer, 0, static_cast<size_t>(FFullKeySize));
  for (const TORBKeyPart& part : FParts) {
    uint8_t* out = key_buffer + part.OffsetInFullKeyBuffer;
    if (CheckNullFlag(part.FieldNo, record_buffer)) {
      out[0] = BTreeKeyIsNull;
      continue;
    }
    out[0] = BTreeKeyIsNotNull;
    std::memcpy(out + 1, record_buffer + part.OffsetInRecordBuffer, static_cast<size_t>(part.FullSize - 1));
  }
}

int TORBRecordKeyRef::CompareParts(const uint8_t* key1, const uint8_t* key2, bool short_keys,
                                   bool* need_full_keys) {
  *need_full_keys = false;
  const int32_t count = std::min(FCompareFieldCount, GetPartCount());
  for (int32_t i = 0; i < count; ++i) {
    const TORBKeyPart& part = FParts[static_cast<size_t>(i)];
    const int32_t offset = short_keys ? part.OffsetInShortKeyBuffer : part.OffsetInFullKeyBuffer;
    const int32_t size = (short_keys ? part.ShortSize : part.FullSize) - 1;
    const uint8_t* p1 = key1 + offset;
    const uint8_t* p2 = key2 + offset;
    const bool null1 = p1[0] == BTreeKeyIsNull;
    const bool null2 = p2[0] == BTreeKeyIsNull;
    const int32_t length = i < static_cast<int32_t>(FCompareLengths.size()) ? FCompareLengths[static_cast<size_t>(i)]
                                                                            : -1;
    int order;
    if (null1 || null2) {
      order = null1 == null2 ? 0 : (null1 ? -1 : 1);
    } else if (!IntegerOrder(part.DataType, p1 + 1, p2 + 1, size, order)) {
      order = CompareValueBuffersForOrder({p1 + 1, size, part.DataType, false}, {p2 + 1, size, part.DataType, false},
                                          length, part.CaseInsensitive);
    }
    if (order == 0 && short_keys && part.AddedSize > 0 && !null1 && !null2) {
      const int32_t stored_bytes = part.ShortSize - part.AddedSize - 1;
      const int32_t stored_chars = IsWide(part.DataType) ? stored_bytes / 2 : stored_bytes;
      const bool prefix_decides = length >= 0 && length <= stored_chars;
      if (!prefix_decides && (FillsStoredWidth(p1 + 1, stored_bytes, part.DataType) ||
                              FillsStoredWidth(p2 + 1, stored_bytes, part.DataType))) {
        *need_full_keys = true;
        return 0;
      }
    }
    if (part.Descending) order = -order;
    if (order != 0) return order;
  }
  return 0;
}

int TORBRecordKeyRef::CompareFullKeys(const uint8_t* key1, const uint8_t* key2) {
  bool unused;
  return CompareParts(key1, key2, false, &unused);
}

int TORBRecordKeyRef::CompareShortKeysWithFullKeys(const uint8_t* key1, const uint8_t* key2,
                                                   const uint8_t* full_key1, const uint8_t* full_key2) {
  bool need_full_keys;
  const int order = CompareParts(key1, key2, true, &need_full_keys);
  return need_full_keys ? CompareFullKeys(full_key1, full_key2) : order;
}

int TORBRecordKeyRef::CompareShortKeys(const uint8_t* key1, const uint8_t* key2, bool may_use_full_keys,
                                       int32_t session_id, const uint8_t* reference1, const uint8_t* reference2) {
  bool need_full_keys;
  const int order = CompareParts(key1, key2, true, &need_full_keys);
  if (!need_full_keys) return order;
  // A side without a reference is the key last made from a record buffer.
  if (!may_use_full_keys || (reference1 == nullptr && reference2 == nullptr) || LRecordBuffer == nullptr) {
    if (!may_use_full_keys || reference1 == nullptr || reference2 == nullptr) return 0;
  }
  TORBFullKeyCacheScope scope(*this);
  auto full_key = [&](const uint8_t* reference) -> const uint8_t* {
    if (reference != nullptr) return CachedFullKey(reference, session_id);
    FBufferFullKey.resize(static_cast<size_t>(std::max(FFullKeySize, 1)));
    MakeFullKeyFromRecordBuffer(LRecordBuffer, FBufferFullKey.data());
    return FBufferFullKey.data();
  };
  const uint8_t* full1 = full_key(reference1);
  const uint8_t* full2 = full_key(reference2);
  return CompareFullKeys(full1, full2);
}

namespace {
uint64_t CacheSlot(const TORBPageItemID& id) {
  return (static_cast<uint64_t>(static_cast<uint32_t>(id.PageNo)) << 16) | id.PageItemNo;
}
}  // namespace

void TORBRecordKeyRef::RememberFullKey(const TORBPageItemID& record_id, const uint8_t* full_key) {
  FFullKeyCache[CacheSlot(record_id)].assign(full_key, full_key + std::max(FFullKeySize, 1));
}

const uint8_t* TORBRecordKeyRef::CachedFullKey(const uint8_t* reference, int32_t session_id) {
  const TORBPageItemID id = LoadPageItemID(reference);
  const uint64_t slot = CacheSlot(id);
  auto it = FFullKeyCache.find(slot);
  if (it == FFullKeyCache.end()) {
    std::vector<uint8_t> key(static_cast<size_t>(std::max(FFullKeySize, 1)));
    RetrieveFullKeyByRecordID(id, key.data(), session_id);
    it = FFullKeyCache.emplace(slot, std::move(key)).first;
  }
  return it->second.data();
}

void TORBRecordKeyRef::SetPartialCompare(const uint8_t* record_buffer, bool partial_compare) {
  FCompareLengths.assign(FParts.size(), -1);
  if (!partial_compare || record_buffer == nullptr) return;
  for (size_t i = 0; i < FParts.size(); ++i) {
    const TORBKeyPart& part = FParts[i];
    if (!IsCuttable(part.DataType) || CheckNullFlag(part.FieldNo, record_buffer)) continue;
    const uint8_t* value = record_buffer + part.OffsetInRecordBuffer;
    const int32_t bytes = part.FullSize - 1;
    int32_t length = 0;
    if (IsWide(part.DataType)) {
      while (length * 2 + 1 < bytes && (value[length * 2] != 0 || value[length * 2 + 1] != 0)) ++length;
    } else {
      while (length < bytes && value[length] != 0) ++length;
    }
    FCompareLengths[i] = length;
  }
}

void TORBRecordKeyRef::RetrieveFullKeyByRecordID(const TORBPageItemID& record_id, uint8_t* key_buffer,
                                                 int32_t session_id) {
  if (LTableData == nullptr || LTableData->RecordManager() == nullptr)
    RaiseORB(kErrRetrieveRecord, "Cannot retrieve record for index");
  FRecordScratch.assign(static_cast<size_t>(std::max(LTableData->RecordManager()->FRecordBufferSize, 1)), 0);
  ++FRecordReads;
  if (LTableData->ReadRecordByID(session_id, record_id, FRecordScratch.data()) != grrOK)
    RaiseORB(kErrRetrieveRecord, "Cannot retrieve record for index");
  MakeFullKeyFromRecordBuffer(FRecordScratch.data(), key_buffer);
}

}  // namespace orb
