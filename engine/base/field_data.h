#pragma once

// Moving single values between a memory-form record buffer and the
// framework's field buffers. A framework buffer holds one value in the
// framework's format for the field's type (native byte order):
//   aftShortint, aftSmallint, aftByte, aftWord       16-bit integer
//   aftInteger and the 32-bit-or-narrower autoincs   32-bit integer
//   aftLargeint, aftCardinal, aftAutoIncLargeint     64-bit integer
//   aftSingle, aftDouble, aftExtended, aftCurrency   double
//   aftBoolean                                       16-bit, 0 = false
//   dates, times, date-times                         engine form
//   strings                                          zero-terminated, at most
//                                                    the field's size
//   bytes                                            the field's memory size
// Integers are sign-extended from signed fields and zero-extended from
// unsigned ones; storing keeps the low-order bytes that fit the field.

#include <cstdint>

#include "engine/base/record_layout.h"

namespace orb {

// Bytes of the framework's buffer for a value of the field (0 for BLOBs,
// whose content travels through BLOB streams).
int32_t GetHostDataSize(const TORBFieldLayout& field);

// False when the field is null (`buffer` untouched). Otherwise true, and
// the value is written to `buffer` unless it is null or the field is a
// BLOB.
bool GetFieldData(int32_t field_no, const TORBFieldLayout& field, void* buffer, const uint8_t* record_buffer);

// Stores a framework value. A missing buffer, or an empty string for a
// string field, makes the field null and leaves its data bytes as they are.
// A stored string is cut to the field's size and the rest of the field is
// zeroed.
void SetFieldData(int32_t field_no, const TORBFieldLayout& field, const void* buffer, uint8_t* record_buffer);

// Writes a value that is already in the field's stored form (`size` bytes
// at `data`, a zero-terminated string for string fields) into the field and
// clears its null flag. Strings are cut to the field and terminated; any
// other value fills at most the field's size, and the rest of the field is
// zeroed.
void StoreFieldValue(int32_t field_no, const TORBFieldLayout& field, const void* data, int32_t size,
                     uint8_t* record_buffer);

// The same with the field looked up in the layout: a field number out of
// range raises 10000 (get) or 10004 (set); a missing record buffer 10003
// (get) or 10434 (set); a field that does not lie inside the record raises
// 10002 (get) or 10435 (set).
bool GetFieldData(int32_t field_no, const TORBRecordLayout& layout, void* buffer, const uint8_t* record_buffer);
void SetFieldData(int32_t field_no, const TORBRecordLayout& layout, const void* buffer, uint8_t* record_buffer);

// Integer value of an integer field as stored, sign-extended from signed
// types and zero-extended from unsigned ones. The field must be one of the
// integer base types.
int64_t ReadStoredInteger(TORBBaseFieldType type, const uint8_t* data);
// Stores the low-order bytes of `value` that the integer type holds.
void WriteStoredInteger(TORBBaseFieldType type, int64_t value, uint8_t* data);
// Smallest and largest value an integer base type holds.
int64_t StoredIntegerMin(TORBBaseFieldType type);
int64_t StoredIntegerMax(TORBBaseFieldType type);
bool IsStoredIntegerType(TORBBaseFieldType type);

}  // namespace orb
