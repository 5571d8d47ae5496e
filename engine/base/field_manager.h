#pragma once

// The field manager every open table owns: its field definitions, record
// conversion between memory and disk form, default values and
// auto-increment values. Callers hold the table data's lock.

#include <cstdint>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/base/error_codes.h"
#include "engine/base/field_defs.h"
#include "engine/base/record_layout.h"

namespace orb {

class TORBTableData;
class TStream;

// What the field manager needs from an engine session: whether it works in
// multi-user mode, and its per-session last auto-increment values (named
// sequence values keyed by the object ID of the auto-increment field).
class TORBAutoincSession {
 public:
  virtual ~TORBAutoincSession() = default;
  virtual bool IsMultiUser() const = 0;
  // Records `value` as the last value of the sequence, replacing any
  // earlier one.
  virtual void SetSequenceLastValue(int32_t object_id, std::string_view name, int64_t value) = 0;
  // False when the session has no value for the sequence.
  virtual bool GetSequenceLastValue(int32_t object_id, int64_t& value) const = 0;
};

// Error codes of the field manager.
inline constexpr int32_t kErrBlobBlockSize = 10421;
inline constexpr int32_t kErrAutoincMaxValue = 20160;
inline constexpr int32_t kErrNoSequenceLastValue = 30012;
inline constexpr int32_t kErrAutoincFieldNo = 30402;
inline constexpr int32_t kErrAutoincValueNo = 30403;

// Layout members of a field definition.
TORBFieldLayout FieldLayoutOf(const TORBFieldDef& field);

// Field values between a memory record and the framework's buffers (see
// field_data.h). A field number out of range raises 10000 (get) or 10004
// (set); a missing record buffer 10003 (get) or kErrSetFieldDefsNoRecord (set).
bool GetFieldData(int32_t field_no, const TORBFieldDefs& field_defs, void* buffer, const uint8_t* record_buffer);
void SetFieldData(int32_t field_no, const TORBFieldDefs& field_defs, const void* buffer, uint8_t* record_buffer);

class TORBBaseFieldManager {
 public:
  explicit TORBBaseFieldManager(TORBTableData* table_data);
  virtual ~TORBBaseFieldManager() = default;
  TORBBaseFieldManager(const TORBBaseFieldManager&) = delete;
  TORBBaseFieldManager& operator=(const TORBBaseFieldManager&) = delete;

  TORBFieldDefs& FieldDefs() { return FFieldDefs; }
  const TORBFieldDefs& FieldDefs() const { return FFieldDefs; }
  TORBTableData* TableData() const { return FTableData; }
  const std::vector<int64_t>& LastAutoIncValues() const { return FLastAutoIncValues; }
  // REQUIRES: `values` holds one value per field (a copy of
  // LastAutoIncValues taken earlier).
  void RestoreLastAutoIncValues(std::vector<int64_t> values) { FLastAutoIncValues = std::move(values); }

  // Loads the field definitions, recomputes offsets and resets the last
  // auto-increment values.
  void LoadMetadata(TStream& stream);
  void SaveMetadata(TStream& stream) const;

  // At buffer[offset]: a 32-bit count, then that many 64-bit last values;
  // `offset` moves past them. A block that does not fit the buffer (or a
  // negative count) raises 10436 and changes nothing.
  void LoadMostUpdated(std::span<const uint8_t> buffer, int32_t& offset);
  void SaveMostUpdated(std::span<uint8_t> buffer, int32_t& offset) const;
  // Bytes SaveMostUpdated writes.
  int32_t MostUpdatedSize() const;

  void RecalcFieldOffsets() { FFieldDefs.RecalcFieldOffsets(); }
  // FAutoincInitialValue for auto-increment fields, 0 for the others.
  void InitLastAutoIncValues();

  int32_t GetMemoryRecordBufferSize() const { return FFieldDefs.GetMemoryRecordBufferSize(); }
  int32_t GetDiskRecordBufferSize() const { return FFieldDefs.GetDiskRecordBufferSize(); }
  void DiskRecordBufferToMemRecordBuffer(const uint8_t* disk_record, uint8_t* mem_record) const;
  void MemRecordBufferToDiskRecordBuffer(const uint8_t* mem_record, uint8_t* disk_record) const;
  // Same null bitmaps and same stored bytes of every field (a BLOB by its
  // page item id only).
  bool CompareRecordBuffers(const uint8_t* mem_record1, const uint8_t* mem_record2) const;
  // True when the table has a BLOB field; the first one must have a block
  // size above 0 (10421).
  bool BlobFieldsPresent() const;

  // Fills each non-BLOB field that has a default value: a default
  // expression is evaluated, a literal is copied, both converted to the
  // field's type (10433 when they do not convert). A default that is or
  // evaluates to null, or to an empty string, leaves the field null.
  virtual void ApplyDefaultValuesToRecordBuffer(TORBAutoincSession* session, uint8_t* record_buffer);
  // Null auto-increment fields get the next value; a value already present
  // moves the sequence forward when larger.
  virtual void ApplyAutoincsToRecordBuffer(TORBAutoincSession* session, uint8_t* record_buffer);
  // Advances the field's sequence by its step. A value beyond the field's
  // maximum (its own maximum when set, never more than the field's type
  // holds) restarts at the minimum when cycled, else raises 20160; the last
  // value stays advanced after the failure.
  virtual int64_t GetNextAutoincVal(int32_t field_no);
  // The next value, also recorded in the session.
  virtual int64_t GetNextAutoinc(TORBAutoincSession* session, int32_t field_no);
  // The session's last value for the field; without one a multi-user
  // session raises 30012 and a single-user session gets the table's last
  // value (0 for a field that is not auto-increment).
  virtual int64_t GetLastAutoinc(const TORBAutoincSession* session, int32_t field_no);
  // Moves the last value up to `inserted_value` when that is larger,
  // recording it in the session.
  void UpdateLastAutoinc(TORBAutoincSession* session, int32_t field_no, int64_t inserted_value);

 private:
  TORBFieldLayout FieldLayout(int32_t field_no) const;
  void CheckAutoincFieldNo(int32_t field_no, int32_t code) const;

  TORBFieldDefs FFieldDefs;
  TORBTableData* FTableData;
  std::vector<int64_t> FLastAutoIncValues;
};

}  // namespace orb
