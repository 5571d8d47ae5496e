#pragma once

// What the record keeper's window needs of its storage: the database
// component and the table component it opens at start-up and closes when
// it is done. The window shows the table through a data source; all reads
// and writes are the table's own operations.

#include <string>

#include "components/orb_database.h"  // kSDatabaseFileMissing, the message of a missing file

namespace orb {

class TDataSet;


// kSDatabaseFileMissing with `path` in place of the placeholder.
std::string DatabaseFileMissingMessage(const std::string& path);

class TJotbinStorage {
 public:
  virtual ~TJotbinStorage() = default;

  // The table component the window's data source shows, open or closed;
  // nullptr when there is none.
  virtual TDataSet* Table() = 0;
  // Sets the database's file name to `file_name` and opens it (a missing
  // file is not created: kSDatabaseFileMissing).
  virtual void OpenDatabase(const std::string& file_name) = 0;
  // Sets the table's name to `table_name` and opens it (a missing table is
  // not created).
  virtual void OpenTable(const std::string& table_name) = 0;
  // Closes the database (the table is closed first by the window).
  virtual void CloseDatabase() = 0;
};

}  // namespace orb
