// orbdb dump: a table's rows on standard output in COPY text format (a
// header line naming the fields, then one row a line), in physical order;
// `orbdb load` reads it back.

#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "engine/base/field_types.h"
#include "engine/cursor/local_blob_stream.h"
#include "engine/platform/codepage.h"
#include "tools/orbdb/command.h"
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

int RunDump(const DumpOptions& options) {
  std::unique_ptr<orb::TORBLocalSession> session = ConnectDatabase(options.database, true);
  TTableCursor table(*session, options.table);
  orb::TORBLocalCursor& cursor = table.Cursor();
  const int32_t field_count = cursor.FFieldDefs.GetCount();

  std::vector<CopyField> row;
  for (int32_t i = 0; i < field_count; ++i) row.emplace_back(cursor.FFieldDefs.GetDef(i)->GetName());
  for (CopyField& name : row) name = orb::AnsiToUtf8(*name);
  std::string out = FormatCopyRow(row) + "\n";

  TProgress progress("dumping", cursor.GetRecordCount());
  int64_t rows = 0;
  orb::TORBVariant value;
  cursor.InternalFirst();
  while (cursor.GetRecordBuffer(orb::grmNext) == orb::grrOK) {
    for (int32_t i = 0; i < field_count; ++i) {
      const orb::TORBFieldDef& def = *cursor.FFieldDefs.GetDef(i);
      cursor.GetFieldValue(value, i, true);
      if (value.IsNull()) {
        row[i] = std::nullopt;
      } else if (orb::IsBLOBFieldType(def.FBaseFieldType)) {
        row[i] = BlobToCopyText(ReadBlob(cursor, i), def.FBaseFieldType);
      } else {
        row[i] = ValueToCopyText(value);
      }
    }
    out += FormatCopyRow(row);
    out += '\n';
    if (out.size() >= (1 << 16)) {
      std::cout << out;
      out.clear();
    }
    progress.Update(++rows);
  }
  std::cout << out << std::flush;
  return std::cout ? 0 : 1;
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
