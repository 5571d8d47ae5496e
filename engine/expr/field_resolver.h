#pragma once

#include <cstdint>
#include <string_view>

#include "engine/base/field_types.h"

namespace orb {

class TORBVariant;

// What a field reference is bound to.
struct TORBFieldInfo {
  int32_t FieldNo = -1;
  TORBAdvancedFieldType FieldType = aftUnknown;
  TORBBaseFieldType BaseFieldType = bftUnknown;
  int32_t FieldSize = 0;
  int32_t Precision = 0;
};

// The source of the fields an expression refers to: a table cursor for
// filters and defaults, a relational operator for SQL statements. Field
// nodes bind to it by name and read the current row through it.
class TORBFieldResolver {
 public:
  virtual ~TORBFieldResolver() = default;

  // Looks up `field_name`, optionally qualified by a table name or alias
  // (empty: any table), without regard to case. False when there is no
  // such field.
  virtual bool FindField(std::u16string_view table_name, std::u16string_view field_name,
                         TORBFieldInfo& info) = 0;

  // Reads the current row's value of a field found by FindField into
  // `value`: a null of the field's kind, or its data (which may borrow the
  // resolver's buffer until the row changes).
  virtual void ReadFieldValue(const TORBFieldInfo& info, TORBVariant& value) = 0;
};

}  // namespace orb
