#pragma once

#include <string>
#include <string_view>

#include "engine/disk/integrity_check.h"

namespace orb {

// The structures of every table the table list names, walked through the
// table's metadata: the record page index and the record pages it lists
// (slot counts against the index and the stored row count, the pages'
// table id), every BLOB value the rows name (read and checked whole), the
// BLOB page index, and every index tree (its own integrity check). Claims
// every page it reaches for the table; whatever is damaged is reported as
// a finding of the table and ends the walk of that structure only.
class TORBTableStructuresCheck : public TORBIntegrityCheckStep {
 public:
  std::string_view Name() const override { return "table structures"; }
  void Run(TORBIntegrityContext& context) override;
};

// Checks `file_name` with the standard steps and the table structures.
TORBIntegrityReport CheckDatabaseWithTables(const std::u16string& file_name, const TORBIntegrityCheckOptions& options);

}  // namespace orb
