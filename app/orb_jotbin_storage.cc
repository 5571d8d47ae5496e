#include "app/orb_jotbin_storage.h"

#include "app/form1.h"

namespace orb {

namespace {

void DefineJotbinFields(TORBTable& table) {
  table.FieldDefs().Clear();
  table.FieldDefs().Add("numero", ftInteger);
  table.FieldDefs().Add("info", ftFmtMemo);
  table.FieldDefs().Add("tab1", ftString, 20);
  table.FieldDefs().Add("tab2", ftString, 20);
  table.FieldDefs().Add("tab3", ftString, 20);
}

}  // namespace

TJotbinORBStorage::TJotbinORBStorage() {
  FDatabase.SetDatabaseName(kJotbinDatabaseName);
  FDatabase.SetDatabaseFileName("./JBdata.orb");
  FDatabase.SetExclusive(false);
  FDatabase.SetMultiUser(false);
  FDatabase.SetMaxConnections(500);
  FDatabase.SetSessionName("Default");
  FTable.SetDatabaseName(kJotbinDatabaseName);
  FTable.SetTableName("JB.orb");
  FTable.SetReadOnly(false);
  FTable.SetExclusive(false);
  FTable.SetStoreDefs(true);
  DefineJotbinFields(FTable);
}

void TJotbinORBStorage::OpenDatabase(const std::string& file_name) {
  // Another file: the database open under the old name closes first.
  if (FDatabase.DatabaseFileName() != file_name) {
    FDatabase.Close();
    FDatabase.SetDatabaseFileName(file_name);
  }
  FDatabase.Open();
}

void TJotbinORBStorage::OpenTable(const std::string& table_name) {
  FTable.SetTableName(table_name);
  FTable.Open();
}

void CreateJotbinDataFile(const std::string& file_name) {
  TORBDatabase database;
  database.SetDatabaseName("JotbinCreator");
  database.SetDatabaseFileName(file_name);
  database.SetMaxConnections(500);
  database.CreateDatabase();
  database.Open();
  TORBTable table;
  table.SetDatabaseName("JotbinCreator");
  table.SetTableName(kTableName);
  DefineJotbinFields(table);
  table.CreateTable();
  database.Close();
}

}  // namespace orb
