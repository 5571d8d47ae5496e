// Test helper: works on table T of a database file from its own process.
//
//   orb_disk_table_child <path> work <first id> <rows> <shared rows> [<memo size>]
//     multi-user: inserts rows <first id> .. <first id> + rows - 1 (VAL 0),
//     and after each insert adds 1 to VAL of shared row (i mod shared rows)
//     (rows with ID 0 .. shared rows - 1), under the table write lock.
//     With a memo size, each inserted row gets a MEMO of that many bytes,
//     byte i being 'a' + (ID * 7 + i) % 26.
//     Prints "ready" once connected, then "done" or "error <code> <text>".
//   orb_disk_table_child <path> hold
//     multi-user: takes the table write lock (ltRW) on T, prints "ready" and
//     holds it until stdin closes or the process is killed.
//   orb_disk_table_child <path> single
//     single-user: connects, opens T, prints "ready" and holds the
//     connection until stdin closes.
//   orb_disk_table_child <path> single-tx <first id> <rows>
//     single-user: inserts rows <first id> .. <first id> + rows - 1 (VAL 1,
//     a 300-byte MEMO) into T in one transaction, prints "ready", and once
//     stdin closes commits and prints "done".
//   orb_disk_table_child <path> grow <first id> <rows> <memo size>
//     multi-user: inserts rows <first id> .. <first id> + rows - 1 (VAL 0,
//     each with a MEMO as for "work"); prints "done".
//   orb_disk_table_child <path> acked <first id> <rows> shared|exclusive
//     inserts rows <first id> .. <first id> + rows - 1 (VAL = ID, a MEMO as
//     for "work" of 1500 bytes for every third row), each committed on its
//     own, multi-user (shared) or holding the file alone (exclusive);
//     prints "ack <id>" once the row's commit has returned, then "done".
//   orb_disk_table_child <path> shrink <first id> <val>
//     multi-user: sets VAL of every row below <first id> to <val>, deletes
//     every row from <first id> on, cuts the file after its last used page
//     and prints "done".

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>

#include "engine/base/orb_exception.h"
#include "engine/disk/disk_database_data.h"
#include "engine/platform/codepage.h"
#include "tests/engine/disk/disk_table_cursor.h"
#include "tests/support/child_io.h"

