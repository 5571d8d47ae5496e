#pragma once

// A connected session and an open cursor for the commands that read and
// write tables.

#include <memory>
#include <string>

#include <CLI/CLI.hpp>

#include "engine/cursor/local_cursor.h"
#include "engine/session/local_session.h"

namespace orbdb {

struct DatabaseOptions {
  std::string path;
  std::string password;
  // Opened alone instead of shared with other processes.
  bool exclusive = false;
};

// Adds FILE, --password and --exclusive.
void AddDatabaseOptions(CLI::App* sub, DatabaseOptions& options);

// A session connected to the file, shared with other processes unless
// `exclusive`. A missing file raises the engine's error. A file marked as
// needing repair raises kErrFileNeedsRepair unless `read_only`, which only
// warns on standard error.
std::unique_ptr<orb::TORBLocalSession> ConnectDatabase(const DatabaseOptions& options, bool read_only);

// A cursor on table `table_name` with a record buffer of its own as current
// buffer; the buffer is freed and the table closed when it goes.
class TTableCursor {
 public:
  TTableCursor(orb::TORBLocalSession& session, const std::string& table_name);
  ~TTableCursor();
  TTableCursor(const TTableCursor&) = delete;
  TTableCursor& operator=(const TTableCursor&) = delete;

  orb::TORBLocalCursor& Cursor() { return FCursor; }
  uint8_t* Buffer() { return FBuffer; }

 private:
  orb::TORBLocalCursor FCursor;
  uint8_t* FBuffer = nullptr;
};

}  // namespace orbdb
