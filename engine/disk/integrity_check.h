#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/disk/encryption.h"
#include "engine/disk/integrity_context.h"
#include "engine/disk/integrity_report.h"

namespace orb {

// One check over a database file. Steps run in order over one context;
// each reports what it finds into the context's report and claims the
// pages it finds owners for. A step runs only when the header check has
// established the layout.
class TORBIntegrityCheckStep {
 public:
  virtual ~TORBIntegrityCheckStep() = default;
  virtual std::string_view Name() const = 0;
  virtual void Run(TORBIntegrityContext& context) = 0;
};

struct TORBIntegrityCheckOptions {
  // Needed for an encrypted database.
  TORBPassword Password;
  // Retries of the database header lock, held for the whole check.
  int32_t LockTries = 4500;
  int32_t LockDelayMs = 20;
};

// The integrity checker: opens a database file for reading only (shared,
// so other processes may keep it open), holds the database header lock so
// that no commit or allocation of another process runs meanwhile, and runs
//   1. the header check (database header, crypto header, lock bytes, file
//      size); the layout it finds lets the other steps read pages,
//   2. the allocation map check (PFS and EAM pages),
//   3. the system files check (system directory, active sessions file,
//      table list and each table's internal files),
//   4. the steps added with AddStep, in order (per-table structures),
//   5. the ownership check (pages in use that nobody owns) and the page
//      header check of every owned page.
// It never writes the file. Writers of other processes wait for the header
// lock while the check runs (their own retries last about 90 seconds). Pages
// that a connected session of another process has allocated but not yet
// committed are in use without an owner: they are reported as leaked, with
// a note when some session is connected.
class TORBIntegrityChecker {
 public:
  TORBIntegrityChecker();
  ~TORBIntegrityChecker();
  TORBIntegrityChecker(const TORBIntegrityChecker&) = delete;
  TORBIntegrityChecker& operator=(const TORBIntegrityChecker&) = delete;

  // Adds a step that runs after the system files check, before the final
  // checks.
  void AddStep(std::unique_ptr<TORBIntegrityCheckStep> step);

  // Checks the file. A file that cannot be opened or is not a database
  // raises the engine error (30801 without the signature, 30802 for a
  // wrong or missing password, 30800 when the header lock stays taken);
  // damage found inside a database is reported.
  TORBIntegrityReport Check(const std::u16string& file_name, const TORBIntegrityCheckOptions& options);

 private:
  std::vector<std::unique_ptr<TORBIntegrityCheckStep>> FSteps;
};

// Checks `file_name` with the standard steps (see CheckDatabaseWithTables
// in integrity_tables.h for the tables' own structures too).
TORBIntegrityReport CheckDatabaseFile(const std::u16string& file_name, const TORBIntegrityCheckOptions& options);

}  // namespace orb
