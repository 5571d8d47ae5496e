#pragma once

// The record keeper's storage until the database and table components are
// part of the build: it has no table, refuses a missing data file with the
// database's own error, and otherwise says that the storage engine
// components are not available. Nothing is ever stored or faked.

#include <string>

#include "app/jotbin_storage.h"

namespace orb {

// The error opening a data file that exists.
inline constexpr char kSStorageNotAvailable[] =
    "The storage engine components are not available in this build: the data file cannot be opened.";

class TJotbinUnconnectedStorage final : public TJotbinStorage {
 public:
  TDataSet* Table() override { return nullptr; }
  void OpenDatabase(const std::string& file_name) override;
  void OpenTable(const std::string& table_name) override;
  void CloseDatabase() override {}
};

}  // namespace orb
