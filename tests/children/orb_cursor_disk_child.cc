// Test helper: a multi-user session of its own process works on table T
// (ID, VAL) of a database file through a cursor.
//
//   orb_cursor_disk_child <path> update <id> <val>   edit and post VAL
//   orb_cursor_disk_child <path> delete <id>
//   orb_cursor_disk_child <path> delete-range <first id> <count>   in one
//     transaction
//   orb_cursor_disk_child <path> insert <first id> <count>   VAL 0
//     each prints "status <code>" (the first failing one's), then exits.
//   orb_cursor_disk_child <path> hold-record <id>
//     starts an edit of the row, prints "status <code>" and "ready", and
//     holds it until stdin closes (or the process is killed).
//   orb_cursor_disk_child <path> hold-table <id>
//     the same inside a transaction, which holds the table's write-intent
//     lock (ltXIRW) too.
//   orb_cursor_disk_child <path> write-held <id> <val>
//     holds the table's write lock (ltRW) as a post in progress does,
//     prints "ready", and 500 ms later sets VAL of the row (without an
//     edit), then lets the lock go and prints "status <code>".
//   orb_cursor_disk_child <path> hold-write 0
//     holds table N's write lock (ltRW), prints "ready", and keeps it
//     until stdin closes.
//   orb_cursor_disk_child <path> notes 0 <count>
//     posts <count> notes into table N; prints "notes <no> <no> ..." with
//     the numbers the engine gave them (-status for a failed post).
//   orb_cursor_disk_child <path> count <id> <times>
//     prints "ready", then adds 1 to VAL of the row <times> times with
//     edit, a pause of 1 ms and post, starting over while another session
//     has the row or changed it; prints "done" or "status <code>".
//   orb_cursor_disk_child <path> read-only-writes <id>
//     connects single-user (read-only while another process has the file),
//     prints "read-only <0|1>", then tries each change of the table and its
//     definitions, the row operations on row <id>, and prints one line for
//     each: "<operation> status <code>" or "<operation> error <code>".
//
// An engine error prints "error <code> <text>".

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine/base/orb_exception.h"
#include "tests/engine/cursor/disk_cursor_rows.h"
#include "tests/support/child_io.h"

