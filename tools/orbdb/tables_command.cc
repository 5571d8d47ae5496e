// orbdb tables: the tables of a database file, one a line: the name, a
// tab, the row count.

#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "engine/platform/codepage.h"
#include "tools/orbdb/command.h"
#include "tools/orbdb/table_access.h"

namespace orbdb {
namespace {

int RunTables(const DatabaseOptions& options) {
  std::unique_ptr<orb::TORBLocalSession> session = ConnectDatabase(options, true);
  std::vector<std::u16string> names;
  session->GetTablesList(names);
  for (const std::u16string& name : names) {
    const std::string text = orb::WideToUtf8(name);
    TTableCursor table(*session, text);
    std::cout << text << "\t" << table.Cursor().GetRecordCount() << "\n";
  }
  return std::cout.flush() ? 0 : 1;
}

void AddTablesCommand(CLI::App& app) {
  CLI::App* sub = app.add_subcommand("tables", "list the tables of a database file with their row counts");
  auto options = std::make_shared<DatabaseOptions>();
  AddDatabaseOptions(sub, *options);
  OnRun(sub, [options] { return RunTables(*options); });
}

const CommandRegistration kTables{"tables", AddTablesCommand};

}  // namespace
}  // namespace orbdb
