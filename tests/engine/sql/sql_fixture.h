#pragma once

// SQL statements run by a processor on a fresh database file of their own.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/cursor/local_cursor.h"
#include "engine/platform/codepage.h"
#include "engine/session/local_session.h"
#include "engine/sql/sql_processor.h"
#include "tests/support/disk_scratch.h"
#include "tests/support/raised.h"

namespace orb::test {

// Field `field_no` of every row, as text ("<null>" for null), in physical
// order.
inline std::vector<std::string> ColumnValues(TORBLocalCursor& cursor, int32_t field_no) {
  uint8_t* buffer = cursor.AllocateRecordBuffer();
  cursor.FCurrentRecordBuffer = buffer;
  std::vector<std::string> values;
  cursor.InternalFirst();
  while (cursor.GetRecordBuffer(grmNext) == grrOK) {
    TORBVariant v;
    cursor.GetFieldValue(v, field_no, false);
    values.push_back(v.IsNull() ? "<null>" : v.AsAnsiString());
  }
  cursor.FreeRecordBuffer(buffer);
  cursor.FCurrentRecordBuffer = nullptr;
  return values;
}

class SqlTest : public ::testing::Test {
 protected:
  SqlTest() {
    FSession = OpenSession(true);
    FProcessor = std::make_unique<TORBSQLProcessor>(*FSession);
  }
  ~SqlTest() override {
    FProcessor.reset();
    if (FSession) FSession->SetConnected(false);
  }

  std::unique_ptr<TORBLocalSession> OpenSession(bool create) {
    auto session = std::make_unique<TORBLocalSession>();
    session->FDatabaseFileName = FScratch.WFile("sql.orb");
    if (create) session->CreateDatabase();
    session->SetConnected(true);
    return session;
  }

  int64_t Run(const std::string& sql) { return FProcessor->ExecuteScript(sql); }
  int32_t CodeOf(const std::string& sql) {
    return RaisedCode([&] { Run(sql); });
  }

  // A cursor on `table` of `session` (the test's own by default), open.
  std::unique_ptr<TORBLocalCursor> OpenTable(const std::u16string& table, TORBBaseSession* session = nullptr) {
    auto cursor = std::make_unique<TORBLocalCursor>();
    cursor->FSession = session != nullptr ? session : FSession.get();
    cursor->FTableName = table;
    cursor->OpenTableByFieldDefs(TORBFieldDefs(), TORBIndexDefs(), TORBConstraintDefs());
    return cursor;
  }

  orb::testing::DiskScratch FScratch;
  std::unique_ptr<TORBLocalSession> FSession;
  std::unique_ptr<TORBSQLProcessor> FProcessor;
};

}  // namespace orb::test