namespace {

using orb::test::Say;
using orb::test::WaitForStdinClose;

using orb::disktest::kID;
using orb::disktest::kVal;

std::string MemoOf(int32_t id, int32_t size) {
  std::string memo(static_cast<size_t>(size), '\0');
  for (size_t i = 0; i < memo.size(); ++i) memo[i] = static_cast<char>('a' + (static_cast<size_t>(id) * 7 + i) % 26);
  return memo;
}

int Work(orb::TORBDiskDatabaseData& database, orb::disktest::TLink& link, int32_t first_id, int32_t rows,
         int32_t shared, int32_t memo_size) {
  orb::disktest::TDiskCursor cursor(&database, &link, u"T");
  cursor.Open();
  orb::TORBDiskTableData* table = cursor.FTable;
  // Where the shared rows lie (row ids never move).
  std::map<int32_t, orb::TORBPageItemID> shared_ids;
  cursor.First();
  while (cursor.Next()) {
    const int32_t id = cursor.GetInt(kID).value_or(-1);
    if (id >= 0 && id < shared) shared_ids[id] = cursor.GetCurrentRecordID();
  }
  if (static_cast<int32_t>(shared_ids.size()) != shared) {
    Say("error 0 shared rows missing");
    return 1;
  }
  for (int32_t i = 0; i < rows; ++i) {
    const std::optional<std::string> memo =
        memo_size > 0 ? std::optional<std::string>(MemoOf(first_id + i, memo_size)) : std::nullopt;
    if (!cursor.Insert(first_id + i, 0, memo)) {
      Say("error 0 insert refused");
      return 1;
    }
    // Read, add one and write back under the write lock: no other process
    // changes the row in between.
    const int32_t session = cursor.GetSessionID();
    if (!table->LockTable(session, orb::ltRW, 2250, 40)) {
      Say("error 0 write lock not obtained");
      return 1;
    }
    if (!cursor.MoveTo(shared_ids[i % shared])) {
      Say("error 0 shared row not read");
      return 1;
    }
    cursor.SetInt(kVal, cursor.GetInt(kVal).value_or(0) + 1);
    const bool updated = table->UpdateRecord(&cursor);
    table->UnlockTable(session, orb::ltRW);
    if (!updated) {
      Say("error 0 update refused");
      return 1;
    }
  }
  Say("done");
  return 0;
}

int Grow(orb::TORBDiskDatabaseData& database, orb::disktest::TLink& link, int32_t first_id, int32_t rows,
         int32_t memo_size) {
  orb::disktest::TDiskCursor cursor(&database, &link, u"T");
  cursor.Open();
  for (int32_t i = 0; i < rows; ++i) {
    if (!cursor.Insert(first_id + i, 0, MemoOf(first_id + i, memo_size))) {
      Say("error 0 insert refused");
      return 1;
    }
  }
  Say("done");
  return 0;
}

int Acked(orb::TORBDiskDatabaseData& database, orb::disktest::TLink& link, int32_t first_id, int32_t rows) {
  orb::disktest::TDiskCursor cursor(&database, &link, u"T");
  cursor.Open();
  for (int32_t id = first_id; id < first_id + rows; ++id) {
    const std::optional<std::string> memo =
        id % 3 == 0 ? std::optional<std::string>(MemoOf(id, 1500)) : std::nullopt;
    if (!cursor.Insert(id, id, memo)) {
      Say("error 0 insert refused");
      return 1;
    }
    Say("ack " + std::to_string(id));
  }
  Say("done");
  return 0;
}

int Shrink(orb::TORBDiskDatabaseData& database, orb::disktest::TLink& link, int32_t first_id, int32_t val) {
  orb::disktest::TDiskCursor cursor(&database, &link, u"T");
  cursor.Open();
  std::map<int32_t, orb::TORBPageItemID> ids;
  cursor.First();
  while (cursor.Next()) ids[cursor.GetInt(kID).value_or(-1)] = cursor.GetCurrentRecordID();
  for (const auto& [id, record] : ids) {
    if (!cursor.MoveTo(record)) {
      Say("error 0 row not read");
      return 1;
    }
    bool done = false;
    if (id < first_id) {
      cursor.SetInt(kVal, val);
      done = cursor.FTable->UpdateRecord(&cursor);
    } else {
      done = cursor.FTable->DeleteRecord(&cursor);
    }
    if (!done) {
      Say("error 0 change refused");
      return 1;
    }
  }
  cursor.Close();
  database.TruncateDatabase();
  Say("done");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s path work|hold|single|grow|shrink ...\n", argv[0]);
    return 2;
  }
  const std::string mode = argv[2];
  orb::TORBDiskDatabaseSettings settings;
  orb::TORBDiskDatabaseData database(orb::PathToWide(argv[1]), u"", settings);
  const bool alone = argc > 5 && std::string(argv[5]) == "exclusive";
  orb::disktest::TLink link(mode != "single" && mode != "single-tx" && !(mode == "acked" && alone));
  link.FExclusive = mode == "acked" && alone;
  int rc = 0;
  try {
    database.ConnectSession(&link);
    if (mode == "work") {
      if (argc < 6) return 2;
      Say("ready");
      rc = Work(database, link, std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]),
                argc > 6 ? std::atoi(argv[6]) : 0);
    } else if (mode == "hold") {
      orb::disktest::TDiskCursor cursor(&database, &link, u"T");
      cursor.Open();
      if (!cursor.FTable->LockTable(link.FId, orb::ltRW, 100, 20)) {
        Say("error 0 lock not obtained");
        return 1;
      }
      Say("ready");
      WaitForStdinClose();
      cursor.FTable->UnlockTable(link.FId, orb::ltRW);
    } else if (mode == "acked") {
      if (argc < 6) return 2;
      rc = Acked(database, link, std::atoi(argv[3]), std::atoi(argv[4]));
    } else if (mode == "grow") {
      if (argc < 6) return 2;
      rc = Grow(database, link, std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]));
    } else if (mode == "shrink") {
      if (argc < 5) return 2;
      rc = Shrink(database, link, std::atoi(argv[3]), std::atoi(argv[4]));
    } else if (mode == "single") {
      orb::disktest::TDiskCursor cursor(&database, &link, u"T");
      cursor.Open();
      Say("ready");
      WaitForStdinClose();
    } else if (mode == "single-tx") {
      if (argc < 5) return 2;
      const int32_t first_id = std::atoi(argv[3]);
      const int32_t rows = std::atoi(argv[4]);
      orb::disktest::TDiskCursor cursor(&database, &link, u"T");
      cursor.Open();
      link.FInTransaction = true;
      for (int32_t id = first_id; id < first_id + rows; ++id) {
        if (!cursor.Insert(id, 1, std::string(300, 'm'))) {
          Say("error 0 insert refused");
          return 1;
        }
      }
      Say("ready");
      WaitForStdinClose();
      database.Commit(link.FId, false);
      link.FInTransaction = false;
      Say("done");
    } else {
      return 2;
    }
    database.DisconnectSession(&link);
  } catch (const orb::EORBException& e) {
    Say("error " + std::to_string(e.NativeError()) + " " + e.what());
    return 1;
  }
  return rc;
}
