#include "tools/orbdb/table_access.h"

#include <iostream>

#include "engine/base/error_codes.h"
#include "engine/base/orb_exception.h"
#include "engine/platform/codepage.h"

namespace orbdb {

void AddDatabaseOptions(CLI::App* sub, DatabaseOptions& options) {
  sub->add_option("FILE", options.path, "the database file")->required();
  sub->add_option("--password", options.password, "the database password");
  sub->add_flag("--exclusive", options.exclusive, "open the file alone instead of sharing it with other processes");
}

std::unique_ptr<orb::TORBLocalSession> ConnectDatabase(const DatabaseOptions& options, bool read_only) {
  auto session = std::make_unique<orb::TORBLocalSession>();
  session->FDatabaseFileName = orb::PathToWide(options.path);
  session->FPassword.Password = orb::Utf8ToAnsi(options.password);
  session->FExclusive = options.exclusive;
  session->FMultiUser = !options.exclusive;
  session->FReadOnly = read_only;
  session->SetConnected(true);
  if (session->FRepairNeeded) {
    if (!read_only) {
      orb::RaiseORB(orb::kErrFileNeedsRepair,
                    "Database file '%s' needs repair (a commit was interrupted or it was written by an older "
                    "version); it is not changed until it is repaired",
                    {options.path});
    }
    std::cerr << "orbdb: warning: database file '" << options.path
              << "' needs repair (a commit was interrupted or it was written by an older version); "
                 "what is read from it may be incomplete or damaged\n";
  }
  return session;
}

TTableCursor::TTableCursor(orb::TORBLocalSession& session, const std::string& table_name) {
  FCursor.FSession = &session;
  FCursor.FTableName = orb::Utf8ToWide(table_name);
  FCursor.OpenTableByFieldDefs(orb::TORBFieldDefs(), orb::TORBIndexDefs(), orb::TORBConstraintDefs());
  FBuffer = FCursor.AllocateRecordBuffer();
  FCursor.FCurrentRecordBuffer = FBuffer;
}

TTableCursor::~TTableCursor() {
  try {
    FCursor.FreeRecordBuffer(FBuffer);
    FCursor.CloseTable();
  } catch (...) {
  }
}

}  // namespace orbdb
