#pragma once

// The constraints of one table: checking a posted record against them and
// keeping them tied to the table's fields and indexes by object ID.

#include <cstdint>

#include "engine/base/constraint_defs.h"
#include "engine/base/page_item_id.h"

namespace orb {

class TORBIndexDef;
class TORBTableData;
class TStream;

// Error codes of constraint checking and linking.
inline constexpr int32_t kErrNotNullFieldMissing = 30024;
inline constexpr int32_t kErrNotNullViolated = 30026;
inline constexpr int32_t kErrNotNullLinkField = 30027;
inline constexpr int32_t kErrCheckFieldMissing = 30028;
inline constexpr int32_t kErrCheckBelowMinimum = 30029;
inline constexpr int32_t kErrCheckAboveMaximum = 30030;
inline constexpr int32_t kErrConstraintCheckNotImplemented = 30036;
inline constexpr int32_t kErrConstraintLinkNotImplemented = 30037;
inline constexpr int32_t kErrConstraintNameNotImplemented = 30038;
inline constexpr int32_t kErrPrimaryKeyDuplicate = 30319;
inline constexpr int32_t kErrUniqueDuplicate = 30320;
inline constexpr int32_t kErrPrimaryKeyIndexMissing = 30325;
inline constexpr int32_t kErrUniqueIndexMissing = 30326;
inline constexpr int32_t kErrPrimaryKeyNull = 30330;
inline constexpr int32_t kErrPrimaryKeyFieldMissing = 30331;
inline constexpr int32_t kErrUniqueFieldMissing = 30332;

class TORBBaseConstraintManager {
 public:
  explicit TORBBaseConstraintManager(TORBTableData* table_data) : FTableData(table_data) {}
  virtual ~TORBBaseConstraintManager() = default;
  TORBBaseConstraintManager(const TORBBaseConstraintManager&) = delete;
  TORBBaseConstraintManager& operator=(const TORBBaseConstraintManager&) = delete;

  virtual void LoadMetadata(TStream& stream);
  virtual void SaveMetadata(TStream& stream) const;

  TORBConstraintDefs& ConstraintDefs() { return FConstraintDefs; }
  const TORBConstraintDefs& ConstraintDefs() const { return FConstraintDefs; }

  // Visits the constraints in order; the first violation raises (with
  // `raise_exception`) or gives false. Uniqueness (primary key, unique) is
  // checked only with `check_unique_indexes`.
  bool CheckConstraints(int32_t session_id, const uint8_t* new_record_buffer, const uint8_t* old_record_buffer,
                        bool to_insert, const TORBPageItemID& current_record_id, bool raise_exception,
                        bool check_unique_indexes);
  // Stores the object IDs of the constraint's index and fields, found by
  // name.
  void LinkObjectId(TORBConstraintDef& constraint_def);
  void LinkObjectIds();
  // Names every unnamed not-null and check constraint
  // "$C_NotNull$<table>$<column>" / "$C_Check$<table>$<column>", with a
  // random number appended while the name is taken.
  void FillConstraintAutoNames();
  // Adds and links the constraint the index implies (null when none); on
  // failure it is not added.
  TORBConstraintDef* AddConstraintFromIndex(const TORBIndexDef& index_def);
  // Deletes the first primary-key or unique constraint of the index.
  void DeleteConstraintForIndexID(int32_t index_object_id);

 private:
  TORBConstraintDefs FConstraintDefs;
  TORBTableData* FTableData;
};

}  // namespace orb