namespace {

using orb::test::Say;
using orb::test::WaitForStdinClose;

using orb::cursortest::TRowCursor;

int32_t Update(TRowCursor& rows, int32_t id, int32_t val) {
  if (!rows.MoveTo(id)) return 1;
  const int32_t status = rows.Edit();
  return status != 0 ? status : rows.Post(val);
}

// Edit and post with retries until the row took one more.
bool Count(TRowCursor& rows, int32_t id, int32_t times) {
  for (int32_t i = 0; i < times; ++i) {
    for (int32_t attempt = 0;; ++attempt) {
      if (attempt == 10000 || !rows.MoveTo(id)) return false;
      const int32_t status = rows.Edit();
      if (status == orb::kStatusRecordLocked || status == orb::kStatusTableLocked ||
          status == orb::kStatusUpdateModified)
        continue;
      if (status != 0) {
        Say("status " + std::to_string(status));
        return false;
      }
      // The user types: the other process tries the row meanwhile.
      usleep(1000);
      const int32_t posted = rows.Post(rows.Val().value_or(0) + 1);
      if (posted == 0) break;
      if (posted != orb::kStatusTableLocked) {
        Say("status " + std::to_string(posted));
        return false;
      }
      rows.Cancel();
    }
  }
  return true;
}

// Runs `fn` and says how it ended: its status, or the code it raised.
template <typename Fn>
void Try(const std::string& name, Fn&& fn) {
  try {
    Say(name + " status " + std::to_string(fn()));
  } catch (const orb::EORBException& e) {
    Say(name + " error " + std::to_string(e.NativeError()));
  }
}

// Every change a read-only session could try on table T.
void TryWrites(orb::TORBLocalSession& session, int32_t id) {
  Say(std::string("read-only ") + (session.FReadOnly ? "1" : "0"));
  {
    TRowCursor rows(session, 5, 10);
    Try("insert", [&] { return rows.Insert(1000, 0); });
    Try("update", [&] { return rows.MoveTo(id) ? rows.PostDirect(999) : 1; });
    Try("delete", [&] { return rows.MoveTo(id) ? rows.Delete() : 1; });
    orb::TORBLocalCursor& cursor = rows.Cursor();
    Try("rename-field", [&] {
      cursor.RenameField(u"VAL", u"VAL2");
      return 0;
    });
    Try("add-index", [&] {
      orb::TORBIndexDef def;
      def.SetName(std::string_view("BY_VAL"));
      def.SetColumnCount(1);
      def.GetIndexColumn(0)->SetFieldName(u"VAL");
      cursor.AddIndex(def);
      return 0;
    });
    Try("delete-index", [&] {
      cursor.DeleteIndex(u"BY_ID");
      return 0;
    });
    Try("delete-all-indexes", [&] {
      cursor.DeleteAllIndexes();
      return 0;
    });
  }
  orb::TORBLocalCursor table;
  table.FSession = &session;
  table.FTableName = orb::cursortest::kRowTable;
  Try("empty-table", [&] {
    table.EmptyTable();
    return 0;
  });
  Try("rename-table", [&] {
    table.RenameTable(u"T2");
    return 0;
  });
  Try("delete-table", [&] {
    table.DeleteTable();
    return 0;
  });
  Try("create-table", [&] {
    orb::TORBLocalCursor other;
    other.FSession = &session;
    other.FTableName = u"U";
    orb::TORBFieldDefs fields;
    orb::TORBFieldDef* f = fields.AddCreated();
    f->SetName(std::u16string_view(u"A"));
    f->SetFieldDefDataType(orb::aftInteger, 0);
    other.CreateTable(fields, orb::TORBIndexDefs(), orb::TORBConstraintDefs());
    return 0;
  });
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s path mode id ...\n", argv[0]);
    return 2;
  }
  const std::string mode = argv[2];
  const int32_t id = std::atoi(argv[3]);
  const int32_t arg = argc > 4 ? std::atoi(argv[4]) : 0;
  auto session = orb::cursortest::MakeFileSession(argv[1], mode != "read-only-writes");
  try {
    session->SetConnected(true);
    if (mode == "read-only-writes") {
      TryWrites(*session, id);
      session->SetConnected(false);
      return 0;
    }
    {
      TRowCursor rows(*session, 200, 5);
      if (mode == "update") {
        Say("status " + std::to_string(Update(rows, id, arg)));
      } else if (mode == "delete") {
        Say("status " + std::to_string(rows.MoveTo(id) ? rows.Delete() : 1));
      } else if (mode == "delete-range") {
        session->StartTransaction();
        int32_t status = 0;
        for (int32_t i = 0; i < arg && status == 0; ++i) status = rows.MoveTo(id + i) ? rows.Delete() : 1;
        if (status == 0) {
          session->Commit(false);
        } else {
          session->Rollback();
        }
        Say("status " + std::to_string(status));
      } else if (mode == "insert") {
        int32_t status = 0;
        for (int32_t i = 0; i < arg && status == 0; ++i) status = rows.Insert(id + i, 0);
        Say("status " + std::to_string(status));
      } else if (mode == "hold-record" || mode == "hold-table") {
        if (mode == "hold-table") session->StartTransaction();
        Say("status " + std::to_string(rows.MoveTo(id) ? rows.Edit() : 1));
        Say("ready");
        WaitForStdinClose();
        rows.Cancel();
        if (mode == "hold-table") session->Rollback();
      } else if (mode == "rows") {
        // Every row as ID:VAL in stored order.
        std::string line = "rows";
        for (const auto& [row_id, val] : rows.Rows()) line += " " + std::to_string(row_id) + ":" + std::to_string(val);
        Say(line);
      } else if (mode == "write-held") {
        if (!rows.MoveTo(id)) return 1;
        if (!rows.Cursor().LockTable(orb::ltRW, 1, 0, true)) return 1;
        Say("ready");
        usleep(500 * 1000);
        const int32_t status = rows.PostDirect(arg);
        rows.Cursor().UnlockTable(orb::ltRW, false);
        Say("status " + std::to_string(status));
      } else if (mode == "hold-write") {
        orb::cursortest::TNoteCursor notes(*session);
        if (!notes.Cursor().LockTable(orb::ltRW, 1, 0, true)) return 1;
        Say("ready");
        WaitForStdinClose();
        notes.Cursor().UnlockTable(orb::ltRW, false);
      } else if (mode == "notes") {
        orb::cursortest::TNoteCursor notes(*session);
        std::string line = "notes";
        for (int32_t i = 0; i < arg; ++i) line += " " + std::to_string(notes.Insert("note"));
        Say(line);
      } else if (mode == "count") {
        Say("ready");
        if (!Count(rows, id, arg)) return 1;
        Say("done");
      } else {
        return 2;
      }
    }
    session->SetConnected(false);
  } catch (const orb::EORBException& e) {
    Say("error " + std::to_string(e.NativeError()) + " " + e.what());
    return 1;
  }
  return 0;
}
