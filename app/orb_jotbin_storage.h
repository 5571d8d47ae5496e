#pragma once

// The record keeper's storage over the engine: one database component and
// one table component, set up as the window's design has them. The table
// names the database component by its DatabaseName, so it finds it through
// the default session and shares its connection.
//
// Table JB holds: numero integer (never written by the window), info a
// formatted memo, tab1 / tab2 / tab3 strings of 20 characters. Opening
// never creates the data file or the table.

#include <string>

#include "app/jotbin_storage.h"
#include "components/orb_database.h"
#include "components/orb_table.h"

namespace orb {

// The database component's name, which the table uses to find it.
inline constexpr char kJotbinDatabaseName[] = "JBData.orb";

class TJotbinORBStorage final : public TJotbinStorage {
 public:
  TJotbinORBStorage();
  TJotbinORBStorage(const TJotbinORBStorage&) = delete;
  TJotbinORBStorage& operator=(const TJotbinORBStorage&) = delete;

  TDataSet* Table() override { return &FTable; }
  void OpenDatabase(const std::string& file_name) override;
  void OpenTable(const std::string& table_name) override;
  void CloseDatabase() override { FDatabase.Close(); }

  TORBDatabase& ORBDatabase1() { return FDatabase; }
  TORBTable& ORBTable1() { return FTable; }

 private:
  // Declared first: the table lets go of the database before it goes.
  TORBDatabase FDatabase;
  TORBTable FTable;
};

// Writes a new data file `file_name` holding an empty table JB.
void CreateJotbinDataFile(const std::string& file_name);

}  // namespace orb
