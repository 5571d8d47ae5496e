// orbdb check: the integrity check of a database file.

#include <iostream>
#include <memory>
#include <string>

#include "engine/disk/integrity_check.h"
#include "engine/disk/integrity_tables.h"
#include "engine/disk/rollback_journal.h"
#include "engine/platform/codepage.h"
#include "tools/orbdb/command.h"

namespace orbdb {
namespace {

struct CheckOptions {
  std::string path;
  std::string password;
};

// Checks the file and every table's structures. Prints one line per
// inconsistency and returns 1, or prints "ok" and returns 0; a hot journal
// is reported alone (returning 1). The file is opened for reading only and shared, so it may be
// checked while other processes use it.
int RunCheck(const CheckOptions& options) {
  // The pages of an unfinished commit are half written until a writer
  // rolls it back: reported as such instead of as damage.
  if (orb::TORBRollbackJournal::ReadHot(options.path, 0, nullptr)) {
    std::cout << "journal: hot (an unfinished commit; the next open for writing rolls it back)\n";
    return 1;
  }
  orb::TORBIntegrityCheckOptions check;
  check.Password.Password = orb::Utf8ToAnsi(options.password);
  const orb::TORBIntegrityReport report = orb::CheckDatabaseWithTables(orb::PathToWide(options.path), check);
  if (report.IsOk()) {
    std::cout << "ok\n";
    return 0;
  }
  for (const std::string& line : report.Lines()) std::cout << line << "\n";
  return 1;
}

void AddCheckCommand(CLI::App& app) {
  CLI::App* sub = app.add_subcommand("check", "check the integrity of a database file");
  auto options = std::make_shared<CheckOptions>();
  sub->add_option("FILE", options->path, "the database file")->required();
  sub->add_option("--password", options->password, "the database password");
  OnRun(sub, [options] { return RunCheck(*options); });
}

const CommandRegistration kCheck{"check", AddCheckCommand};

}  // namespace
}  // namespace orbdb
