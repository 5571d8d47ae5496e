// orbdb sql: runs an SQL script (from -c or standard input) on a database
// file; the first failing statement stops it with the engine's error.

#include <iostream>
#include <iterator>
#include <memory>
#include <string>

#include "engine/sql/sql_processor.h"
#include "tools/orbdb/command.h"
#include "tools/orbdb/table_access.h"

namespace orbdb {
namespace {

struct SqlOptions {
  DatabaseOptions database;
  std::string command;
  bool has_command = false;
};

int RunSql(const SqlOptions& o) {
  std::string script = o.command;
  if (!o.has_command) script.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
  auto session = ConnectDatabase(o.database, false);
  {
    orb::TORBSQLProcessor processor(*session);
    processor.ExecuteScript(script);
  }
  session->SetConnected(false);
  return 0;
}

void AddSqlCommand(CLI::App& app) {
  CLI::App* sub = app.add_subcommand("sql", "run SQL statements (from -c or standard input)");
  auto options = std::make_shared<SqlOptions>();
  AddDatabaseOptions(sub, options->database);
  CLI::Option* command = sub->add_option("-c", options->command, "the statements to run")->type_name("SQL");
  OnRun(sub, [options, command] {
    options->has_command = command->count() > 0;
    return RunSql(*options);
  });
}

const CommandRegistration kSql{"sql", AddSqlCommand};

}  // namespace
}  // namespace orbdb
