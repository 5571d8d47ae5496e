// orbdb dump: a table's rows on standard output in COPY text format (a
// header line naming the fields, then one row a line), in physical order;
// `orbdb load` reads it back. Rows go out as they are read; a table that
// cannot be read to its end exits 1 with the engine's message.

#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "engine/base/error_codes.h"
#include "engine/base/field_types.h"
#include "engine/base/orb_exception.h"
#include "engine/cursor/local_blob_stream.h"
#include "engine/platform/codepage.h"
#include "tools/orbdb/command.h"
#include "tools/orbdb/copy_stream.h"
#include "tools/orbdb/copy_text.h"
#include "tools/orbdb/copy_value.h"
#include "tools/orbdb/progress.h"
#include "tools/orbdb/table_access.h"

namespace orbdb {
namespace {

struct DumpOptions {
  DatabaseOptions database;
  std::string table;
};

std::string ReadBlob(orb::TORBLocalCursor& cursor, int32_t field_no) {
  orb::TORBLocalBLOBStream* stream = cursor.InternalCreateBlobStream(false, false, field_no, orb::bomRead, true);
  if (stream == nullptr) return {};
  std::string bytes;
  try {
    bytes.resize(static_cast<size_t>(stream->GetSize()));
    stream->Read(bytes.data(), static_cast<int64_t>(bytes.size()));
  } catch (...) {
    cursor.InternalCloseBLOB(stream);
    throw;
  }
  cursor.InternalCloseBLOB(stream);
  return bytes;
}

// BYTES and VARBYTES values are held in one byte more than the field's
// size; that byte is left out unless something was stored in it.
std::string_view BytesOf(const orb::TORBVariant& value, const orb::TORBFieldDef& def) {
  std::string_view bytes(static_cast<const char*>(value.Data()), static_cast<size_t>(value.DataSize()));
  if (def.FFieldSize >= 0 && bytes.size() == static_cast<size_t>(def.FFieldSize) + 1 && bytes.back() == '\0') {
    bytes.remove_suffix(1);
  }
  return bytes;
}

// Writes the rows as they are read, so that a failure part way leaves
// every row read before it on standard output; a failure, or fewer rows
// than the table counts, ends with exit status 1.
int RunDump(const DumpOptions& options) {
  std::unique_ptr<orb::TORBLocalSession> session = ConnectDatabase(options.database, true);
  TTableCursor table(*session, options.table);
  orb::TORBLocalCursor& cursor = table.Cursor();
  const int32_t field_count = cursor.FFieldDefs.GetCount();

  TCopyWriter out(1);
  std::string& line = out.Line();
  for (int32_t i = 0; i < field_count; ++i) {
    if (i > 0) line += '\t';
    AppendCopyText(line, orb::AnsiToUtf8(cursor.FFieldDefs.GetDef(i)->GetName()));
  }
  out.EndLine();

  const int64_t expected = cursor.GetRecordCount();
  TProgress progress("dumping", expected);
  int64_t rows = 0;
  try {
    orb::TORBVariant value;
    cursor.InternalFirst();
    while (cursor.GetRecordBuffer(orb::grmNext) == orb::grrOK) {
      const size_t row_start = line.size();
      try {
        for (int32_t i = 0; i < field_count; ++i) {
          const orb::TORBFieldDef& def = *cursor.FFieldDefs.GetDef(i);
          if (i > 0) line += '\t';
          cursor.GetFieldValue(value, i, true);
          if (value.IsNull()) {
            line += "\\N";
          } else if (orb::IsBLOBFieldType(def.FBaseFieldType)) {
            AppendCopyText(line, BlobToCopyText(ReadBlob(cursor, i), def.FBaseFieldType));
          } else if (def.FBaseFieldType == orb::bftBytes || def.FBaseFieldType == orb::bftVarBytes) {
            AppendCopyText(line, FormatCopyBytes(BytesOf(value, def)));
          } else {
            AppendValueCopyText(line, value);
          }
        }
      } catch (...) {
        line.resize(row_start);  // never half a row
        throw;
      }
      out.EndLine();
      progress.Update(++rows);
    }
    if (rows != expected) {
      orb::RaiseORB(orb::kErrDumpIncomplete, "Table '%s' is incomplete: %d of its %d rows could be read",
                    {options.table, rows, expected});
    }
  } catch (...) {
    try {
      out.Flush();
    } catch (...) {
    }
    throw;
  }
  out.Flush();
  return 0;
}

void AddDumpCommand(CLI::App& app) {
  CLI::App* sub = app.add_subcommand("dump", "write a table's rows to standard output in COPY text format");
  auto options = std::make_shared<DumpOptions>();
  AddDatabaseOptions(sub, options->database);
  sub->add_option("TABLE", options->table, "the table")->required();
  OnRun(sub, [options] { return RunDump(*options); });
}

const CommandRegistration kDump{"dump", AddDumpCommand};

}  // namespace
}  // namespace orbdb
